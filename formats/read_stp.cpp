// SPDX-License-Identifier: GPL-2.0-or-later
// Sound Tracker Pro (STP) modules, played as KSA Software's compiled Z80 player plays them at
// #C768 behind its player (at #4000 when too long for that place). A module saved by the
// editor (byte 9 = 0) gets the compiler's table count first. The bytes of the compiled block that
// the player reads as data (its note table, the empty ornament with the code and live variables
// behind it, the leftover sample addresses) are given here; a read of any other byte of the
// player, or of its stack, refuses the module.
#include <cstring>

#include "formats/bytes.h"
#include "formats/module.h"
#include "formats/module_block.h"
#include "formats/tune.h"

namespace {

constexpr uint32_t PLAYER_START = 0xC000, PLAYER_END = 0xC768;  // the module follows
constexpr uint32_t LOW_LOAD = 0x4000;        // where a module too long for #C768 goes
constexpr uint32_t EMPTY_ORNAMENT = 0xC046;  // 256 bytes the envelope ornament can read
constexpr uint32_t LEAD_IN = EMPTY_ORNAMENT + 3;
constexpr uint32_t NOTE_TABLE_AT = 0xC6A8;   // 96 little-endian words up to the module
constexpr size_t KSA_TEXT_AT = 10, KSA_NAME_AT = 38, KSA_TEXT_END = 63;
constexpr uint8_t SILENT_POS = 0xFC;
enum Channel { A, B, C, CHANNELS };

constexpr uint16_t NOTE_TABLE[96] = {
    0x0EF8, 0x0E10, 0x0D60, 0x0C80, 0x0BD8, 0x0B28, 0x0A88, 0x09F0, 0x0960, 0x08E0, 0x0858, 0x07E0,
    0x077C, 0x0708, 0x06B0, 0x0640, 0x05EC, 0x0594, 0x0544, 0x04F8, 0x04B0, 0x0470, 0x042C, 0x03F0,
    0x03BE, 0x0384, 0x0358, 0x0320, 0x02F6, 0x02CA, 0x02A2, 0x027C, 0x0258, 0x0238, 0x0216, 0x01F8,
    0x01DF, 0x01C2, 0x01AC, 0x0190, 0x017B, 0x0165, 0x0151, 0x013E, 0x012C, 0x011C, 0x010B, 0x00FC,
    0x00EF, 0x00E1, 0x00D6, 0x00C8, 0x00BD, 0x00B2, 0x00A8, 0x009F, 0x0096, 0x008E, 0x0085, 0x007E,
    0x0077, 0x0070, 0x006B, 0x0064, 0x005E, 0x0059, 0x0054, 0x004F, 0x004B, 0x0047, 0x0042, 0x003F,
    0x003B, 0x0038, 0x0035, 0x0032, 0x002F, 0x002C, 0x002A, 0x0027, 0x0025, 0x0023, 0x0021, 0x001F,
    0x001D, 0x001C, 0x001A, 0x0019, 0x0017, 0x0016, 0x0015, 0x0013, 0x0012, 0x0011, 0x0010, 0x000F};

// #C046..#C145 as the compiled block holds it: the empty ornament (3 zeros), the lead-in line
// `70 80 F1 D0 00` (ornament 0, skip 0, attenuation 0, silence), then player code. The cells of
// LiveCell hold variables and are read live.
constexpr uint8_t EMPTY_ORNAMENT_BYTES[256] = {
    0x00, 0x00, 0x00, 0x70, 0x80, 0xF1, 0xD0, 0x00, 0xF3, 0x22, 0xF0, 0xC0, 0x3E, 0xFC, 0x32, 0x9C,
    0xC4, 0x32, 0x06, 0xC5, 0x32, 0x73, 0xC5, 0x7E, 0x23, 0x32, 0x14, 0xC1, 0xCD, 0xEA, 0xC0, 0x7E,
    0x32, 0x78, 0xC6, 0x23, 0x7E, 0x32, 0x7C, 0xC6, 0x23, 0x22, 0x82, 0xC6, 0xCD, 0xE9, 0xC0, 0x22,
    0x8A, 0xC6, 0xE5, 0xCD, 0xE9, 0xC0, 0x22, 0xA3, 0xC3, 0x22, 0xB3, 0xC2, 0x22, 0xCD, 0xC1, 0xCD,
    0xE9, 0xC0, 0x22, 0x44, 0xC3, 0x22, 0x54, 0xC2, 0x22, 0x80, 0xC1, 0xEB, 0x7E, 0x36, 0x00, 0xE1,
    0xB7, 0x28, 0x0D, 0xCD, 0xEA, 0xC0, 0xEB, 0x2B, 0x72, 0x2B, 0x73, 0x23, 0x23, 0x3D, 0x20, 0xF3,
    0x21, 0x49, 0xC0, 0x0E, 0x03, 0x22, 0xE5, 0xC2, 0x22, 0xF5, 0xC1, 0x22, 0x1B, 0xC1, 0x67, 0x6F,
    0x22, 0x27, 0xC4, 0x22, 0xE3, 0xC3, 0x22, 0x21, 0xC4, 0x22, 0xDD, 0xC3, 0x32, 0x0B, 0xC1, 0x3D,
    0x32, 0x75, 0xC6, 0xAF, 0x32, 0xD3, 0xC5, 0x21, 0xF4, 0xC0, 0x06, 0x0D, 0x77, 0x23, 0x10, 0xFC,
    0x79, 0x32, 0xFF, 0xC0, 0x01, 0xFD, 0xFF, 0x3E, 0x0C, 0xED, 0x79, 0xAF, 0x06, 0xBF, 0xED, 0x79,
    0xC3, 0xC5, 0xC5, 0xEB, 0x5E, 0x23, 0x56, 0x23, 0xEB, 0x01, 0x00, 0x00, 0x09, 0xC9, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF3, 0xED, 0x73, 0xC3, 0xC5,
    0x16, 0x00, 0xD9, 0x01, 0xF0, 0x00, 0x21, 0xFF, 0xC0, 0x35, 0xC2, 0xE8, 0xC1, 0x36, 0x00, 0x23,
    0x35, 0xF2, 0xD0, 0xC3, 0x21, 0x00, 0x00, 0xB6, 0xCA, 0xD0, 0xC3, 0x7E, 0x23, 0xFE, 0xC0, 0x38,
    0x0D, 0x91, 0x30, 0x38, 0x91, 0x30, 0x3E, 0x91, 0x30, 0x41, 0x91, 0xC3, 0x9F, 0xC1, 0xD6, 0x80,
    0x30, 0x61, 0x91, 0xD2, 0xC4, 0xC1, 0x99, 0x30, 0x3D, 0x80, 0x32, 0x69, 0xC5, 0x22, 0x1B, 0xC1};
// Live cells (offsets from EMPTY_ORNAMENT).
enum : uint32_t {
  MODULE_LOW = 0xAA, MODULE_HIGH = 0xAB, TONE_A = 0xAE, TONE_B = 0xB0, TONE_C = 0xB2, LEVEL_A = 0xB4,
  SKIP_COUNT_B = 0xB7, SKIP_COUNT_A = 0xB8, TICK_CELL = 0xB9, SKIP_COUNT_C = 0xBA, HEIGHT_CELL = 0xC5,
  TEMPO_CELL = 0xCE, STREAM_C_LOW = 0xD5, STREAM_C_HIGH = 0xD6
};

// The synthesis parameters of one channel (live, or staged for A and B).
struct StpVoice {
  uint32_t OrnPtr, SamPtr;    // Z80 addresses: first ornament value; the sample's length byte
  uint8_t OrnLen, OrnLoop, Note, SamPos, SamLen4, SamLoop4, Att, Mask;
  uint32_t GlideAcc, GlideStep;  // words
};

struct StpLayout {
  uint32_t Positions, Patterns, Ornaments, Samples, TableWords;
};

bool StpShape(const uint8_t* bytes, size_t n, StpLayout* s) {
  if (n < 80) return false;
  s->Positions = Le16(bytes + 1);
  s->Patterns = Le16(bytes + 3);
  s->Ornaments = Le16(bytes + 5);
  s->Samples = Le16(bytes + 7);
  const uint32_t p = s->Positions, t2 = s->Patterns, t3 = s->Ornaments, t4 = s->Samples, r = bytes[9];
  if (!(10 <= p && p < t2 && t2 < t3 && t3 < t4 && t4 == t3 + 32 && t4 + 30 <= n)) return false;
  const uint32_t count = bytes[p];
  if (count < 1 || p + 2 + 2 * count > t2) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t b = bytes[p + 2 + 2 * i];
    if (b % 6 || t2 + b + 6 > t3) return false;
  }
  s->TableWords = ((t4 - t2) / 2 + 15) & 0xFF;
  if (r != 0) return r == s->TableWords;
  const bool ksa = std::memcmp(bytes + KSA_TEXT_AT, "KSA SOFTWARE COMPILATION OF ", 28) == 0;
  return Le16(bytes + t2) == 10 || (ksa && Le16(bytes + t2) == KSA_TEXT_END);
}

