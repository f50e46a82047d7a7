// SPDX-License-Identifier: GPL-2.0-or-later
// The frame routine shared by the Pro Tracker 3 and 2 players. The emulation follows the Z80
// players' arithmetic (byte and word wrap, 8-bit envelope-offset sum, note clamp by byte sum);
// it knowingly differs where they would read outside the module: that stops the pass and the
// module is refused.
#include "formats/pt_player.h"

#include "formats/module.h"

namespace {

// The PT3 player's built-in object, both the empty sample and the empty ornament.
constexpr uint8_t PT3_BUILTIN[57] = {
    0x00, 0x01, 0x00, 0x90, 0x0D, 0xD8, 0x69, 0x70, 0x76, 0x7D, 0x85, 0x8D, 0x95, 0x9D, 0xA8, 0xB1, 0xBB, 0x0C, 0xDA,
    0x62, 0x68, 0x6D, 0x75, 0x7B, 0x83, 0x8A, 0x92, 0x9C, 0xA4, 0xAF, 0xB8, 0x0E, 0x08, 0x6A, 0x72, 0x78, 0x7E, 0x86,
    0x90, 0x96, 0xA0, 0xAA, 0xB4, 0xBE, 0x0F, 0xC0, 0x78, 0x88, 0x80, 0x90, 0x98, 0xA0, 0xB0, 0xA8, 0xE0, 0xB0, 0xE8};
constexpr uint8_t PT2_ORNAMENT[3] = {0x01, 0x00, 0x00};

const char* const ChannelName[3] = {"A", "B", "C"};

void Fail(PtModule* m, const std::string& why) {
  if (m->Failed) return;
  m->Failed = true;
  m->FailFrame = m->Frame;
  m->Why = why + " (frame " + std::to_string(m->Frame) + ")";
}

std::string Hex(uint32_t value) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int32_t shift = 12; shift >= 0; shift -= 4) text += Digits[(value >> shift) & 15];
  return text;
}

uint8_t ObjectByteSlow(PtModule* m, const PtObject& o, uint32_t offset, const char* kind) {
  switch (o.Space) {
    case PT_IN_MODULE:
      if (o.At + offset < m->Size) return m->Bytes[o.At + offset];
      Fail(m, std::string(kind) + " " + std::to_string(o.Number) + " at offset " + Hex(o.At) +
                  " runs past the end of the module (" + std::to_string(m->Size) + " bytes)");
      return 0;
    case PT_PT3_BUILTIN:
      if (offset < sizeof PT3_BUILTIN) return PT3_BUILTIN[offset];
      Fail(m, std::string("a position command moves the built-in empty ") + kind +
                  " past its bytes (the player would read its own variables)");
      return 0;
    case PT_PT2_ZERO:
      return 0;
    case PT_PT2_ORNAMENT:
      if (offset < sizeof PT2_ORNAMENT) return PT2_ORNAMENT[offset];
      Fail(m, "the built-in empty ornament is read past its bytes");
      return 0;
  }
  return 0;
}

inline uint8_t ObjectByte(PtModule* m, const PtObject& o, uint32_t offset, const char* kind) {
  if (o.Space == PT_IN_MODULE && o.At + offset < m->Size) return m->Bytes[o.At + offset];
  return ObjectByteSlow(m, o, offset, kind);
}

// Enters the next position (chip's PosIndex + 1, or the loop entry after the list's end).
// False at chip 1's loop event: the pass has ended.
bool AdvancePosition(PtModule* m, PtChip* chip) {
  chip->NoiseBase = 0;
  ++chip->PosIndex;
  uint8_t v = m->Bytes[m->ListAt + chip->PosIndex];
  if (v == 0xFF) {
    if (!chip->Second) return false;
    chip->PosIndex = m->Loop;
    v = m->Bytes[m->ListAt + chip->PosIndex];
  }
  if (chip->Reversed) v = static_cast<uint8_t>(chip->ReverseBase - v);
  if (chip->PosIndex == m->Loop && chip->LoopFrame < 0) chip->LoopFrame = m->Frame;
  const uint32_t entry = PtPatternEntry(*m, v);
  chip->Pattern = m->Pt2 ? v : v / 3;
  for (int32_t ch = 0; ch < 3; ++ch)
    chip->Channels[ch].Stream = static_cast<uint16_t>(PtModuleWord(m, entry + 2 * ch, "pattern table") + m->ObjectBase);
  chip->Started = true;
  return true;
}

