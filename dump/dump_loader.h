// SPDX-License-Identifier: GPL-2.0-or-later
// The register dump: one text line per 50 Hz frame, fourteen hex fields R0..R13, loaded whole
// at start-up into RegisterDump (row r = register group r, one column per frame).
#pragma once
#include <atomic>
#include <cstdint>
#include <string_view>

#include "psg/chip_registers.h"

constexpr int32_t DumpRowCount = GROUP_COUNT + 1;  // the chip's groups, and one row that is never used
constexpr int32_t LoadDelayMs = 30;       // pause before the load starts
// Bytes read at most. A full table of well-formed lines ("3C 01 ... FF" and CR LF, 44 bytes)
// is 32787 x 44 = 1.4 MiB; 8 MiB leaves more than five times that for blank lines, wider
// spacing and extra fields, and reads from a local disk in well under a second, so a file that
// never ends (a sparse or growing one) still ends the load soon.
constexpr int64_t MAX_DUMP_BYTES = 8 << 20;

// Asked between lines whether the load should end (a close was requested): nonzero ends it,
// and the frames read so far stay loaded. Callable from any thread.
using DumpStopCheck = int32_t (*)();
// Installs the check (null: the load always runs to the end). May be called from any thread;
// a load in progress sees the new check at its next line.
void SetDumpStopCheck(DumpStopCheck check);

// The loaded dump and the play position (a group of the application record).
struct DumpState {
  const char* DumpFileName;
  int32_t* RegisterDump;            // DumpRowCount x MaxDumpFrames
  std::atomic<int32_t> FrameIndex;  // next frame the tick plays, 0..FrameCount-1
  int32_t FrameCount;               // set by the loader, constant once the stream opens
};
DumpState& Dump();

// Start-up: DumpFileName "music\dump.txt", FrameIndex and FrameCount 0, and the zero-filled
// RegisterDump of DumpRowCount x MaxDumpFrames values. Returns 0.
int32_t ConfigureDump();
// Element (row, frame) of the RegisterDump.
inline int32_t DumpIndex(int32_t row, int32_t frame) { return row * MaxDumpFrames + frame; }

// Sleeps LoadDelayMs, then loads DumpFileName. A file that cannot be opened loads nothing.
// Always 0.
int32_t DumpLoader();
// Loads path into RegisterDump and FrameCount without the delay: -1 when the file cannot be
// opened or is no regular file (FrameCount untouched; errno tells why), else 0. Reading ends
// at MaxDumpFrames frames, after MAX_DUMP_BYTES bytes, or when the stop check asks.
int32_t LoadDumpFile(const char* path);
// As LoadDumpFile for dump text held in memory (bytes[0, size)), line by line as from a file.
// -1 when the text cannot be copied for reading, else 0.
int32_t LoadDumpText(const char* bytes, int32_t size);

// Value of one field: digit(first char) * 16 + digit(last char) after upper-casing, where a
// digit is code - 48, less a further 7 above 9. Any text gives some value; empty gives -816.
int32_t HexByte(std::string_view field);
// high * 256 + low when the high field has characters, else HexByte(low).
int32_t HexPair(std::string_view low, std::string_view high);