bool DetectStp(const uint8_t* bytes, size_t size) {
  StpLayout s;
  return StpShape(bytes, TurboSoundFirstModule(bytes, size), &s);
}

struct StpPlayer {
  std::vector<uint8_t> Memory;
  uint32_t Module;  // its address
  uint32_t PositionsAt, PatternsAt, OrnamentsAt, SamplesAt;
  uint8_t Count, LoopPosition;
  StpVoice Live[CHANNELS], Staged[2];
  uint8_t OrnPos[CHANNELS] = {0, 0x0F, 3};
  bool NotePending[2] = {true, false}, SamPosPending[2] = {false, false};
  uint8_t Tempo, TickCount = 3, PosIndex = 0xFF, Height = 0;
  uint8_t Skip[CHANNELS] = {}, SkipCount[CHANNELS] = {};
  uint32_t Stream[CHANNELS] = {LEAD_IN, LEAD_IN, LEAD_IN};
  uint8_t Shape = 0, R11Val = 0x1E, ShapeOut = 0, R11Out = 0;
  uint8_t Tone[CHANNELS][2] = {}, Level[CHANNELS] = {};
  uint8_t Mixer = 0, Noise = 0;  // the CPU register halves IXL and IXH
  uint32_t Switches = 0;
  int64_t Frame = 0, LoopFrame = -1;
  const char* Fault = nullptr;
};

