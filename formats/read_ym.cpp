// SPDX-License-Identifier: GPL-2.0-or-later
// YM (StSound): YM2! and YM3! (14 interleaved register planes), YM3b (and a loop frame),
// YM4! (header, digidrums, strings), YM5! and YM6! (34-byte big-endian header with clock and
// rate). R13 of 0xFF in the data means no envelope shape write. The effect codes in the free
// bits of r1/r3 are read only to find digidrum starts; the sample data is skipped.
#include <cstring>

#include "formats/bytes.h"
#include "formats/tune.h"

namespace {

enum YmKind { YM2, YM3, YM3B, YM4, YM5, YM6, YM_SAMPLES };

struct YmMagic {
  const char Text[5];
  YmKind Kind;
};
constexpr YmMagic MAGICS[] = {{"YM2!", YM2}, {"YM3!", YM3}, {"YM3b", YM3B}, {"YM4!", YM4}, {"YM5!", YM5},
                              {"YM6!", YM6}, {"MIX1", YM_SAMPLES}, {"YMT1", YM_SAMPLES}, {"YMT2", YM_SAMPLES}};

bool FindMagic(const uint8_t* bytes, size_t size, YmKind* kind) {
  if (size < 4) return false;
  for (const YmMagic& m : MAGICS)
    if (std::memcmp(bytes, m.Text, 4) == 0) {
      *kind = m.Kind;
      return true;
    }
  return false;
}

bool DetectYm(const uint8_t* bytes, size_t size) {
  YmKind kind;
  return FindMagic(bytes, size, &kind);
}

// Frame f of the data block: planes of frames registers (interleaved) or frame records.
struct YmData {
  const uint8_t* Bytes;
  int64_t Frames;
  int32_t PerFrame;  // 14 or 16 registers
  bool Interleaved;
  uint8_t At(int64_t frame, int32_t reg) const {
    return Interleaved ? Bytes[reg * Frames + frame] : Bytes[frame * PerFrame + reg];
  }
};

// The voice 1..3 (volume register R8 + voice - 1) in an effect code's low two bits, 0 for none.
int32_t EffectVoice(uint8_t code) { return code & 3; }

void StoreFrames(const YmData& data, YmKind kind, SourceTune* tune) {
  const int64_t stored = data.Frames < StoredFrameLimit(tune->Rate) ? data.Frames : StoredFrameLimit(tune->Rate);
  tune->FrameCount = data.Frames;
  tune->Registers.resize(static_cast<size_t>(stored) * SOUND_REGISTERS);
  tune->ShapeWritten.resize(static_cast<size_t>(stored));
  uint8_t envelopeLow = 0, envelopeHigh = 0;  // YM2!: R11/R12 as last written
  for (int64_t f = 0; f < stored; ++f) {
    uint8_t* r = &tune->Registers[static_cast<size_t>(f) * SOUND_REGISTERS];
    for (int32_t i = 0; i < SOUND_REGISTERS; ++i) r[i] = data.At(f, i);
    bool shape = r[R13] != 0xFF;
    if (kind == YM2) {
      // Mad Max's player: a shape write sets R11 and R12 = 0 and shape 10; otherwise neither
      // period register is written. r10 bit 7 starts a built-in drum on voice C.
      if (shape) {
        envelopeLow = r[R11];
        envelopeHigh = 0;
        r[R13] = 10;
      }
      r[R11] = envelopeLow;
      r[R12] = envelopeHigh;
      if (r[R10] & 0x80) {
        r[R10] = 0;
        tune->DroppedDigidrums = true;
      }
    } else if (kind == YM4 || kind == YM5) {
      // r1 b4-5: SID voice; r3 b4-5: voice whose volume holds a digidrum number.
      if (EffectVoice(r[R1] >> 4)) tune->DroppedEffects = true;
      if (int32_t v = EffectVoice(r[R3] >> 4)) {
        r[R8 + v - 1] = 0;
        tune->DroppedDigidrums = true;
      }
    } else if (kind == YM6) {
      // Two effect slots, code in r1 b4-7 and r3 b4-7: b4-5 voice, b6-7 kind (1 = digidrum).
      for (uint8_t code : {static_cast<uint8_t>(r[R1] >> 4), static_cast<uint8_t>(r[R3] >> 4)}) {
        const int32_t v = EffectVoice(code);
        if (!v) continue;
        if ((code >> 2) == 1) {
          r[R8 + v - 1] = 0;
          tune->DroppedDigidrums = true;
        } else {
          tune->DroppedEffects = true;
        }
      }
    }
    tune->ShapeWritten[static_cast<size_t>(f)] = shape ? 1 : 0;
  }
}

int32_t ReadOldYm(const uint8_t* bytes, size_t size, YmKind kind, SourceTune* tune, std::string* why) {
  tune->Clock = ATARI_ST_CLOCK_HZ;
  const int64_t frames = static_cast<int64_t>(size - 4) / SOUND_REGISTERS;
  if (kind == YM3B) {
    if (size < 8) {
      *why = "truncated YM3b file (no loop frame)";
      return -1;
    }
    tune->LoopFrame = Le32(bytes + size - 4);
  }
  if (frames == 0) {
    *why = "YM file holds no frame";
    return -1;
  }
  StoreFrames(YmData{bytes + 4, frames, SOUND_REGISTERS, true}, kind, tune);
  return 0;
}

// YM4! (low-confidence layout, offsets as documented) and YM5!/YM6!.
int32_t ReadNewYm(const uint8_t* bytes, size_t size, YmKind kind, SourceTune* tune, std::string* why) {
  const size_t headerSize = kind == YM4 ? 28 : 34;
  if (size < headerSize) {
    *why = "truncated " + tune->Format + " header (" + std::to_string(size) + " of " + std::to_string(headerSize) +
           " bytes)";
    return -1;
  }
  if (std::memcmp(bytes + 4, "LeOnArD!", 8) != 0) {
    *why = "bad " + tune->Format + " header: no \"LeOnArD!\" at byte 4";
    return -1;
  }
  const int64_t frames = Be32(bytes + 12);
  const uint32_t attributes = Be32(bytes + 16);
  uint32_t drums;
  size_t at;
  if (kind == YM4) {
    drums = Be32(bytes + 20);
    tune->LoopFrame = Be32(bytes + 24);
    tune->Clock = ATARI_ST_CLOCK_HZ;
    at = 28;
  } else {
    drums = Be16(bytes + 20);
    tune->Clock = Be32(bytes + 22);
    tune->Rate = static_cast<int32_t>(Be16(bytes + 26));
    tune->LoopFrame = Be32(bytes + 28);
    const uint32_t extra = Be16(bytes + 32);
    at = 34;
    if (extra > size - at) {
      *why = "header points past the end: " + std::to_string(extra) + " bytes of additional data";
      return -1;
    }
    at += extra;
  }
  if (tune->Rate == 0) {
    *why = "bad " + tune->Format + " header: frame rate 0 Hz";
    return -1;
  }
  for (uint32_t d = 0; d < drums; ++d) {
    if (size - at < 4) {
      *why = "header points past the end: digidrum " + std::to_string(d + 1) + " of " + std::to_string(drums);
      return -1;
    }
    const uint32_t length = Be32(bytes + at);
    at += 4;
    if (length > size - at) {
      *why = "header points past the end: digidrum " + std::to_string(d + 1) + " of " + std::to_string(length) +
             " bytes";
      return -1;
    }
    at += length;
  }
  if (drums > 0) tune->DroppedDigidrums = true;
  if (!ReadCString(bytes, size, &at, &tune->Title) || !ReadCString(bytes, size, &at, &tune->Author) ||
      !ReadCString(bytes, size, &at, &tune->Comment)) {
    *why = "truncated " + tune->Format + " file: the name, author and comment run past the end";
    return -1;
  }
  if (frames == 0) {
    *why = tune->Format + " file holds no frame";
    return -1;
  }
  // Checked against the data before anything is allocated for it.
  if (frames > static_cast<int64_t>(size - at) / 16) {
    *why = "frame count " + std::to_string(frames) + " is larger than the data (" + std::to_string(size - at) +
           " bytes, 16 per frame)";
    return -1;
  }
  // The "End!" trailer is not required: files without it exist.
  StoreFrames(YmData{bytes + at, frames, 16, (attributes & 1) != 0}, kind, tune);
  return 0;
}

int32_t ReadYm(const uint8_t* bytes, size_t size, SourceTune* tune, std::string* why) {
  YmKind kind;
  if (!FindMagic(bytes, size, &kind)) {
    *why = "not a YM file";
    return -1;
  }
  tune->Format.assign(reinterpret_cast<const char*>(bytes), 4);
  if (kind == YM_SAMPLES) {
    *why = "a sample-based " + tune->Format + " file, not a register dump: not supported";
    return -1;
  }
  if (kind == YM2 || kind == YM3 || kind == YM3B) return ReadOldYm(bytes, size, kind, tune, why);
  return ReadNewYm(bytes, size, kind, tune, why);
}

}  // namespace

const TuneReader YmReader = {.Name = "YM", .Detect = DetectYm, .Read = ReadYm};
