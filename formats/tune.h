// SPDX-License-Identifier: GPL-2.0-or-later
// Register music as the AY/YM world collects it (PSG logs, YM2!..YM6!, VTX, LHA archives, and
// the ZX Spectrum trackers' modules, played by their players), read from a file's bytes into
// source frames and converted to the player's 50 Hz dump text. The format is recognised from the
// content alone, never from a file name.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "psg/chip_registers.h"

constexpr int32_t DUMP_RATE = 50;          // Hz, one dump line per player tick
// Largest input file and largest unpacked LHA member: a 10-minute YM6 is under 0.5 MiB
// unpacked, so 64 MiB leaves room for any real tune and bounds every allocation.
constexpr int64_t MAX_INPUT_BYTES = 64LL << 20;

// One song of a file that holds several (AY): its name and length in 50 Hz frames (0: unknown).
struct TuneSong {
  std::string Name;
  int64_t Frames = 0;
};

// What a reader gets out of a file: per source frame the fourteen registers R0..R13 as the
// chip is to get them (digidrum volumes already 0, YM2!'s envelope rule applied), not yet cut
// to the chip's widths, and whether the frame writes R13.
struct SourceTune {
  std::string Format;                 // "PSG", "YM6!", "VTX ay", ...; " in LHA -lh5-" appended
  std::string Details;                // more of the summary after the names: "note table 2", ...
  std::vector<std::string> Notices;   // lines said once on standard error ("TurboSound: ...")
  std::vector<uint8_t> Registers;     // 14 bytes per stored frame
  std::vector<uint8_t> ShapeWritten;  // 1 byte per stored frame: 1 when R13 is written
  int64_t FrameCount = 0;             // frames of the music; only the first StoredFrameLimit kept
  int64_t Clock = 0;                  // Hz, the chip clock the periods were written for
  int32_t Rate = DUMP_RATE;           // Hz, source frames per second, >= 1
  std::string Title, Author, Comment;
  int64_t LoopFrame = -1;             // -1: the format has none
  bool DroppedDigidrums = false;      // the file has digidrums (not reproduced)
  bool DroppedEffects = false;        // SID, sinus-SID or sync-buzzer frames (not reproduced)
  // Asked by the caller (ReadTune sets them before Read) and answered by a multi-song reader.
  int32_t Song = 0;                   // in: song 1..n to read, 0 the file's first; out: the song read
  bool ListOnly = false;              // in: names and Songs only, no frames (FrameCount 0)
  std::vector<TuneSong> Songs;        // out: every song of a multi-song file; empty for one song
};

// Read's result for a song number the file does not have (a usage error, not a damaged file).
constexpr int32_t TUNE_NO_SUCH_SONG = -2;

// One format: Detect looks at the magic bytes, or for a tracker module without magic at the
// structure of its header and tables; Read fills tune, or returns -1 with a one-line reason in
// why (TUNE_NO_SUCH_SONG when tune->Song is beyond the file's songs). Neither reads outside
// bytes[0, size).
struct TuneReader {
  const char* Name;
  bool (*Detect)(const uint8_t* bytes, size_t size);
  int32_t (*Read)(const uint8_t* bytes, size_t size, SourceTune* tune, std::string* why);
};

// The reader whose Detect accepts the bytes, null when no format does.
const TuneReader* FindTuneReader(const uint8_t* bytes, size_t size);
// Detects and reads song (1-based; 0 the file's first); -1 with why ("unknown format ...") when
// no reader takes the bytes, TUNE_NO_SUCH_SONG with why naming the range when the file has no
// such song. listOnly: names and song list only (tune->ListOnly).
int32_t ReadTune(const uint8_t* bytes, size_t size, SourceTune* tune, std::string* why, int32_t song = 0,
                 bool listOnly = false);

// Source frames a reader needs to keep at rate Hz: those shown in MaxDumpFrames dump lines.
int64_t StoredFrameLimit(int32_t rate);

// The dump's frames: 14 bytes per line, R0..R12 cut to the chip's widths, R13 a shape 0..15
// or 0xFF for no write.
struct DumpFrames {
  std::vector<uint8_t> Registers;
  int64_t Count = 0;       // lines, at most MaxDumpFrames
  int64_t FullCount = 0;   // lines the whole music gives at 50 Hz (Count < FullCount: cut)
};

// Stereo layouts are named as on the ZX Spectrum: the voices heard left, centre and right.
// The player's mixer puts chip voice A left, B right and C in the centre, so a layout is the
// source voice each chip voice gets: ACB (the player's own) is {0, 1, 2}, ABC is {0, 2, 1}.
struct ConvertOptions {
  int64_t Clock = 0;                 // Hz; 0: the file's clock
  bool NoRescale = false;            // keep the periods as written
  uint8_t Layout[3] = {0, 1, 2};     // source voice 0..2 (A..C) played by chip voice A, B, C
  int32_t Song = 0;                  // 1-based song of a multi-song file; 0: the file's first
};

// Reads a layout name ("abc", "ACB", ... any order of the letters a, b, c in either case) into
// layout[3]; false when name is none of the six.
bool ParseLayout(const char* name, uint8_t layout[3]);
// The layout's name in capitals, e.g. "ABC".
std::string LayoutName(const uint8_t layout[3]);
// Moves the voices of one 14-register frame as layout says: tone periods (R0..R5), volumes
// (R8..R10) and the mixer's tone and noise bits (R7 bits 0..5; bits 6, 7 stay).
void ApplyLayout(uint8_t* registers, const uint8_t layout[3]);

// Cuts to the chip's widths, rescales the periods to PLAYER_CHIP_CLOCK_HZ, resamples to 50 Hz keeping
// every shape write once, cuts at MaxDumpFrames, and moves the voices as options.Layout says. -1 with why when the clock is 0.
int32_t ConvertTune(const SourceTune& tune, const ConvertOptions& options, DumpFrames* dump, std::string* why);
// The dump text: per line 14 fields "%02X" joined by single spaces, CR LF after each.
std::string DumpText(const DumpFrames& dump);
// One line (no newline) for standard error: format, title / author, frames, clock, rate, loop.
std::string TuneSummary(const SourceTune& tune, const ConvertOptions& options);

// The readers, one per format; FindTuneReader tries them in this order.
extern const TuneReader PsgReader;
extern const TuneReader YmReader;
extern const TuneReader AyReader;
extern const TuneReader VtxReader;
extern const TuneReader LhaReader;
extern const TuneReader Pt3Reader;  // Pro Tracker 3 / Vortex Tracker II modules
extern const TuneReader Pt2Reader;  // Pro Tracker 2 modules, recognised by structure
extern const TuneReader AscReader;  // ZX Spectrum tracker modules, by their structure
extern const TuneReader StcReader;
extern const TuneReader StpReader;  // Sound Tracker Pro
extern const TuneReader SqtReader;  // SQ-Tracker