struct PtOutput {
  uint8_t Amplitude = 0;
  uint8_t ToneOff = 0, NoiseOff = 0;
};

// One channel's frame: ornament, sample line, slide, volume, noise or envelope offset, and
// the on/off timer.
PtOutput Synthesize(PtModule* m, PtChip* chip, PtChannel* c) {
  PtOutput out;
  if (c->Enabled) {
    const bool pt2 = m->Pt2;
    // Ornament: PT3 loop then length, PT2 length then loop.
    const uint8_t oFirst = ObjectByte(m, c->Ornament, 0, "ornament");
    const uint8_t oSecond = ObjectByte(m, c->Ornament, 1, "ornament");
    const uint8_t oLoop = pt2 ? oSecond : oFirst, oLength = pt2 ? oFirst : oSecond;
    const int8_t shift = static_cast<int8_t>(ObjectByte(m, c->Ornament, 2u + c->OrnPos, "ornament"));
    const uint8_t nextOrn = static_cast<uint8_t>(c->OrnPos + 1);
    c->OrnPos = nextOrn < oLength ? nextOrn : oLoop;
    uint8_t n = static_cast<uint8_t>(c->Note + shift);
    if (n >= 128) n = 0;
    else if (n >= PT_NOTES) n = PT_NOTES - 1;

    const uint8_t sFirst = ObjectByte(m, c->Sample, 0, "sample");
    const uint8_t sSecond = ObjectByte(m, c->Sample, 1, "sample");
    const uint8_t sLoop = pt2 ? sSecond : sFirst, sLength = pt2 ? sFirst : sSecond;
    uint8_t b0, b1;
    uint16_t t;
    if (pt2) {
      // The PT2 line c, d, e as the PT3 line the universal player rewrites it into.
      const uint32_t at = 2u + static_cast<uint8_t>(3 * c->SamPos);
      const uint8_t lc = ObjectByte(m, c->Sample, at, "sample");
      const uint8_t ld = ObjectByte(m, c->Sample, at + 1, "sample");
      const uint8_t le = ObjectByte(m, c->Sample, at + 2, "sample");
      const uint16_t offset = static_cast<uint16_t>(ld << 8 | le);
      t = (lc & 4) ? offset : static_cast<uint16_t>(0 - offset);
      b0 = (lc & 1) ? 0 : static_cast<uint8_t>(2 * (lc >> 3));
      b1 = static_cast<uint8_t>(128 * (lc & 1) + 16 * ((lc >> 1) & 1) + (ld >> 4));
    } else {
      const uint32_t at = 2u + static_cast<uint8_t>(4 * c->SamPos);
      b0 = ObjectByte(m, c->Sample, at, "sample");
      b1 = ObjectByte(m, c->Sample, at + 1, "sample");
      t = static_cast<uint16_t>(ObjectByte(m, c->Sample, at + 2, "sample") | ObjectByte(m, c->Sample, at + 3, "sample") << 8);
    }
    const uint8_t nextSam = static_cast<uint8_t>(c->SamPos + 1);
    c->SamPos = nextSam < sLength ? nextSam : sLoop;

    t = static_cast<uint16_t>(t + c->ToneAcc);
    if (b1 & 0x40) c->ToneAcc = t;
    c->Tone = static_cast<uint16_t>(m->Notes[n] + t + c->Slide);

    if (c->SlideCount != 0 && --c->SlideCount == 0) {
      c->SlideCount = c->SlideDelay;
      c->Slide = static_cast<uint16_t>(c->Slide + c->SlideStep);
      if (!c->Gliss) {
        const uint16_t r = (c->SlideStep >> 8) == 0 ? static_cast<uint16_t>(c->Slide - c->SlideDelta)
                                                    : static_cast<uint16_t>(c->SlideDelta - c->Slide);
        if ((r & 0x8000) == 0) {
          c->Note = c->TargetNote;
          c->SlideCount = 0;
          c->Slide = 0;
        }
      }
    }

    if (b0 & 0x80) {
      if (b0 & 0x40) {
        if (c->VolSlide != 15) ++c->VolSlide;
      } else if (c->VolSlide != -15) {
        --c->VolSlide;
      }
    }
    int32_t level = (b1 & 15) + c->VolSlide;
    level = level < 0 ? 0 : level > 15 ? 15 : level;
    out.Amplitude = m->Volumes[c->Volume][level];
    if ((b0 & 1) == 0) out.Amplitude |= c->EnvOn;

    if (b1 & 0x80) {
      const uint8_t five = (b0 >> 1) & 31;
      uint8_t e = static_cast<uint8_t>(five >= 16 ? five - 32 : five);
      e = static_cast<uint8_t>(e + c->EnvAcc);
      if (b1 & 0x20) c->EnvAcc = e;
      chip->EnvOffsetSum = static_cast<uint8_t>(chip->EnvOffsetSum + e);
    } else {
      const uint8_t x = static_cast<uint8_t>((b0 >> 1) + c->NoiseAcc);
      chip->NoiseAdd = x;
      if (b1 & 0x20) c->NoiseAcc = x;
    }
    out.ToneOff = (b1 >> 4) & 1;
    out.NoiseOff = (b1 >> 7) & 1;
  }
  if (c->OnOffCount != 0 && --c->OnOffCount == 0) {
    c->Enabled = !c->Enabled;
    c->OnOffCount = c->Enabled ? c->OnTime : c->OffTime;
  }
  return out;
}

