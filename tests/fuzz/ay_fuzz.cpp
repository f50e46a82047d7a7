// SPDX-License-Identifier: GPL-2.0-or-later
// Feeds arbitrary bytes to the AY reader and its Z80 machine: the song is picked by the last
// byte (0 the file's first, often beyond the file's songs), and every song's length in a copy of
// the input is cut to at most 64 frames where the records can be found, so that most inputs
// cost milliseconds instead of the 5 s of a 32787-frame song that never halts (records that
// overlap can undo a cut: such an input only runs longer). Besides the
// sanitizers' checks it asserts the record is consistent and the dump well formed.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/tune.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr uint32_t MAX_FUZZ_FRAMES = 64;

int64_t Target(const std::vector<uint8_t>& b, int64_t field) {
  return field + static_cast<int16_t>((b[static_cast<size_t>(field)] << 8) | b[static_cast<size_t>(field) + 1]);
}

void CapLengths(std::vector<uint8_t>* bytes) {
  std::vector<uint8_t>& b = *bytes;
  const int64_t size = static_cast<int64_t>(b.size());
  if (size < 20) return;
  const int64_t table = Target(b, 18);
  for (int64_t song = 0; song <= b[16]; ++song) {
    const int64_t entry = table + 4 * song;
    if (entry < 0 || entry + 4 > size) return;
    const int64_t at = Target(b, entry + 2) + 4;  // the song record's length field
    if (at < 0 || at + 2 > size) continue;
    uint8_t* length = &b[static_cast<size_t>(at)];
    if (length[0] != 0 || length[1] == 0 || length[1] > MAX_FUZZ_FRAMES) {
      length[1] = static_cast<uint8_t>(1 + length[1] % MAX_FUZZ_FRAMES);
      length[0] = 0;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<uint8_t> bytes(data, data + size - 1);
  CapLengths(&bytes);
  const int32_t song = data[size - 1] % 8;
  SourceTune tune;
  tune.Song = song;
  tune.ListOnly = data[size - 1] >= 0xF0;
  std::string why;
  AyReader.Detect(bytes.data(), bytes.size());
  const int32_t result = AyReader.Read(bytes.data(), bytes.size(), &tune, &why);
  if (result != 0) {
    Check(!why.empty() && (result == -1 || result == TUNE_NO_SUCH_SONG));
    return 0;
  }
  Check(tune.Registers.size() == tune.ShapeWritten.size() * 14);
  if (tune.ListOnly) return 0;
  Check(tune.Song >= 1 && static_cast<size_t>(tune.Song) <= tune.Songs.size());
  Check(tune.FrameCount >= 1 && tune.FrameCount <= 65535);
  Check(static_cast<int64_t>(tune.ShapeWritten.size()) == (tune.FrameCount < MaxDumpFrames ? tune.FrameCount : MaxDumpFrames));
  DumpFrames dump;
  Check(ConvertTune(tune, ConvertOptions{}, &dump, &why) == 0);
  for (int64_t k = 0; k < dump.Count; ++k) {
    const uint8_t shape = dump.Registers[static_cast<size_t>(k) * 14 + 13];
    Check(shape <= 15 || shape == 0xFF);
  }
  Check(DumpText(dump).size() == static_cast<size_t>(dump.Count) * 43);
  return 0;
}
