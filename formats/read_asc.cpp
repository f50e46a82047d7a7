// SPDX-License-Identifier: GPL-2.0-or-later
// ASC Sound Master v1.x compiled modules, played as the compiled Z80 player plays them (player
// at #C000, module at #C5F9): one call of its play routine per 50 Hz frame. Kept from the
// player: accumulating ornament and envelope offsets, the 17-step division of the portamento,
// #FB/#FD without a parameter, a #FF that aborts a channel's decode, and the position switch
// that waits for all three channels' data to end.
// Where it knowingly differs from the original: memory outside module and player reads 0 (on
// a Spectrum a sample or ornament address of 0 would read the ROM).
#include <cstring>

#include "formats/bytes.h"
#include "formats/module.h"
#include "formats/module_memory.h"
#include "formats/tune.h"

namespace {

constexpr uint16_t ASC_PLAYER_END = 0xC5F9;  // the module follows the player here
constexpr uint16_t ASC_NOTES_AT = 0xC54D;    // the note table ends the player
constexpr int32_t NOTES = 86;
constexpr size_t HEADER_BYTES = 9, TABLE_BYTES = 64, PATTERN_BYTES = 6;
constexpr uint8_t NO_SHAPE = 0xFF, END_OF_DATA = 0xFF;
constexpr uint8_t TEXT_BYTES = 63;  // "ASM COMPILATION OF <title 20> BY <author 20>"

// Flags bits.
constexpr uint8_t DATA_LEFT = 1, SAMPLE_DONE = 2, SOUNDING = 4, BREAK_LOOP = 8, ENVELOPE = 16, ENVELOPE_TICK = 32,
                  KEEP_SAMPLE = 64, KEEP_ORNAMENT = 128;

constexpr uint16_t NOTE_TABLE[NOTES] = {
    0x0EDC, 0x0E07, 0x0D3E, 0x0C80, 0x0BCC, 0x0B22, 0x0A82, 0x09EC, 0x095C, 0x08D6, 0x0858, 0x07E0, 0x076E, 0x0704,
    0x069F, 0x0640, 0x05E6, 0x0591, 0x0541, 0x04F6, 0x04AE, 0x046B, 0x042C, 0x03F0, 0x03B7, 0x0382, 0x034F, 0x0320,
    0x02F3, 0x02C8, 0x02A1, 0x027B, 0x0257, 0x0236, 0x0216, 0x01F8, 0x01DC, 0x01C1, 0x01A8, 0x0190, 0x0179, 0x0164,
    0x0150, 0x013D, 0x012C, 0x011B, 0x010B, 0x00FC, 0x00EE, 0x00E0, 0x00D4, 0x00C8, 0x00BD, 0x00B2, 0x00A8, 0x009F,
    0x0096, 0x008D, 0x0085, 0x007E, 0x0077, 0x0070, 0x006A, 0x0064, 0x005E, 0x0059, 0x0054, 0x0050, 0x004B, 0x0047,
    0x0043, 0x003F, 0x003C, 0x0038, 0x0035, 0x0032, 0x002F, 0x002D, 0x002A, 0x0028, 0x0026, 0x0024, 0x0022, 0x0020,
    0x001E, 0x001C};

struct AscChannel {
  uint8_t Flags, Mix, Note, CurNote;
  uint16_t ToneAcc, Slide, Step;
  uint8_t SlideCount, NoiseBase, NoiseAcc, Amp;
  int32_t VolSlide;  // -15..15
  uint8_t Volume, Skip, SkipCount;
  uint16_t Stream, SamStart, SamPtr, SamLoop, OrnStart, OrnPtr, OrnLoop;
};

struct AscPlayer {
  ZxBlock Block;
  uint16_t Module, Patterns, Samples, Ornaments;  // Z80 addresses
  AscChannel Channel[3];
  uint8_t Tempo, TickCount, PosIndex, Loop, Count, EnvLow, Shape;
  int32_t Switches, Frame, LoopFrame;
  std::string Error;
};

uint8_t Peek(AscPlayer* p, uint32_t address) { return ZxRead(&p->Block, static_cast<uint16_t>(address)); }

// The player's division of m by t: 17 shift-and-subtract steps, exact for t <= 128.
void Divide(uint16_t m, uint8_t t, uint16_t* quotient, uint8_t* remainder) {
  uint32_t a = 0, carry = 0, e = m & 0xFF, d = m >> 8;
  const uint32_t u = (256 - t) & 0xFF;
  for (int32_t step = 0; step < 17; ++step) {
    a = (2 * a + carry) & 0xFF;
    if (a + u >= 256) {
      a = a + u - 256;
      carry = 1;
    } else {
      carry = 0;
    }
    const uint32_t e2 = 2 * e + carry;
    e = e2 & 0xFF;
    const uint32_t d2 = 2 * d + (e2 >> 8);
    d = d2 & 0xFF;
    carry = d2 >> 8;
  }
  *quotient = static_cast<uint16_t>(d << 8 | e);
  *remainder = static_cast<uint8_t>(a);
}

// A glide over t ticks from the current note (plus start) to the note that follows, if any.
void Portamento(AscPlayer* p, AscChannel* ch, uint16_t* at, uint16_t start) {
  const uint8_t t = Peek(p, (*at)++);
  const uint8_t next = Peek(p, *at);
  const uint16_t to = NOTE_TABLE[next < NOTES ? next : ch->Note];
  const uint16_t h = static_cast<uint16_t>(NOTE_TABLE[ch->Note] + start);
  const uint16_t diff = static_cast<uint16_t>(h - to);
  uint16_t q;
  uint8_t r;
  Divide(h >= to ? diff : static_cast<uint16_t>(-diff), t, &q, &r);
  if (!(diff & 0x8000)) {
    q = static_cast<uint16_t>(-q);
    r = static_cast<uint8_t>(-r);
  }
  ch->Slide = static_cast<uint16_t>(diff + static_cast<int8_t>(r));
  ch->Step = q;
  ch->SlideCount = t;
}

uint16_t TableEntry(AscPlayer* p, uint16_t table, uint8_t index) {
  return static_cast<uint16_t>(table + ZxReadWord(&p->Block, static_cast<uint16_t>(table + 2 * index)));
}

void DecodeLine(AscPlayer* p, AscChannel* ch) {
  ch->Flags &= static_cast<uint8_t>(~(KEEP_SAMPLE | KEEP_ORNAMENT));
  ch->SlideCount = 0;
  uint16_t at = ch->Stream;
  for (;;) {
    if (p->Block.Fault) return;
    const uint8_t b = Peek(p, at++);
    if (b < NOTES) {
      ch->Note = ch->CurNote = b;
      ch->NoiseAcc = ch->NoiseBase;
      if ((ch->SlideCount - 1) & 0x80) ch->Slide = 0;
      if (!(ch->Flags & KEEP_SAMPLE)) {
        ch->VolSlide = 0;
        ch->ToneAcc = 0;
        ch->SamPtr = ch->SamStart;
        ch->Flags = static_cast<uint8_t>((ch->Flags | SOUNDING) & ~(BREAK_LOOP | SAMPLE_DONE));
      }
      if (!(ch->Flags & KEEP_ORNAMENT)) ch->OrnPtr = ch->OrnStart;
      if (ch->Flags & ENVELOPE) p->EnvLow = Peek(p, at++);
      break;
    }
    if (b <= 0x5D) break;
    if (b == 0x5E) {
      ch->Flags |= BREAK_LOOP;
      break;
    }
    if (b == 0x5F) {
      ch->Flags &= static_cast<uint8_t>(~SOUNDING);
      break;
    }
    if (b <= 0x9F) {
      ch->Skip = b - 0x60;
    } else if (b <= 0xBF) {
      ch->SamStart = TableEntry(p, p->Samples, b - 0xA0);
    } else if (b <= 0xDF) {
      ch->OrnStart = TableEntry(p, p->Ornaments, b - 0xC0);
    } else if (b == 0xE0) {
      ch->Flags |= ENVELOPE;
      ch->Volume = 15;
    } else if (b <= 0xEF) {
      ch->Flags &= static_cast<uint8_t>(~ENVELOPE);
      ch->Volume = b - 0xE0;
    } else if (b == 0xF0) {
      ch->NoiseBase = Peek(p, at++);
    } else if (b <= 0xF3) {
      ch->Flags |= b == 0xF1 ? KEEP_SAMPLE : b == 0xF2 ? KEEP_ORNAMENT : KEEP_SAMPLE | KEEP_ORNAMENT;
    } else if (b == 0xF4) {
      p->Tempo = p->TickCount = Peek(p, at++);
    } else if (b == 0xF5 || b == 0xF6) {
      const uint8_t v = Peek(p, at++);
      ch->Step = static_cast<uint16_t>(static_cast<int8_t>(b == 0xF5 ? -v : v));
      ch->SlideCount = 0xFF;
    } else if (b == 0xF7) {
      ch->Flags |= KEEP_SAMPLE;
      Portamento(p, ch, &at, ch->Slide);
    } else if (b == 0xF9) {
      Portamento(p, ch, &at, 0);
    } else if (b == 0xF8 || b == 0xFA || b == 0xFC || b == 0xFE) {
      p->Shape = b & 0x0F;
    } else if (b == END_OF_DATA) {
      return;  // the channel's data has ended: nothing is stored
    }
  }
  ch->SkipCount = ch->Skip;
  ch->Stream = at;
  if (Peek(p, at) == END_OF_DATA) ch->Flags &= static_cast<uint8_t>(~DATA_LEFT);
}

// One tick of a sounding channel's sample and ornament.
void Tick(AscPlayer* p, AscChannel* ch) {
  const uint8_t t0 = Peek(p, ch->SamPtr), t1 = Peek(p, ch->SamPtr + 1), t2 = Peek(p, ch->SamPtr + 2);
  uint16_t next = static_cast<uint16_t>(ch->SamPtr + 3);
  if (t0 >= 0x20) {
    if (t0 & 0x80) ch->SamLoop = ch->SamPtr;
    if ((t0 & 0x40) && !(ch->Flags & BREAK_LOOP))
      next = ch->SamLoop;
    else if (t0 & 0x20)
      ch->Flags |= SAMPLE_DONE;
  }
  ch->SamPtr = next;
  ch->ToneAcc = static_cast<uint16_t>(ch->ToneAcc + static_cast<int8_t>(t1));
  ch->Mix = t2 & 9;
  const int32_t kind = (t2 >> 1) & 3;
  if (kind == 1) {
    ch->Flags |= ENVELOPE_TICK;
  } else {
    ch->Flags &= static_cast<uint8_t>(~ENVELOPE_TICK);
    if (kind == 2 && ch->VolSlide > -15) --ch->VolSlide;
    if (kind == 3 && ch->VolSlide < 15) ++ch->VolSlide;
  }
  int32_t level = (t2 >> 4) + ch->VolSlide;
  level = level < 0 ? 0 : level > 15 ? 15 : level;
  ch->Amp = ch->Volume == 0 ? 0 : static_cast<uint8_t>(level * (ch->Volume + 1) / 16);
  if ((ch->Flags & ENVELOPE_TICK) && (t2 & 8))
    p->EnvLow = static_cast<uint8_t>(p->EnvLow + (((t0 & 0x1F) ^ 0x10) - 0x10));
  else
    ch->NoiseAcc = (ch->NoiseAcc + t0) & 31;

  const uint8_t o0 = Peek(p, ch->OrnPtr), o1 = Peek(p, ch->OrnPtr + 1);
  next = static_cast<uint16_t>(ch->OrnPtr + 2);
  if (o0 >= 0x20) {
    if (o0 & 0x80) ch->OrnLoop = ch->OrnPtr;
    if (o0 & 0x40) next = ch->OrnLoop;
  }
  ch->OrnPtr = next;
  ch->CurNote = static_cast<uint8_t>(ch->CurNote + o1);
  ch->NoiseAcc = (ch->NoiseAcc + o0) & 31;
}

// Enters the next position; false when the pass is over.
bool SwitchPosition(AscPlayer* p) {
  const int32_t number = p->Switches++;
  if (number == p->Count) return false;
  if (number == p->Loop) p->LoopFrame = p->Frame;
  const uint8_t entry = Peek(p, p->Module + HEADER_BYTES + p->PosIndex);
  p->PosIndex = p->PosIndex + 1 < p->Count ? p->PosIndex + 1 : p->Loop;
  const uint16_t record = static_cast<uint16_t>(p->Patterns + ((6 * entry) & 0xFF));
  for (int32_t c = 0; c < 3; ++c) {
    AscChannel* ch = &p->Channel[c];
    ch->Stream = static_cast<uint16_t>(p->Patterns + ZxReadWord(&p->Block, static_cast<uint16_t>(record + 2 * c)));
    ch->Flags |= DATA_LEFT;
    ch->NoiseBase = 0;
  }
  return true;
}

bool PlayAscFrame(void* player, uint8_t* r, bool* shapeWritten) {
  AscPlayer* p = static_cast<AscPlayer*>(player);
  ++p->Frame;
  if (--p->TickCount == 0) {
    p->TickCount = p->Tempo;
    if (!((p->Channel[0].Flags | p->Channel[1].Flags | p->Channel[2].Flags) & DATA_LEFT) && !SwitchPosition(p))
      return false;
    for (AscChannel& ch : p->Channel)
      if (--ch.SkipCount & 0x80) DecodeLine(p, &ch);
  }
  for (int32_t c = 0; c < 3; ++c) {
    AscChannel* ch = &p->Channel[c];
    if ((ch->Flags & SAMPLE_DONE) || !(ch->Flags & SOUNDING)) {
      r[R8 + c] = 0;
      continue;
    }
    Tick(p, ch);
    if (!(ch->Mix & 8)) r[R6] = ch->NoiseAcc;
    const uint8_t n = ch->CurNote < NOTES ? ch->CurNote : ch->CurNote >= 0x80 ? 0 : NOTES - 1;
    const uint16_t tone = static_cast<uint16_t>(NOTE_TABLE[n] + ch->ToneAcc + ch->Slide);
    r[R0 + 2 * c] = static_cast<uint8_t>(tone & 0xFF);
    r[R1 + 2 * c] = static_cast<uint8_t>((tone >> 8) & 15);
    if (ch->SlideCount != 0) {
      if (ch->SlideCount < 0x80) --ch->SlideCount;
      ch->Slide = static_cast<uint16_t>(ch->Slide + ch->Step);
    }
    const bool envelope = (ch->Flags & (ENVELOPE | ENVELOPE_TICK)) == (ENVELOPE | ENVELOPE_TICK);
    r[R8 + c] = static_cast<uint8_t>(ch->Amp + (envelope ? 16 : 0));
  }
  if (p->Block.Fault) {
    p->Error = ZxFaultText(p->Block);
    return false;
  }
  r[R7] = static_cast<uint8_t>(p->Channel[0].Mix | p->Channel[1].Mix << 1 | p->Channel[2].Mix << 2);
  r[R11] = p->EnvLow;
  r[R12] = 0;
  if (p->Shape != NO_SHAPE) {
    r[R13] = p->Shape;
    *shapeWritten = true;
    p->Shape = NO_SHAPE;
  }
  return true;
}

uint16_t Word(const uint8_t* m, size_t at) { return static_cast<uint16_t>(Le16(m + at)); }

// The structure every ASC Sound Master module has; why names the first check that fails.
bool CheckAsc(const uint8_t* m, size_t n, std::string* why) {
  if (n < HEADER_BYTES + 2 * TABLE_BYTES + 6) return *why = "too short for an ASC Sound Master module", false;
  const size_t count = m[8], pat = Word(m, 2), sam = Word(m, 4), orn = Word(m, 6);
  if (count == 0 || m[1] >= count || m[0] == 0) return *why = "tempo 0, no positions or a loop past the end", false;
  if (HEADER_BYTES + count > pat || pat >= sam || sam + TABLE_BYTES > orn || orn + TABLE_BYTES > n)
    return *why = "the tables overlap or run past the end", false;
  if (Word(m, sam) != TABLE_BYTES || Word(m, orn) != TABLE_BYTES)
    return *why = "the first sample or ornament does not follow its table", false;
  for (size_t i = 0; i < count; ++i) {
    const size_t record = pat + PATTERN_BYTES * m[HEADER_BYTES + i];
    if (record + PATTERN_BYTES > sam) return *why = "a position names a pattern past the pattern table", false;
    for (int32_t c = 0; c < 3; ++c)
      if (pat + Word(m, record + 2 * c) >= sam) return *why = "a pattern's stream lies outside the patterns", false;
  }
  return true;
}

bool DetectAsc(const uint8_t* bytes, size_t size) {
  std::string why;
  return CheckAsc(bytes, TurboSoundFirstModule(bytes, size), &why);
}

std::string Trimmed(const uint8_t* text, size_t size) {
  while (size > 0 && (text[size - 1] == ' ' || text[size - 1] == 0)) --size;
  return std::string(reinterpret_cast<const char*>(text), size);
}

int32_t ReadAsc(const uint8_t* bytes, size_t size, SourceTune* tune, std::string* why) {
  const size_t fileSize = size;
  size = TurboSoundFirstModule(bytes, size);
  if (!CheckAsc(bytes, size, why)) {
    *why = "not an ASC Sound Master module: " + *why;
    return -1;
  }
  uint8_t given[2 * NOTES];
  for (int32_t k = 0; k < NOTES; ++k) {
    given[2 * k] = static_cast<uint8_t>(NOTE_TABLE[k] & 0xFF);
    given[2 * k + 1] = static_cast<uint8_t>(NOTE_TABLE[k] >> 8);
  }
  AscPlayer p{};
  if (LoadZxBlock(bytes, size, ASC_PLAYER_END, given, sizeof given, ASC_NOTES_AT, &p.Block, why) != 0) return -1;
  p.Module = p.Block.ModuleAt;
  p.Patterns = static_cast<uint16_t>(p.Module + Word(bytes, 2));
  p.Samples = static_cast<uint16_t>(p.Module + Word(bytes, 4));
  p.Ornaments = static_cast<uint16_t>(p.Module + Word(bytes, 6));
  p.Tempo = bytes[0];
  p.TickCount = 1;
  p.Loop = bytes[1];
  p.Count = bytes[8];
  p.Shape = NO_SHAPE;
  p.Frame = -1;
  p.LoopFrame = -1;
  RunModulePass(&p, PlayAscFrame, tune);
  if (!p.Error.empty()) {
    *why = "bad ASC Sound Master module: " + p.Error;
    return -1;
  }
  tune->Format = "ASC";
  tune->LoopFrame = p.LoopFrame >= 0 ? p.LoopFrame : 0;
  tune->Details = std::to_string(p.Count) + " positions";
  const size_t text = HEADER_BYTES + p.Count;
  if (text + TEXT_BYTES <= Word(bytes, 2) && std::memcmp(bytes + text, "ASM COMPILATION OF ", 19) == 0 &&
      std::memcmp(bytes + text + 39, " BY ", 4) == 0) {
    tune->Title = Trimmed(bytes + text + 19, 20);
    tune->Author = Trimmed(bytes + text + 43, 20);
  }
  if (size != fileSize) tune->Notices.push_back("TurboSound file: its first module is converted alone");
  return 0;
}

}  // namespace

const TuneReader AscReader = {.Name = "ASC", .Detect = DetectAsc, .Read = ReadAsc};