// One call of the play routine for one chip. False at chip 1's loop event or a failed read.
bool PlayChip(PtModule* m, PtChip* chip) {
  chip->EnvOffsetSum = 0;
  chip->Shape = -1;
  if (--chip->TickCount == 0) {
    PtChannel* a = &chip->Channels[0];
    if (--a->LineCount == 0) {
      // The pattern ends where channel A's next line would start with a 0 byte.
      bool end = !chip->Started;
      if (!end) {
        end = PtStreamByte(m, chip, 0) == 0;
        --a->Stream;  // only a look: the byte is decoded from the new pattern or this one
      }
      if (m->Failed || (end && !AdvancePosition(m, chip))) return false;
      if (m->Failed) return false;
      m->Decode(m, chip, 0);
    }
    for (int32_t ch = 1; ch < 3; ++ch)
      if (--chip->Channels[ch].LineCount == 0) m->Decode(m, chip, ch);
    chip->TickCount = chip->Tempo;
  }
  if (m->Failed) return false;

  uint8_t* r = chip->Registers;
  uint8_t mixer = 0;
  for (int32_t ch = 0; ch < 3; ++ch) {
    PtChannel* c = &chip->Channels[ch];
    const PtOutput out = Synthesize(m, chip, c);
    r[R0 + 2 * ch] = static_cast<uint8_t>(c->Tone & 0xFF);
    r[R1 + 2 * ch] = static_cast<uint8_t>(c->Tone >> 8);
    r[R8 + ch] = out.Amplitude;
    mixer = static_cast<uint8_t>(mixer | out.ToneOff << ch | out.NoiseOff << (3 + ch));
  }
  r[R6] = static_cast<uint8_t>(chip->NoiseBase + chip->NoiseAdd);
  r[R7] = mixer;
  const uint16_t envelope =
      static_cast<uint16_t>(chip->EnvBase + static_cast<int8_t>(chip->EnvOffsetSum) + chip->EnvSlide);
  r[R11] = static_cast<uint8_t>(envelope & 0xFF);
  r[R12] = static_cast<uint8_t>(envelope >> 8);
  if (chip->Shape >= 0) r[R13] = static_cast<uint8_t>(chip->Shape);
  if (chip->EnvSlideCount != 0 && --chip->EnvSlideCount == 0) {
    chip->EnvSlideCount = chip->EnvSlideDelay;
    chip->EnvSlide = static_cast<uint16_t>(chip->EnvSlide + chip->EnvSlideStep);
  }
  return !m->Failed;
}

}  // namespace