// The byte at offset k of #C046..#C145, live cells read now.
uint8_t EmptyOrnamentByte(const StpPlayer* t, uint32_t k) {
  switch (k) {
    case MODULE_LOW: return static_cast<uint8_t>(t->Module);
    case MODULE_HIGH: return static_cast<uint8_t>(t->Module >> 8);
    case TONE_A: case TONE_A + 1: case TONE_B: case TONE_B + 1: case TONE_C: case TONE_C + 1:
      return t->Tone[(k - TONE_A) / 2][(k - TONE_A) % 2];
    case LEVEL_A: case LEVEL_A + 1: case LEVEL_A + 2: return t->Level[k - LEVEL_A];
    case SKIP_COUNT_A: return t->SkipCount[A];
    case SKIP_COUNT_B: return t->SkipCount[B];
    case SKIP_COUNT_C: return t->SkipCount[C];
    case TICK_CELL: return t->TickCount;
    case HEIGHT_CELL: return t->Height;
    case TEMPO_CELL: return t->Tempo;
    case STREAM_C_LOW: return static_cast<uint8_t>(t->Stream[C]);
    case STREAM_C_HIGH: return static_cast<uint8_t>(t->Stream[C] >> 8);
    default: return EMPTY_ORNAMENT_BYTES[k];
  }
}

uint8_t Read(StpPlayer* t, uint32_t address) {
  address &= 0xFFFF;
  if (address >= PLAYER_START && address < PLAYER_END) {
    if (address - EMPTY_ORNAMENT < 256) return EmptyOrnamentByte(t, address - EMPTY_ORNAMENT);
    if (address >= NOTE_TABLE_AT) {
      const uint16_t word = NOTE_TABLE[(address - NOTE_TABLE_AT) / 2];
      return static_cast<uint8_t>((address - NOTE_TABLE_AT) % 2 ? word >> 8 : word);
    }
  } else if (address < ZX_STACK_PAGE) {
    return t->Memory[address];
  }
  if (!t->Fault) t->Fault = "the player reads its own code or stack (a pointer runs outside the module)";
  return 0;
}
uint32_t ReadWord(StpPlayer* t, uint32_t address) { return Read(t, address) | (Read(t, address + 1) << 8); }

