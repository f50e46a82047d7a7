// The music input shared by tonewell-convert and tonewell-render: a file read whole, its
// format found from its content, converted to the 50 Hz dump text, with the messages for
// standard error.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "formats/tune.h"

// Parses "--clock HZ" (1..4294967295), "--song N" (1..65535) and "--no-rescale" at argv[*i];
// true when it was one of them (*i then at its last word). A bad value sets *bad to the usage
// message.
bool ParseTuneOption(int argc, char** argv, int* i, ConvertOptions* options, std::string* bad);

// Reads path (a regular file of at most MAX_INPUT_BYTES). 0 ok; -1 with why.
int32_t ReadInputBytes(const char* path, std::vector<uint8_t>* bytes, std::string* why);
// Converts bytes to dump text and prints, prefixed by program and path: the summary line, the
// dropped digidrums / effects line and the cut line where they apply. -1 (nothing printed
// but why) when the bytes are no readable tune, TUNE_NO_SUCH_SONG when options.Song is not
// one of the file's songs (a usage error).
int32_t ConvertTuneBytes(const char* program, const char* path, const std::vector<uint8_t>& bytes,
                         const ConvertOptions& options, std::string* text, std::string* why);
// The --list text: the author and misc text, then each song's number, name and length. -1 or
// TUNE_NO_SUCH_SONG with why as ConvertTuneBytes.
int32_t ListTuneSongs(const std::vector<uint8_t>& bytes, std::string* text, std::string* why);
// Writes text to path through path.partial in the same folder, renamed when complete (an
// existing file is replaced); "-" writes standard output. 0 ok; -1 with why, no file left.
int32_t WriteOutputText(const std::string& path, const std::string& text, std::string* why);
