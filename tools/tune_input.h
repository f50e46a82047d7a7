// SPDX-License-Identifier: GPL-2.0-or-later
// The music input shared by tonewell-convert and tonewell-render: a file read whole, its
// format found from its content, converted to the 50 Hz dump text, with the messages for
// standard error.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "formats/tune.h"

// Parses "--clock HZ" (1..4294967295), "--song N" (1..65535), "--no-rescale" and "--layout NAME"
// at argv[*i]; true when it was one of them (*i then at its last word). A bad or missing value
// sets *bad to the usage message.
bool ParseTuneOption(int argc, char** argv, int* i, ConvertOptions* options, std::string* bad);
// The --help lines of the tune options, the same in every tool (a literal, to be joined to a
// tool's own lines).
#define TUNE_OPTION_HELP                                                                         \
  "  --song N            the song of a file that holds several (AY; default: the file's first)\n" \
  "  --clock HZ          the file's chip clock (default: the file's own; PSG, modules 1773400)\n" \
  "  --no-rescale        keep the file's tone, noise and envelope periods as they are\n"         \
  "  --layout NAME       voices heard left, centre, right: abc, acb (default), bac, bca,\n"      \
  "                      cab or cba. The player puts chip voice A left, C centre, B right:\n"   \
  "                      acb changes nothing; any other layout moves the voices in the dump\n"

// Reads path (a regular file of at most MAX_INPUT_BYTES). 0 ok; -1 with why.
int32_t ReadInputBytes(const char* path, std::vector<uint8_t>* bytes, std::string* why);
// Converts bytes to dump text and prints, prefixed by program and path: the summary line, the
// dropped digidrums / effects line and the cut line where they apply. -1 (nothing printed
// but why) when the bytes are no readable tune, TUNE_NO_SUCH_SONG when options.Song is not
// one of the file's songs (a usage error). names, when given, gets the tune's title and author
// (empty where the file has none).
int32_t ConvertTuneBytes(const char* program, const char* path, const std::vector<uint8_t>& bytes,
                         const ConvertOptions& options, std::string* text, std::string* why,
                         std::string (*names)[2] = nullptr);
// The --list text: the author and misc text, then each song's number, name and length. -1 or
// TUNE_NO_SUCH_SONG with why as ConvertTuneBytes.
int32_t ListTuneSongs(const std::vector<uint8_t>& bytes, std::string* text, std::string* why);
// True when bytes may be dump text: empty, or at least half of the first 4096 bytes are hex
// digits, blanks, tabs or line ends (the dump loader takes any text, but a binary file such as
// an unknown or damaged module, an image or random bytes has far fewer of them).
bool PlausibleDumpText(const std::vector<uint8_t>& bytes);
// The formats the readers know, for messages: "PSG, YM, AY, VTX, LHA, PT3, PT2, ...".
extern const char* const KNOWN_FORMATS;
// Writes text to path through path.partial in the same folder, renamed when complete (an
// existing file is replaced); "-" writes standard output. 0 ok; -1 with why, no file left.
int32_t WriteOutputText(const std::string& path, const std::string& text, std::string* why);