// False when the switch ends the pass.
bool SwitchPosition(StpPlayer* t) {
  if (t->Switches == t->Count) return false;
  if (t->Switches == t->LoopPosition) t->LoopFrame = t->Frame;
  ++t->Switches;
  uint8_t i = static_cast<uint8_t>(t->PosIndex + 1);
  if (i == t->Count) i = t->LoopPosition;
  t->PosIndex = i;
  const uint32_t entry = t->PositionsAt + 2 + 2 * i;
  const uint32_t pattern = t->PatternsAt + Read(t, entry);
  t->Height = static_cast<uint8_t>(0x60 + Read(t, entry + 1));
  for (int32_t x = A; x < CHANNELS; ++x) t->Stream[x] = ReadWord(t, pattern + 2 * x);
  return true;
}

void DecodeLine(StpPlayer* t, int32_t x) {
  StpVoice* v = x == C ? &t->Live[C] : &t->Staged[x];
  uint32_t at = t->Stream[x];
  for (uint32_t guard = 0; guard < ZX_MEMORY_SIZE && !t->Fault; ++guard) {
    const uint8_t b = Read(t, at++);
    if (b <= 0x60) {
      v->Note = static_cast<uint8_t>(b + 0x9F + t->Height);
      v->SamPos = 0;
      if (x == C) {
        t->OrnPos[C] = 0;
        v->GlideAcc = 0;
      } else {
        t->NotePending[x] = t->SamPosPending[x] = true;
      }
      break;
    } else if (b <= 0x6F) {
      const uint32_t sample = ReadWord(t, t->SamplesAt + 2 * (b - 0x61));
      v->SamLoop4 = static_cast<uint8_t>(4 * Read(t, sample));
      v->SamLen4 = static_cast<uint8_t>(4 * Read(t, sample + 1));
      v->SamPtr = (sample + 1) & 0xFFFF;
    } else if (b <= 0x7F) {
      const uint32_t ornament = ReadWord(t, t->OrnamentsAt + 2 * (b - 0x70));
      v->OrnLoop = Read(t, ornament);
      v->OrnLen = Read(t, ornament + 1);
      v->OrnPtr = (ornament + 2) & 0xFFFF;
      v->Mask = 0x0F;
      v->GlideStep = 0;
    } else if (b <= 0xBF) {
      t->Skip[x] = b - 0x80;
    } else if (b <= 0xCF) {
      t->Shape = b - 0xC0;
      t->R11Val = Read(t, at++);
      v->Mask = 0x1F;
      v->OrnPtr = EMPTY_ORNAMENT;
      v->OrnLen = 1;
      v->OrnLoop = 0;
      v->GlideStep = 0;
    } else if (b <= 0xDF) {
      v->SamPos = SILENT_POS;
      if (x != C) t->SamPosPending[x] = true;
      break;
    } else if (b <= 0xEF) {
      break;
    } else if (b == 0xF0) {
      v->GlideStep = static_cast<uint32_t>(static_cast<int8_t>(Read(t, at++))) & 0xFFFF;
    } else {
      v->Att = b - 0xF1;
    }
  }
  t->Stream[x] = at & 0xFFFF;
  t->SkipCount[x] = t->Skip[x];
}

// B then A: the staged values go live.
void Apply(StpPlayer* t) {
  for (int32_t x = B; x >= A; --x) {
    StpVoice* live = &t->Live[x];
    const StpVoice& staged = t->Staged[x];
    const uint32_t glideAcc = live->GlideAcc;
    const uint8_t samPos = live->SamPos;
    *live = staged;
    live->GlideAcc = glideAcc;
    live->SamPos = samPos;
    if (t->NotePending[x]) {
      live->GlideAcc = 0;
      t->OrnPos[x] = 0;
    }
    if (t->SamPosPending[x]) live->SamPos = staged.SamPos;
    t->NotePending[x] = t->SamPosPending[x] = false;
  }
  t->ShapeOut = t->Shape;
  t->R11Out = t->R11Val;
  t->Shape = 0;
}

