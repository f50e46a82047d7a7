// SPDX-License-Identifier: GPL-2.0-or-later
// PSG: a ZX Spectrum / MSX emulator's register log. "PSG" 1A, version, rate, 10 spare bytes,
// then a byte stream: FF opens a frame, FE n opens 4 x n frames, FD ends, "r v" writes v to
// register r. Only changed registers are logged, so the register state carries over.
#include <cstring>

#include "formats/tune.h"

namespace {

constexpr size_t HEADER_SIZE = 16;
constexpr size_t SHORT_HEADER_SIZE = 4;  // "PSG" 1A and the stream right after
constexpr uint8_t FRAME = 0xFF, RUN = 0xFE, END = 0xFD;

bool DetectPsg(const uint8_t* bytes, size_t size) {
  return size >= 4 && std::memcmp(bytes, "PSG\x1A", 4) == 0;
}

struct PsgState {
  SourceTune* Tune;
  int64_t Limit;
  uint8_t Registers[SOUND_REGISTERS];
  bool ShapeWritten;
  bool Started;  // an FF or FE has opened frame 0
};

// Closes the current frame (frame FrameCount) and opens the next.
void EndFrame(PsgState* s) {
  SourceTune* t = s->Tune;
  if (t->FrameCount < s->Limit) {
    t->Registers.insert(t->Registers.end(), s->Registers, s->Registers + SOUND_REGISTERS);
    t->ShapeWritten.push_back(s->ShapeWritten ? 1 : 0);
  }
  ++t->FrameCount;
  s->ShapeWritten = false;
}

void OpenFrames(PsgState* s, int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    if (s->Started)
      EndFrame(s);
    else
      s->Started = true;  // writes before the first FF belong to frame 0
    // Past the stored limit only the count moves: a run of empty frames adds them at once.
    if (s->Tune->FrameCount >= s->Limit) {
      s->Tune->FrameCount += count - 1 - i;
      s->ShapeWritten = false;
      return;
    }
  }
}

int32_t ReadPsg(const uint8_t* bytes, size_t size, SourceTune* tune, std::string* why) {
  size_t at;
  if (size > SHORT_HEADER_SIZE && bytes[4] == FRAME) {
    at = SHORT_HEADER_SIZE;
  } else if (size >= HEADER_SIZE) {
    at = HEADER_SIZE;
    if (bytes[4] >= 10 && bytes[5] != 0) tune->Rate = bytes[5];
  } else {
    *why = "truncated PSG header (" + std::to_string(size) + " of 16 bytes)";
    return -1;
  }
  tune->Format = "PSG";
  tune->Clock = ZX_SPECTRUM_CLOCK_HZ;
  PsgState s{tune, StoredFrameLimit(tune->Rate), {}, false, false};
  while (at < size) {
    const uint8_t code = bytes[at++];
    if (code == END) break;
    if (code == FRAME) {
      OpenFrames(&s, 1);
      continue;
    }
    if (at >= size) break;  // a lone last byte
    const uint8_t value = bytes[at++];
    if (code == RUN) {
      OpenFrames(&s, 4 * static_cast<int64_t>(value));
    } else if (code < SOUND_REGISTERS) {
      s.Registers[code] = value;
      if (code == 13) s.ShapeWritten = true;
    }
    // 14, 15 (I/O ports) and 16..252 (other devices): skipped with their value.
  }
  if (s.Started) EndFrame(&s);
  if (tune->FrameCount == 0) {
    *why = "PSG stream holds no frame";
    return -1;
  }
  return 0;
}

}  // namespace

const TuneReader PsgReader = {.Name = "PSG", .Detect = DetectPsg, .Read = ReadPsg};
