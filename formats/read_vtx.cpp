// SPDX-License-Identifier: GPL-2.0-or-later
// VTX (Vortex): a little-endian header, strings, and a bare -lh5- stream (no LHA header) of
// 14 interleaved register planes. New header: "ay"/"ym", year, 5 strings; old header: "AY"/"YM",
// no year, 2 strings.
#include <cstring>

#include "formats/bytes.h"
#include "formats/lh5.h"
#include "formats/tune.h"

namespace {

constexpr uint8_t MAX_STEREO_MODE = 6;  // mono, ABC, ACB, BAC, BCA, CAB, CBA

// 0: not VTX; 1: new header; 2: old header. The stereo byte keeps "YM5!" and the like out.
int32_t VtxHeaderKind(const uint8_t* bytes, size_t size) {
  if (size < 3 || bytes[2] > MAX_STEREO_MODE) return 0;
  if (std::memcmp(bytes, "ay", 2) == 0 || std::memcmp(bytes, "ym", 2) == 0) return 1;
  if (std::memcmp(bytes, "AY", 2) == 0 || std::memcmp(bytes, "YM", 2) == 0) return 2;
  return 0;
}

bool DetectVtx(const uint8_t* bytes, size_t size) { return VtxHeaderKind(bytes, size) != 0; }

int32_t ReadVtx(const uint8_t* bytes, size_t size, SourceTune* tune, std::string* why) {
  const int32_t kind = VtxHeaderKind(bytes, size);
  const size_t fixed = kind == 1 ? 16 : 14;
  if (kind == 0 || size < fixed) {
    *why = "truncated VTX header (" + std::to_string(size) + " of " + std::to_string(fixed) + " bytes)";
    return -1;
  }
  tune->Format = std::string("VTX ") + static_cast<char>(bytes[0]) + static_cast<char>(bytes[1]);
  tune->LoopFrame = Le16(bytes + 3);
  tune->Clock = Le32(bytes + 5);
  tune->Rate = bytes[9];
  const uint32_t unpacked = Le32(bytes + (kind == 1 ? 12 : 10));
  size_t at = fixed;
  std::string program, tracker;
  const bool strings = kind == 1 ? ReadCString(bytes, size, &at, &tune->Title) &&
                                       ReadCString(bytes, size, &at, &tune->Author) &&
                                       ReadCString(bytes, size, &at, &program) &&
                                       ReadCString(bytes, size, &at, &tracker) &&
                                       ReadCString(bytes, size, &at, &tune->Comment)
                                 : ReadCString(bytes, size, &at, &tune->Title) &&
                                       ReadCString(bytes, size, &at, &tune->Author);
  if (!strings) {
    *why = "truncated VTX header: its strings run past the end";
    return -1;
  }
  if (tune->Rate == 0) {
    *why = "bad VTX header: frame rate 0 Hz";
    return -1;
  }
  if (unpacked == 0 || unpacked % SOUND_REGISTERS != 0) {
    *why = "bad VTX header: unpacked size " + std::to_string(unpacked) + " is not a positive multiple of 14";
    return -1;
  }
  std::vector<uint8_t> data;
  uint16_t crc;
  if (UnpackLha("-lh5-", bytes + at, size - at, unpacked, &data, &crc, why) != 0) return -1;
  const int64_t frames = unpacked / SOUND_REGISTERS;
  const int64_t stored = frames < StoredFrameLimit(tune->Rate) ? frames : StoredFrameLimit(tune->Rate);
  tune->FrameCount = frames;
  tune->Registers.resize(static_cast<size_t>(stored) * SOUND_REGISTERS);
  tune->ShapeWritten.resize(static_cast<size_t>(stored));
  for (int64_t f = 0; f < stored; ++f) {
    for (int32_t r = 0; r < SOUND_REGISTERS; ++r) tune->Registers[static_cast<size_t>(f * SOUND_REGISTERS + r)] = data[r * frames + f];
    tune->ShapeWritten[static_cast<size_t>(f)] = data[13 * frames + f] != 0xFF;
  }
  return 0;
}

}  // namespace

const TuneReader VtxReader = {.Name = "VTX", .Detect = DetectVtx, .Read = ReadVtx};
