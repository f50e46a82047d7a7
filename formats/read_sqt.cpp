// SPDX-License-Identifier: GPL-2.0-or-later
// SQ-Tracker (SQT) compiled modules, played as the tracker's compiled Z80 player plays them at
// #C510 behind its player: addresses compiled for another base are moved there first. The
// player keeps its three channel blocks as bytes right behind its note table, and notes past the
// table read them, so they live here in the same 64 KiB memory at the same addresses.
// The player's own code is not here: a read of it (or of the stack) refuses the module, as does
// an ornament command before any sample command, which would write to addresses 0..4.
#include <cstdio>

#include "formats/bytes.h"
#include "formats/module.h"
#include "formats/module_block.h"
#include "formats/tune.h"

namespace {

constexpr uint32_t MODULE_AT = 0xC510;      // where the player reads the module
constexpr uint32_t PLAYER_START = 0xC000;
constexpr uint32_t NOTE_WORDS_AT = 0xC42A;  // notes 0..44: big-endian words
constexpr uint32_t NOTE_BYTES_AT = 0xC457;  // notes 45..255: the byte at NOTE_BYTES_AT + note
constexpr uint32_t BLOCKS_AT = 0xC4B7;      // column 1 (AY C), 2 (AY B), 3 (AY A), 29 bytes each
constexpr uint32_t BLOCK_SIZE = 29;
constexpr uint32_t TICK_COUNT = 0xC50E, LINE_COUNT = 0xC50F;
constexpr int32_t COLUMNS = 3;
constexpr size_t SAMPLE_SIZE = 98, HEADER_SIZE = 12, ENTRY_SIZE = 7;
constexpr uint8_t NO_LOOP = 32;

// Channel block bytes.
enum : uint32_t {
  FLAGS = 0, SAMPLE = 1, SAM_LINE = 3, SAM_COUNT = 5, ORN_START = 6, ORN_LINE = 8, ORN_COUNT = 10, ATTEN = 11,
  NOTE = 12, GLIDE_ACC = 13, GLIDE_STEP = 15, CHAN = 17, STREAM = 18, TRANSP = 20, REPEAT_COUNT = 21,
  NEXT_STREAM = 22, NEXT_TRANSP = 24, ZERO = 25, NEXT_ATTEN = 26, SAVED = 27
};
// Flags bits.
constexpr uint8_t ENVELOPE = 1, ORNAMENT = 2, GLIDE = 4, SILENT = 8, EFFECTS = 16, NEXT_EFFECTS = 32, IN_LINE = 64,
                  REPEAT = 128;
constexpr uint8_t MIXER_BITS[COLUMNS] = {0x24, 0x12, 0x09};  // tone and noise bits of AY C, B, A

constexpr uint16_t NOTE_TABLE[96] = {
    0x0D5D, 0x0C9C, 0x0BE7, 0x0B3C, 0x0A9B, 0x0A02, 0x0973, 0x08EB, 0x086B, 0x07F2, 0x0780, 0x0714,
    0x06AE, 0x064E, 0x05F4, 0x059E, 0x054F, 0x0501, 0x04B9, 0x0475, 0x0435, 0x03F9, 0x03C0, 0x038A,
    0x0357, 0x0327, 0x02FA, 0x02CF, 0x02A7, 0x0281, 0x025D, 0x023B, 0x021B, 0x01FC, 0x01E0, 0x01C5,
    0x01AC, 0x0194, 0x017D, 0x0168, 0x0153, 0x0140, 0x012E, 0x011D, 0x010D, 0x00FE, 0x00F0, 0x00E2,
    0x00D6, 0x00CA, 0x00BE, 0x00B4, 0x00AA, 0x00A0, 0x0097, 0x008F, 0x0087, 0x007F, 0x0078, 0x0071,
    0x006B, 0x0065, 0x005F, 0x005A, 0x0055, 0x0050, 0x004C, 0x0047, 0x0043, 0x0040, 0x003C, 0x0039,
    0x0035, 0x0032, 0x0030, 0x002D, 0x002A, 0x0028, 0x0026, 0x0024, 0x0022, 0x0020, 0x001E, 0x001C,
    0x001B, 0x0019, 0x0018, 0x0016, 0x0015, 0x0014, 0x0013, 0x0012, 0x0011, 0x0010, 0x000F, 0x000E};
constexpr int32_t NOTE_WORDS = 45;

// The module's shape as its header gives it (offsets from the module start).
struct SqtLayout {
  uint32_t Base;                        // the address the module was compiled for
  uint32_t Samples, Ornaments, Patterns, Positions, Loop;  // offsets
  uint32_t Entries;                     // position entries before the closing 0
  uint32_t HighestPattern;              // of the entries' pattern numbers
};

uint32_t Offset(const uint8_t* bytes, size_t at, uint32_t base) { return (Le16(bytes + at) - base) & 0xFFFF; }

// The structural checks: true with the layout when the bytes are an SQT module.
bool SqtShape(const uint8_t* bytes, size_t n, SqtLayout* s) {
  if (n < 19 || Le16(bytes) != n || Le16(bytes + 2) < 10) return false;
  s->Base = (Le16(bytes + 2) - 10) & 0xFFFF;
  s->Samples = 10;
  s->Ornaments = Offset(bytes, 4, s->Base);
  s->Patterns = Offset(bytes, 6, s->Base);
  s->Positions = Offset(bytes, 8, s->Base);
  s->Loop = Offset(bytes, 10, s->Base);
  const uint32_t o = s->Ornaments, p = s->Patterns, l = s->Positions, lp = s->Loop;
  if (!(10 < o && o <= p && p < l && l <= lp && lp < n) || (lp - l) % ENTRY_SIZE || (o - 10) % 2 || (p - o) % 2)
    return false;
  s->Entries = 0;
  s->HighestPattern = 0;
  size_t at = l;
  for (; at < n && bytes[at] != 0; at += ENTRY_SIZE, ++s->Entries) {
    if (at + ENTRY_SIZE > n) return false;
    for (int32_t c = 0; c < COLUMNS; ++c) {
      const uint32_t k = bytes[at + 2 * c] & 0x7F;
      if (k < 1 || p + 2 * k + 2 > l || Offset(bytes, p + 2 * k, s->Base) >= l) return false;
      if (k > s->HighestPattern) s->HighestPattern = k;
    }
  }
  if (at >= n || s->Entries == 0 || lp >= at) return false;
  for (uint32_t k = 1; k <= (o - 10) / 2; ++k)
    if (Offset(bytes, 10 + 2 * k, s->Base) + SAMPLE_SIZE > n) return false;
  return true;
}

bool DetectSqt(const uint8_t* bytes, size_t size) {
  SqtLayout s;
  return SqtShape(bytes, TurboSoundFirstModule(bytes, size), &s);
}

struct SqtPlayer {
  std::vector<uint8_t> Memory;
  uint32_t End;  // the module's end address
  uint32_t SamplesAt, OrnamentsAt, PatternsAt, LoopAt;
  uint8_t Tempo = 1, MuteMask = 0, NextBlock = 0;
  uint32_t NextPos;
  int32_t OrnTarget = -1;  // the column of the latest sample command
  uint32_t Switches = 0, Entries, LoopSwitch;
  int64_t Frame = 0, LoopFrame = -1;
  uint8_t* Registers;
  bool* ShapeWritten;
  const char* Fault = nullptr;  // why the module is refused
};

uint8_t Read(SqtPlayer* q, uint32_t address) {
  address &= 0xFFFF;
  if ((address >= PLAYER_START && address < NOTE_WORDS_AT) || address >= ZX_STACK_PAGE) {
    if (!q->Fault) q->Fault = "the player reads its own code or stack (a pointer runs outside the module)";
    return 0;
  }
  return q->Memory[address];
}
uint32_t ReadWord(SqtPlayer* q, uint32_t address) { return Read(q, address) | (Read(q, address + 1) << 8); }

uint8_t& Field(SqtPlayer* q, int32_t column, uint32_t field) {
  return q->Memory[(BLOCKS_AT + BLOCK_SIZE * column + field) & 0xFFFF];
}
uint32_t Word(SqtPlayer* q, int32_t column, uint32_t field) {
  return Field(q, column, field) | (Field(q, column, field + 1) << 8);
}
void SetWord(SqtPlayer* q, int32_t column, uint32_t field, uint32_t value) {
  Field(q, column, field) = static_cast<uint8_t>(value);
  Field(q, column, field + 1) = static_cast<uint8_t>(value >> 8);
}

// A sample, ornament or pattern address taken from a table must lie in the module.
uint32_t InModule(SqtPlayer* q, uint32_t address, const char* what) {
  if ((address < MODULE_AT || address >= q->End) && !q->Fault) q->Fault = what;
  return address;
}

// Fills block NextBlock's next-fields from the two position bytes at NextPos.
void Prefetch(SqtPlayer* q) {
  if (Read(q, q->NextPos) == 0) q->NextPos = q->LoopAt;
  const uint8_t b = Read(q, q->NextPos), v = Read(q, q->NextPos + 1);
  const int32_t block = q->NextBlock;
  Field(q, block, FLAGS) = static_cast<uint8_t>((Field(q, block, FLAGS) & ~NEXT_EFFECTS) | ((b >> 7) * NEXT_EFFECTS));
  const uint32_t pattern = InModule(q, ReadWord(q, q->PatternsAt + ((2 * b) & 0xFF)), "a pattern lies outside the module");
  SetWord(q, block, NEXT_STREAM, pattern + 1);
  Field(q, block, NEXT_ATTEN) = v & 15;
  const uint8_t t = v >> 4;
  Field(q, block, NEXT_TRANSP) = static_cast<uint8_t>(t <= 8 ? t : 8 - t);
  q->NextPos = (q->NextPos + 2) & 0xFFFF;
  ++q->NextBlock;
}

// False when this switch ends the pass.
bool SwitchPosition(SqtPlayer* q) {
  if (q->Switches == q->Entries) return false;
  if (q->Switches == q->LoopSwitch) q->LoopFrame = q->Frame;
  ++q->Switches;
  for (int32_t c = 0; c < COLUMNS; ++c) {
    Field(q, c, ATTEN) = Field(q, c, NEXT_ATTEN);
    SetWord(q, c, STREAM, Word(q, c, NEXT_STREAM));
    Field(q, c, TRANSP) = Field(q, c, NEXT_TRANSP);
    Field(q, c, REPEAT_COUNT) = Field(q, c, ZERO);
  }
  q->Memory[LINE_COUNT] = Read(q, Word(q, 0, STREAM) - 1);
  q->Tempo = q->Memory[TICK_COUNT] = Read(q, q->NextPos);
  q->NextPos = (q->NextPos + 1) & 0xFFFF;
  q->NextBlock = 0;
  for (int32_t c = 0; c < COLUMNS; ++c)
    Field(q, c, FLAGS) = static_cast<uint8_t>((Field(q, c, FLAGS) & ~EFFECTS) | ((Field(q, c, FLAGS) & NEXT_EFFECTS) >> 1));
  return true;
}

void SampleCommand(SqtPlayer* q, int32_t c, uint8_t s) {
  Field(q, c, FLAGS) &= 0xF0;
  const uint32_t sample = InModule(q, ReadWord(q, q->SamplesAt + 2 * s), "a sample lies outside the module");
  SetWord(q, c, SAMPLE, sample);
  SetWord(q, c, SAM_LINE, sample + 2);
  Field(q, c, SAM_COUNT) = 32;
  q->OrnTarget = c;
  q->MuteMask &= static_cast<uint8_t>(~MIXER_BITS[c]);
}

void OrnamentCommand(SqtPlayer* q, int32_t c, uint8_t o) {
  if (q->OrnTarget < 0) {
    if (!q->Fault) q->Fault = "an ornament command comes before any sample command";
    return;
  }
  const uint32_t ornament = InModule(q, ReadWord(q, q->OrnamentsAt + 2 * o), "an ornament lies outside the module");
  SetWord(q, q->OrnTarget, ORN_START, ornament);
  SetWord(q, q->OrnTarget, ORN_LINE, ornament + 2);
  Field(q, q->OrnTarget, ORN_COUNT) = 32;
  Field(q, c, FLAGS) |= ORNAMENT;
}

// Effect e with its parameter at address at.
void Effect(SqtPlayer* q, int32_t c, uint8_t e, uint32_t at) {
  const uint8_t x = static_cast<uint8_t>(e - 1), v = Read(q, at);
  if (Field(q, c, FLAGS) & IN_LINE) {
    SetWord(q, c, STREAM, at + 1);
    Field(q, c, FLAGS) &= static_cast<uint8_t>(~IN_LINE);
  }
  if (x >= 8) {
    Field(q, c, FLAGS) |= ENVELOPE;
    q->Registers[R13] = x;
    q->Registers[R11] = v;
    *q->ShapeWritten = true;
  } else if (x <= 5) {
    if (!(Field(q, c, FLAGS) & EFFECTS)) return;
    switch (x) {
      case 0: Field(q, c, ATTEN) = v & 15; break;
      case 1: Field(q, c, ATTEN) = (Field(q, c, ATTEN) + v) & 15; break;
      case 2: for (int32_t k = 0; k < COLUMNS; ++k) Field(q, k, ATTEN) = v; break;
      case 3: for (int32_t k = 0; k < COLUMNS; ++k) Field(q, k, ATTEN) = (Field(q, k, ATTEN) + v) & 15; break;
      default: {  // 4: tempo, 5: tempo change
        const uint8_t t = (x == 4 ? v : q->Memory[TICK_COUNT] + v) & 31;
        q->Tempo = q->Memory[TICK_COUNT] = t ? t : 32;
      }
    }
  } else {
    Field(q, c, FLAGS) |= GLIDE;
    SetWord(q, c, GLIDE_ACC, 0);
    SetWord(q, c, GLIDE_STEP, x == 6 ? 0xFF00 + ((256 - v) & 0xFF) : v);
  }
}

// The command byte(s) at p; returns the address after the bytes read.
uint32_t CommandBytes(SqtPlayer* q, int32_t c, uint32_t p) {
  const uint8_t b = Read(q, p);
  if (b < 0x80) {
    Effect(q, c, b, p + 1);
    return p + 2;
  }
  const uint8_t s = (b >> 1) & 31;
  if (s) SampleCommand(q, c, s);
  if (!(b & 0x40)) return p + 1;
  const uint8_t d = Read(q, p + 1);
  const uint8_t o = static_cast<uint8_t>(16 * (b & 1) + (d >> 4));
  if (o) OrnamentCommand(q, c, o);
  if (!(d & 15)) return p + 2;
  Effect(q, c, d & 15, p + 2);
  return p + 3;
}

void Reapply(SqtPlayer* q, int32_t c) {
  const uint32_t saved = Word(q, c, SAVED);
  const uint8_t a = Read(q, saved);
  Field(q, c, FLAGS) &= static_cast<uint8_t>(~IN_LINE);
  if (a >= 0x80)
    SampleCommand(q, c, a & 31);
  else
    CommandBytes(q, c, saved + 1);
}

void DecodeColumn(SqtPlayer* q, int32_t c) {
  if (Field(q, c, REPEAT_COUNT)) {
    --Field(q, c, REPEAT_COUNT);
    if (Field(q, c, FLAGS) & REPEAT) Reapply(q, c);
    return;
  }
  Field(q, c, FLAGS) = static_cast<uint8_t>((Field(q, c, FLAGS) | IN_LINE) & ~REPEAT);
  const uint32_t at = Word(q, c, STREAM), p = (at + 1) & 0xFFFF;
  const uint8_t b = Read(q, at);
  if (b <= 0x5F) {
    Field(q, c, NOTE) = b;
    SetWord(q, c, SAVED, at);
    const uint32_t after = CommandBytes(q, c, p);
    if (Field(q, c, FLAGS) & IN_LINE) SetWord(q, c, STREAM, after);
  } else if (b <= 0x6E) {
    Effect(q, c, b - 0x60, p);
  } else if (b <= 0x7F) {
    q->MuteMask |= MIXER_BITS[c];
    Field(q, c, FLAGS) |= SILENT;
    if (b == 0x6F)
      SetWord(q, c, STREAM, p);
    else
      Effect(q, c, b - 0x6F, p);
  } else if (b <= 0x9F) {
    SetWord(q, c, STREAM, p);
    Field(q, c, NOTE) = static_cast<uint8_t>(b & 0x10 ? Field(q, c, NOTE) - (b & 15) : Field(q, c, NOTE) + (b & 15));
    Reapply(q, c);
  } else if (b <= 0xBF) {
    SetWord(q, c, STREAM, p);
    Field(q, c, REPEAT_COUNT) = b & 15;
    if (b >= 0xB1) Field(q, c, FLAGS) |= REPEAT;
    if (b >= 0xB0) Reapply(q, c);
  } else {
    SetWord(q, c, STREAM, p);
    SetWord(q, c, SAVED, at);
    SampleCommand(q, c, b & 31);
  }
}

// Synthesis of the three columns; writes their levels, tones, noise and the mixer.
void Synthesis(SqtPlayer* q) {
  uint8_t* r = q->Registers;
  uint32_t tone = 0, noise = 0;  // 1 = on; column 1 ends in bit 2
  for (int32_t c = 0; c < COLUMNS; ++c) {
    const uint8_t chan = Field(q, c, CHAN);
    tone <<= 1;
    noise <<= 1;
    if (Field(q, c, FLAGS) & SILENT) {
      r[R8 + chan] = 0;
      continue;
    }
    const uint32_t line = Word(q, c, SAM_LINE);
    const uint8_t b0 = Read(q, line), b1 = Read(q, line + 1), b2 = Read(q, line + 2);
    const uint8_t level = b0 & 15, atten = Field(q, c, ATTEN);
    r[R8 + chan] = level ? (level >= atten ? level - atten : 0) : (Field(q, c, FLAGS) & ENVELOPE ? 16 : 0);
    if (b1 & 0x20) r[R6] = static_cast<uint8_t>(2 * (b0 >> 4) + (b1 >> 7));
    tone |= (b1 >> 6) & 1;
    noise |= (b1 >> 5) & 1;
    const uint32_t deviation = 256 * (b1 & 15) + b2;
    SetWord(q, c, SAM_LINE, line + 3);
    uint8_t wrapLoop = 0xBF, wrapLength = 0xFD;  // what the player's registers hold without a wrap
    if (--Field(q, c, SAM_COUNT) == 0) {
      const uint32_t sample = Word(q, c, SAMPLE);
      wrapLoop = Read(q, sample);
      wrapLength = Read(q, sample + 1);
      if (wrapLoop == NO_LOOP) Field(q, c, FLAGS) = static_cast<uint8_t>((Field(q, c, FLAGS) | SILENT) & ~ORNAMENT);
      SetWord(q, c, SAM_LINE, sample + 2 + ((3 * wrapLoop) & 0xFF));
      Field(q, c, SAM_COUNT) = wrapLength;
    }
    uint8_t k = Field(q, c, NOTE);
    if (Field(q, c, FLAGS) & ORNAMENT) {
      const uint32_t at = Word(q, c, ORN_LINE);
      k = static_cast<uint8_t>(k + Read(q, at));
      SetWord(q, c, ORN_LINE, at + 1);
      if (--Field(q, c, ORN_COUNT) == 0) {
        const uint32_t start = Word(q, c, ORN_START);
        uint8_t loop = Read(q, start), length = Read(q, start + 1);
        if (loop == NO_LOOP) {
          loop = wrapLoop;
          length = wrapLength;
        }
        SetWord(q, c, ORN_LINE, start + 2 + loop);
        Field(q, c, ORN_COUNT) = length;
      }
    }
    k = static_cast<uint8_t>(k + Field(q, c, TRANSP));
    uint32_t period = k < NOTE_WORDS ? (q->Memory[NOTE_WORDS_AT + 2 * k] << 8) | q->Memory[NOTE_WORDS_AT + 2 * k + 1]
                                     : q->Memory[NOTE_BYTES_AT + k];
    period = (b1 & 0x10 ? period + deviation : period - deviation) & 0xFFFF;
    if (Field(q, c, FLAGS) & GLIDE) {
      const uint32_t acc = Word(q, c, GLIDE_ACC);
      period = (period + acc) & 0xFFFF;
      SetWord(q, c, GLIDE_ACC, acc + Word(q, c, GLIDE_STEP));
    }
    r[R0 + 2 * chan] = static_cast<uint8_t>(period);
    r[R1 + 2 * chan] = static_cast<uint8_t>(period >> 8);
  }
  r[R7] = static_cast<uint8_t>((255 - (8 * noise + tone)) | q->MuteMask);
}

bool PlaySqtFrame(void* player, uint8_t* registers, bool* shapeWritten) {
  SqtPlayer* q = static_cast<SqtPlayer*>(player);
  q->Registers = registers;
  q->ShapeWritten = shapeWritten;
  if (--q->Memory[TICK_COUNT] == 0) {
    q->Memory[TICK_COUNT] = q->Tempo;
    if (--q->Memory[LINE_COUNT] == 0 && !SwitchPosition(q)) return false;
    if (q->Memory[LINE_COUNT] < 4) Prefetch(q);
    for (int32_t c = 0; c < COLUMNS; ++c) DecodeColumn(q, c);
  }
  Synthesis(q);
  ++q->Frame;
  return !q->Fault;
}

int32_t ReadSqt(const uint8_t* bytes, size_t size, SourceTune* tune, std::string* why) {
  const size_t n = TurboSoundFirstModule(bytes, size);
  SqtLayout s;
  if (!SqtShape(bytes, n, &s)) {
    *why = "not an SQ-Tracker module (its header and position list do not agree)";
    return -1;
  }
  if (MODULE_AT + n > ZX_STACK_PAGE) {
    *why = "SQ-Tracker module of " + std::to_string(n) + " bytes: too long to end before #FF00 at #C510";
    return -1;
  }
  SqtPlayer q;
  q.Memory = ZxMemoryWith(bytes, n, MODULE_AT);
  q.End = MODULE_AT + static_cast<uint32_t>(n);
  // Move every stored address from the compile base to #C510: the header's five, then the
  // tables up to the highest pattern the position list plays.
  uint8_t* module = &q.Memory[MODULE_AT];
  const uint32_t move = (MODULE_AT - s.Base) & 0xFFFF;
  for (uint32_t at = 2; at <= s.Patterns + 2 * s.HighestPattern; at += 2) {
    const uint32_t word = (Le16(module + at) + move) & 0xFFFF;
    module[at] = static_cast<uint8_t>(word);
    module[at + 1] = static_cast<uint8_t>(word >> 8);
  }
  q.SamplesAt = Le16(module + 2);
  q.OrnamentsAt = Le16(module + 4);
  q.PatternsAt = Le16(module + 6);
  q.NextPos = Le16(module + 8);
  q.LoopAt = Le16(module + 10);
  q.Entries = s.Entries;
  q.LoopSwitch = (s.Loop - s.Positions) / ENTRY_SIZE;
  for (int32_t k = 0; k < NOTE_WORDS; ++k) {
    q.Memory[NOTE_WORDS_AT + 2 * k] = static_cast<uint8_t>(NOTE_TABLE[k] >> 8);
    q.Memory[NOTE_WORDS_AT + 2 * k + 1] = static_cast<uint8_t>(NOTE_TABLE[k]);
  }
  for (int32_t k = NOTE_WORDS; k < 96; ++k) q.Memory[NOTE_BYTES_AT + k] = static_cast<uint8_t>(NOTE_TABLE[k]);
  for (int32_t c = 0; c < COLUMNS; ++c) {
    Field(&q, c, FLAGS) = SILENT;
    Field(&q, c, CHAN) = static_cast<uint8_t>(2 - c);
  }
  q.Memory[TICK_COUNT] = q.Memory[LINE_COUNT] = 1;
  uint8_t registers[SOUND_REGISTERS] = {};
  bool written = false;
  q.Registers = registers;
  q.ShapeWritten = &written;
  for (int32_t k = 0; k < COLUMNS; ++k) Prefetch(&q);
  if (!q.Fault) RunModulePass(&q, PlaySqtFrame, tune);
  if (q.Fault) {
    *why = std::string("SQ-Tracker module refused: ") + q.Fault;
    return -1;
  }
  tune->Format = "SQT";
  tune->LoopFrame = q.LoopFrame;
  tune->Details = std::to_string(s.Entries) + (s.Entries == 1 ? " position" : " positions");
  if (s.Base != MODULE_AT) {
    char base[8];
    std::snprintf(base, sizeof base, "#%04X", s.Base);
    tune->Details += std::string(", compiled for ") + base;
  }
  if (n < size) tune->Notices.push_back("TurboSound file: the first of its two modules is played alone");
  return 0;
}

}  // namespace

const TuneReader SqtReader = {.Name = "SQT", .Detect = DetectSqt, .Read = ReadSqt};