void Synthesis(StpPlayer* t, int32_t x) {
  StpVoice* v = &t->Live[x];
  const uint8_t offset = Read(t, v->OrnPtr + t->OrnPos[x]);
  const uint8_t next = static_cast<uint8_t>(t->OrnPos[x] + 1);
  t->OrnPos[x] = next == v->OrnLen ? v->OrnLoop : next;
  const uint32_t k = (2 * (v->Note + offset)) & 0xFF;
  const uint32_t period = ReadWord(t, NOTE_TABLE_AT + k);
  const uint8_t a = static_cast<uint8_t>(v->SamPos + 1);
  if (a >= 0x80) {
    t->Level[x] = 0;
    t->Mixer = x == A ? 0x09 : t->Mixer | (x == B ? 0x12 : 0x24);
    return;
  }
  const uint32_t line = v->SamPtr + a;
  const uint8_t s0 = Read(t, line), s1 = Read(t, line + 1);
  const uint32_t w = ReadWord(t, line + 2);
  const uint8_t after = static_cast<uint8_t>(a + 3);
  v->SamPos = after == v->SamLen4 ? v->SamLoop4 : after;
  const int32_t level = (s0 & 15) - v->Att;
  t->Level[x] = static_cast<uint8_t>(((level > 0 ? level : 0) | (s1 & 1 ? 16 : 0)) & v->Mask);
  const uint8_t m = s0 >> 4;
  if (x == A) {
    t->Mixer = m;
    if (!(s0 & 0x80)) t->Noise = s1 >> 1;
  } else {
    t->Mixer |= static_cast<uint8_t>(m << x);
    if (!(t->Mixer & (x == B ? 0x10 : 0x20))) t->Noise = s1 >> 1;
  }
  v->GlideAcc = (v->GlideAcc + v->GlideStep) & 0xFFFF;
  const uint32_t tone = (v->GlideAcc + period + w) & 0x0FFF;
  t->Tone[x][0] = static_cast<uint8_t>(tone);
  t->Tone[x][1] = static_cast<uint8_t>(tone >> 8);
}

bool PlayStpFrame(void* player, uint8_t* r, bool* shapeWritten) {
  StpPlayer* t = static_cast<StpPlayer*>(player);
  t->TickCount = static_cast<uint8_t>(t->TickCount - 1);
  if (t->TickCount == 0) {
    t->TickCount = t->Tempo;
    if (--t->SkipCount[C] & 0x80 && Read(t, t->Stream[C])) DecodeLine(t, C);
    Apply(t);
  } else if (t->TickCount == 1) {
    if (--t->SkipCount[B] & 0x80 && Read(t, t->Stream[B])) DecodeLine(t, B);
  } else if (t->TickCount == 2 && --t->SkipCount[A] & 0x80) {
    if (Read(t, t->Stream[A])) {
      DecodeLine(t, A);
    } else {
      // The pattern ends when all three channels stand at a 0 byte. After a switch a 0 is a
      // note, except with height #A0, where the end test is made again.
      while (!Read(t, t->Stream[B]) && !Read(t, t->Stream[C]) && !t->Fault) {
        if (!SwitchPosition(t)) return false;
        if (t->Height != 0 || Read(t, t->Stream[A])) {
          DecodeLine(t, A);
          break;
        }
      }
    }
  }
  for (int32_t x = A; x < CHANNELS; ++x) Synthesis(t, x);
  if (t->ShapeOut) {
    r[R13] = t->ShapeOut;
    r[R11] = t->R11Out;
    *shapeWritten = true;
    t->ShapeOut = 0;
  }
  for (int32_t x = A; x < CHANNELS; ++x) {
    r[R8 + x] = t->Level[x];
    r[R0 + 2 * x] = t->Tone[x][0];
    r[R1 + 2 * x] = t->Tone[x][1];
  }
  r[R7] = t->Mixer;
  r[R6] = t->Noise;
  ++t->Frame;
  return !t->Fault;
}

