// SPDX-License-Identifier: GPL-2.0-or-later
#include "dump/dump_loader.h"

#include <atomic>
#include <string>

#include "dump/text.h"
#include "dump/text_file.h"
#include "platform/heap.h"
#include "platform/thread.h"

int32_t ConfigureDump() {
  Dump().DumpFileName = "music\\dump.txt";
  Dump().FrameIndex.store(0, std::memory_order_relaxed);
  Dump().FrameCount = 0;
  Dump().RegisterDump = static_cast<int32_t*>(
      HeapAllocZeroed(Heaps().Heap, sizeof(int32_t) * static_cast<size_t>(DumpRowCount) * MaxDumpFrames));
  return 0;
}

namespace {

std::atomic<DumpStopCheck> StopCheck{nullptr};

bool StopAsked() {
  DumpStopCheck check = StopCheck.load();
  return check && check() != 0;
}

int32_t HexDigit(int32_t code) {
  int32_t digit = code - 48;
  return digit > 9 ? digit - 7 : digit;
}

}  // namespace

// Only the first and last characters count, so only they are upper-cased.
int32_t HexByte(std::string_view field) {
  const int32_t first = UpperCode(CharCode(field));
  const int32_t last = UpperCode(CharCode(field.empty() ? field : field.substr(field.size() - 1)));
  return HexDigit(first) * 16 + HexDigit(last);
}

int32_t HexPair(std::string_view low, std::string_view high) {
  if (TextLength(high) >= 1) return HexByte(high) * 256 + HexByte(low);
  return HexByte(low);
}

namespace {

// Reads every line of file into RegisterDump, up to MaxDumpFrames frames, and closes it.
void LoadDumpLines(TextFile* file) {
  int32_t* dump = Dump().RegisterDump;
  while (Dump().FrameCount < MaxDumpFrames && !StopAsked() && !AtEndOfFile(file)) {
    const std::string line = TrimSpaces(ReadLine(file));
    if (line.empty()) continue;
    const int32_t f = Dump().FrameCount;
    std::string_view field[SOUND_REGISTERS];  // R0..R13
    SplitFields(line, ' ', field, SOUND_REGISTERS);
    dump[DumpIndex(GROUP_TONE_A, f)] = HexPair(field[R0], field[R1]);
    dump[DumpIndex(GROUP_TONE_B, f)] = HexPair(field[R2], field[R3]);
    dump[DumpIndex(GROUP_TONE_C, f)] = HexPair(field[R4], field[R5]);
    dump[DumpIndex(GROUP_NOISE, f)] = HexByte(field[R6]);
    dump[DumpIndex(GROUP_MIXER, f)] = HexByte(field[R7]);
    dump[DumpIndex(GROUP_VOLUME_A, f)] = HexByte(field[R8]);
    dump[DumpIndex(GROUP_VOLUME_B, f)] = HexByte(field[R9]);
    dump[DumpIndex(GROUP_VOLUME_C, f)] = HexByte(field[R10]);
    dump[DumpIndex(GROUP_ENVELOPE, f)] = HexPair(field[R11], field[R12]);
    dump[DumpIndex(GROUP_SHAPE, f)] = HexByte(field[R13]);
    Dump().FrameCount = f + 1;
  }
  CloseTextFile(file);
}

}  // namespace

int32_t LoadDumpFile(const char* path) {
  TextFile* file = OpenTextFile(path);
  if (!file) return -1;
  SetTextFileLimit(file, MAX_DUMP_BYTES);
  LoadDumpLines(file);
  return 0;
}

int32_t LoadDumpText(const char* bytes, int32_t size) {
  TextFile* file = OpenTextMemory(bytes, size);
  if (!file) return -1;
  LoadDumpLines(file);
  return 0;
}

void SetDumpStopCheck(DumpStopCheck check) { StopCheck.store(check); }

int32_t DumpLoader() {
  SleepMs(LoadDelayMs);
  if (!StopAsked()) LoadDumpFile(Dump().DumpFileName);
  return 0;
}
