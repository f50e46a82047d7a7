// SPDX-License-Identifier: GPL-2.0-or-later
// Feeds arbitrary bytes through the line reader and the dump loader. Besides the sanitizers'
// checks it asserts that every buffer size reads the same lines, that the loader counts exactly
// the non-blank lines up to the table's capacity, and that nothing is written past the table.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "dump/dump_loader.h"
#include "dump/text.h"
#include "dump/text_file.h"
#include "platform/heap.h"

namespace {

std::string TempPath() {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/tonewell-fuzz-" + std::to_string(::getpid()) + ".txt";
}

std::vector<std::string> ReadAll(const char* path, int32_t bufferSize) {
  std::vector<std::string> lines;
  TextFile* file = OpenTextFileBuffered(path, bufferSize);
  if (!file) std::abort();
  while (!AtEndOfFile(file)) lines.push_back(ReadLine(file));
  CloseTextFile(file);
  return lines;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = TempPath();
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }

  ClearAppContext();
  App.Heaps.Heap = CreatePrivateHeap(4096);
  const std::vector<std::string> lines = ReadAll(path.c_str(), TEXT_FILE_BUFFER_SIZE);
  Check(ReadAll(path.c_str(), 3) == lines);
  Check(ReadAll(path.c_str(), 0) == lines);

  ConfigureDump();
  Check(LoadDumpFile(path.c_str()) == 0);
  int32_t nonBlank = 0;
  for (const std::string& line : lines) nonBlank += !TrimSpaces(line).empty();
  Check(App.Dump.FrameCount == (nonBlank < MaxDumpFrames ? nonBlank : MaxDumpFrames));
  for (int32_t f = 0; f < MaxDumpFrames; f += 97) Check(App.Dump.RegisterDump[DumpIndex(10, f)] == 0);
  for (int32_t f = App.Dump.FrameCount; f < MaxDumpFrames && f < App.Dump.FrameCount + 64; ++f)
    for (int32_t r = 0; r < 10; ++r) Check(App.Dump.RegisterDump[DumpIndex(r, f)] == 0);
  DestroyPrivateHeap(App.Heaps.Heap);
  App.Heaps.Heap = nullptr;
  return 0;
}