int32_t ReadStp(const uint8_t* bytes, size_t size, SourceTune* tune, std::string* why) {
  const size_t n = TurboSoundFirstModule(bytes, size);
  StpLayout s;
  if (!StpShape(bytes, n, &s)) {
    *why = "not a Sound Tracker Pro module (its header and tables do not agree)";
    return -1;
  }
  StpPlayer t;
  t.Module = PLAYER_END + n <= ZX_STACK_PAGE ? PLAYER_END : LOW_LOAD;
  if (t.Module == LOW_LOAD && LOW_LOAD + n > PLAYER_START) {
    *why = "Sound Tracker Pro module of " + std::to_string(n) + " bytes: too long for the player's memory";
    return -1;
  }
  t.Memory = ZxMemoryWith(bytes, n, t.Module);
  // INIT: the pattern, ornament and sample tables become addresses; byte 9 becomes 0.
  uint8_t* module = &t.Memory[t.Module];
  for (uint32_t i = 0; i < s.TableWords; ++i) {
    uint8_t* word = module + s.Patterns + 2 * i;
    const uint32_t value = (Le16(word) + t.Module) & 0xFFFF;
    word[0] = static_cast<uint8_t>(value);
    word[1] = static_cast<uint8_t>(value >> 8);
  }
  module[9] = 0;
  t.PositionsAt = t.Module + s.Positions;
  t.PatternsAt = t.Module + s.Patterns;
  t.OrnamentsAt = t.Module + s.Ornaments;
  t.SamplesAt = t.Module + s.Samples;
  t.Count = bytes[s.Positions];
  t.LoopPosition = bytes[s.Positions + 1];
  t.Tempo = bytes[0];
  // What the compiled block holds before INIT: the sample each channel would play before its
  // first sample command, and the notes and envelope ornament left by the editor.
  constexpr uint32_t LEFT_SAMPLE[CHANNELS] = {0xCC98, 0xCE7C, 0xCD62};
  constexpr uint8_t LEFT_LENGTH[CHANNELS] = {0x10, 0x20, 0x38}, LEFT_LOOP[CHANNELS] = {0x0C, 0x00, 0x28};
  constexpr uint8_t LEFT_NOTE[CHANNELS] = {0x18, 0x24, 0x30};
  for (int32_t x = A; x < CHANNELS; ++x) {
    t.Live[x] = StpVoice{.OrnPtr = EMPTY_ORNAMENT, .SamPtr = LEFT_SAMPLE[x], .OrnLen = 1, .OrnLoop = 0,
                         .Note = LEFT_NOTE[x], .SamPos = SILENT_POS, .SamLen4 = LEFT_LENGTH[x],
                         .SamLoop4 = LEFT_LOOP[x], .Att = 0, .Mask = 0x0F, .GlideAcc = 0, .GlideStep = 0};
    if (x != C) t.Staged[x] = t.Live[x];
  }
  RunModulePass(&t, PlayStpFrame, tune);
  if (t.Fault) {
    *why = std::string("Sound Tracker Pro module refused: ") + t.Fault;
    return -1;
  }
  tune->Format = "STP";
  tune->LoopFrame = t.LoopPosition < t.Count ? t.LoopFrame : -1;
  if (std::memcmp(bytes + KSA_TEXT_AT, "KSA SOFTWARE COMPILATION OF ", 28) == 0) {
    std::string name(reinterpret_cast<const char*>(bytes + KSA_NAME_AT), KSA_TEXT_END - KSA_NAME_AT);
    name.erase(name.find_last_not_of(' ') + 1);
    tune->Title = name;
  }
  tune->Details = std::to_string(t.Count) + (t.Count == 1 ? " position" : " positions") + (bytes[9] == 0 ? ", saved by the editor" : "");
  if (n < size) tune->Notices.push_back("TurboSound file: the first of its two modules is played alone");
  return 0;
}

}  // namespace

const TuneReader StpReader = {.Name = "STP", .Detect = DetectStp, .Read = ReadStp};
