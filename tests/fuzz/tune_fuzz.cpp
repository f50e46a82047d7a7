// SPDX-License-Identifier: GPL-2.0-or-later
// Feeds arbitrary bytes to one music reader (FUZZ_READER, set by the build) and converts what
// it reads. Besides the sanitizers' checks it asserts the reader's record is consistent (one
// shape flag per stored frame, never more stored frames than the music has or than the dump
// needs) and that the dump has at most MaxDumpFrames lines of valid shapes in 43 bytes each.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formats/tune.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SourceTune tune;
  std::string why;
  FUZZ_READER.Detect(data, size);
  if (FUZZ_READER.Read(data, size, &tune, &why) != 0) {
    Check(!why.empty());
    return 0;
  }
  const size_t stored = tune.ShapeWritten.size();
  Check(tune.Registers.size() == stored * 14);
  Check(tune.Rate >= 1 && tune.FrameCount >= 1);
  Check(static_cast<int64_t>(stored) == (tune.FrameCount < StoredFrameLimit(tune.Rate) ? tune.FrameCount
                                                                                        : StoredFrameLimit(tune.Rate)));
  // One conversion per input (a long tune costs milliseconds): the file's clock, a clock of
  // 1 Hz that drives every period into its clamp, or the periods kept, by the last byte.
  const ConvertOptions choices[3] = {ConvertOptions{}, ConvertOptions{1, false}, ConvertOptions{0, true}};
  const ConvertOptions& options = choices[data[size - 1] % 3];
  {
    DumpFrames dump;
    if (ConvertTune(tune, options, &dump, &why) != 0) {
      Check(tune.Clock == 0 && options.Clock == 0);
      return 0;
    }
    Check(dump.Count >= 1 && dump.Count <= MaxDumpFrames && dump.Count <= dump.FullCount);
    Check(dump.Registers.size() == static_cast<size_t>(dump.Count) * 14);
    for (int64_t k = 0; k < dump.Count; ++k) {
      const uint8_t shape = dump.Registers[static_cast<size_t>(k) * 14 + 13];
      Check(shape <= 15 || shape == 0xFF);
    }
    Check(DumpText(dump).size() == static_cast<size_t>(dump.Count) * 43);
  }
  return 0;
}