void ResetPtChips(PtModule* m, uint8_t tempo, PtObject sample, PtObject ornament) {
  for (int32_t i = 0; i < 2; ++i) {
    PtChip& chip = m->Chips[i];
    chip = PtChip{};
    chip.Tempo = tempo;
    chip.Second = i == 1;
    for (PtChannel& c : chip.Channels) {
      c.Sample = sample;
      c.Ornament = ornament;
    }
  }
  if (m->ChipCount == 2) {
    m->Chips[0].Partner = &m->Chips[1];
    m->Chips[1].Partner = &m->Chips[0];
  }
  m->Frame = 0;
  m->Failed = false;
}

uint32_t PtPatternEntry(const PtModule& m, uint8_t v) {
  return m.PatternTable + 2u * (m.Pt2 ? static_cast<uint8_t>(3 * v) : v);
}

bool PlayPtFrame(void* module, uint8_t* registers, bool* shapeWritten) {
  PtModule* m = static_cast<PtModule*>(module);
  for (int32_t i = 0; i < m->ChipCount; ++i)
    if (!PlayChip(m, &m->Chips[i])) return false;
  const PtChip& first = m->Chips[0];
  for (int32_t r = R0; r <= R13; ++r) registers[r] = first.Registers[r];
  *shapeWritten = first.Shape >= 0;
  ++m->Frame;
  return true;
}

int32_t RunPtPass(PtModule* m, SourceTune* tune, std::string* why) {
  m->Pending.reserve(64);
  RunModulePass(m, PlayPtFrame, tune);
  if (m->Failed) {
    if (m->FailFrame < MaxDumpFrames) {
      *why = m->Why;
      return -1;
    }
    // Only the call after the last kept frame read outside: the dump is whole, and cut.
    tune->Notices.push_back("the pass is longer than " + std::to_string(MaxDumpFrames) + " frames: cut there");
  }
  tune->LoopFrame = m->Chips[0].LoopFrame;
  return 0;
}

uint8_t PtStreamByte(PtModule* m, PtChip* chip, int32_t ch) {
  PtChannel& c = chip->Channels[ch];
  if (c.Stream < m->Size) return m->Bytes[c.Stream++];
  Fail(m, std::string("the stream of pattern ") + std::to_string(chip->Pattern) + " channel " + ChannelName[ch] +
              (chip->Second ? " (second chip)" : "") + " runs past the end of the module (" + std::to_string(m->Size) +
              " bytes)");
  return 0;
}

uint16_t PtModuleWord(PtModule* m, uint32_t at, const char* what) {
  if (at + 1 < m->Size) return static_cast<uint16_t>(m->Bytes[at] | m->Bytes[at + 1] << 8);
  Fail(m, std::string("the ") + what + " entry at offset " + std::to_string(at) + " is past the end of the module (" +
              std::to_string(m->Size) + " bytes)");
  return 0;
}

void PtSetShape(PtChip* chip, PtChannel* c, uint8_t shape, uint16_t period) {
  c->EnvOn = 0x10;
  chip->Shape = shape;
  chip->EnvBase = period;
}

void PtSetTempo(PtChip* chip, uint8_t tempo) {
  chip->Tempo = tempo;
  if (!chip->Partner) return;
  chip->Partner->Tempo = tempo;
  // Both chips reload their tick counters in the same frame; chip 2's lines come last.
  if (chip->Second) chip->Partner->TickCount = tempo;
}

uint16_t PtSignedStep(uint16_t r, uint8_t lo, uint8_t hi) {
  if (r & 0x8000) {
    hi ^= 0xFF;
    lo = static_cast<uint8_t>(0 - lo);
  }
  return static_cast<uint16_t>(hi << 8 | lo);
}

std::string PtText(const uint8_t* bytes, size_t count) {
  std::string text(reinterpret_cast<const char*>(bytes), count);
  for (char& ch : text)
    if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) >= 0x7F) ch = ' ';
  const size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}
