// SPDX-License-Identifier: GPL-2.0-or-later
// Sound Tracker (STC) compiled modules, played as the compiled Z80 player plays them (player at
// #C000, module at #C43C): one call of its play routine per 50 Hz frame. The player's quirks
// are kept: c + 1 positions, records found by number with a stride search, the sample's
// repeat, a silent channel A that still sets its mixer bits from a stale sample line, and an
// envelope shape written again until a running envelope clears it.
// Where it knowingly differs from the original: memory outside module and player reads 0 (on a
// Spectrum the ROM would be read there), and the CPU's C register between calls is #FD, as the
// player's own register output leaves it.
#include <cstring>

#include "formats/bytes.h"
#include "formats/module.h"
#include "formats/module_memory.h"
#include "formats/tune.h"

namespace {

constexpr uint16_t STC_PLAYER_END = 0xC43C;  // the module follows the player here
constexpr uint16_t STC_NOTES_AT = 0xC35F;    // 96 periods, then the player's last bytes
constexpr size_t STC_PLAYER_IMAGE = 0x43C;   // a file may start with the player itself
constexpr size_t SAMPLES_AT = 27, SAMPLE_BYTES = 99, ORNAMENT_BYTES = 33, PATTERN_BYTES = 7;
constexpr uint8_t END_OF_PATTERN = 0xFF, SILENT = 0xFF;
constexpr uint8_t IDLE_C = 0xFD;               // C as the previous call's register output leaves it
constexpr uint8_t AFTER_SAMPLE = 0x63, AFTER_ORNAMENT = 0x21;

// The note table and the bytes after it that notes 96..110 read: the player's last code bytes.
constexpr uint16_t NOTE_TABLE[110] = {
    0x0EF8, 0x0E10, 0x0D60, 0x0C80, 0x0BD8, 0x0B28, 0x0A88, 0x09F0, 0x0960, 0x08E0, 0x0858, 0x07E0, 0x077C, 0x0708,
    0x06B0, 0x0640, 0x05EC, 0x0594, 0x0544, 0x04F8, 0x04B0, 0x0470, 0x042C, 0x03F0, 0x03BE, 0x0384, 0x0358, 0x0320,
    0x02F6, 0x02CA, 0x02A2, 0x027C, 0x0258, 0x0238, 0x0216, 0x01F8, 0x01DF, 0x01C2, 0x01AC, 0x0190, 0x017B, 0x0165,
    0x0151, 0x013E, 0x012C, 0x011C, 0x010B, 0x00FC, 0x00EF, 0x00E1, 0x00D6, 0x00C8, 0x00BD, 0x00B2, 0x00A8, 0x009F,
    0x0096, 0x008E, 0x0085, 0x007E, 0x0077, 0x0070, 0x006B, 0x0064, 0x005E, 0x0059, 0x0054, 0x004F, 0x004B, 0x0047,
    0x0042, 0x003F, 0x003B, 0x0038, 0x0035, 0x0032, 0x002F, 0x002C, 0x002A, 0x0027, 0x0025, 0x0023, 0x0021, 0x001F,
    0x001D, 0x001C, 0x001A, 0x0019, 0x0017, 0x0016, 0x0015, 0x0013, 0x0012, 0x0011, 0x0010, 0x000F,
    0xAE21, 0xAFC0, 0x3EB6, 0x200D, 0xD605, 0x2B03, 0x2B2B, 0xFD0E, 0xFF06, 0x79ED, 0xBF06, 0xABED, 0xF23D, 0xC42F};
constexpr uint8_t PLAYER_LAST_BYTE = 0xC9;  // #C43B

struct StcChannel {
  uint16_t Stream;
  uint8_t Skip, SkipCount, Note, SamPos, SamCount;
  uint16_t Sample, Ornament;  // Z80 addresses of line 0 / the first offset
  uint8_t EnvState;           // 0 none, 1 just set, 2 running
};

struct StcPlayer {
  ZxBlock Block;
  size_t Size;
  uint16_t Module, Positions, Ornaments, Patterns;  // Z80 addresses
  StcChannel Channel[3];
  bool Started;  // channel A's stream still at the player's built-in #FF
  uint8_t Tempo, TickCount, PosIndex, PosCount, Transposition, Shape, EnvPeriod, LastC;
  int32_t Switches;
  int32_t SampleAt[16], OrnamentAt[16];  // where the player's search finds each number, or -1
  std::string Error;
};

uint8_t Peek(StcPlayer* p, uint32_t address) { return ZxRead(&p->Block, static_cast<uint16_t>(address)); }

// The first record from start on, at the given stride, whose number byte is x: its address;
// -1 when the module has none (the player would search on past its end).
int32_t Find(const StcPlayer* p, uint16_t start, size_t stride, uint8_t x) {
  for (uint32_t offset = static_cast<uint16_t>(start - p->Module); offset < p->Size; offset += stride)
    if (p->Block.Image[static_cast<uint16_t>(p->Module + offset)] == x) return static_cast<uint16_t>(p->Module + offset);
  return -1;
}

bool Found(StcPlayer* p, int32_t at, const char* what, uint8_t x) {
  if (at < 0) p->Error = std::string(what) + " " + std::to_string(x) + " is not in the module";
  return at >= 0;
}

bool SetOrnament(StcPlayer* p, StcChannel* ch, uint8_t number) {
  if (!Found(p, p->OrnamentAt[number], "ornament", number)) return false;
  ch->Ornament = static_cast<uint16_t>(p->OrnamentAt[number] + 1);
  ch->EnvState = 0;
  p->LastC = AFTER_ORNAMENT;
  return true;
}

// One line of a channel's stream.
bool DecodeLine(StcPlayer* p, StcChannel* ch) {
  for (;;) {
    const uint8_t b = Peek(p, ch->Stream++);
    if (p->Block.Fault) return false;
    if (b <= 0x5F) {
      ch->Note = b;
      ch->SamPos = 0;
      ch->SamCount = 32;
      return true;
    }
    if (b <= 0x6F) {
      if (!Found(p, p->SampleAt[b - 0x60], "sample", b - 0x60)) return false;
      ch->Sample = static_cast<uint16_t>(p->SampleAt[b - 0x60] + 1);
      p->LastC = AFTER_SAMPLE;
    } else if (b <= 0x7F) {
      if (!SetOrnament(p, ch, b - 0x70)) return false;
    } else if (b == 0x80) {
      ch->SamCount = SILENT;
      return true;
    } else if (b == 0x81) {
      return true;
    } else if (b == 0x82) {
      if (!SetOrnament(p, ch, 0)) return false;
    } else if (b <= 0x8E) {
      p->Shape = b - 0x80;
      p->EnvPeriod = Peek(p, ch->Stream++);
      if (!SetOrnament(p, ch, 0)) return false;
      ch->EnvState = 1;
    } else {
      ch->Skip = ch->SkipCount = static_cast<uint8_t>(b - 0xA1);
    }
  }
}

// Enters the next position; false when the module is refused.
bool SwitchPosition(StcPlayer* p) {
  uint8_t i = p->PosIndex;
  if (i >= p->PosCount) i = 0;
  p->PosIndex = static_cast<uint8_t>(i + 1);
  const uint8_t pattern = Peek(p, p->Positions + 1 + 2 * i);
  p->Transposition = Peek(p, p->Positions + 2 + 2 * i);
  const int32_t record = Find(p, p->Patterns, PATTERN_BYTES, pattern);
  if (!Found(p, record, "pattern", pattern)) return false;
  for (int32_t c = 0; c < 3; ++c)
    p->Channel[c].Stream = static_cast<uint16_t>(p->Module + ZxReadWord(&p->Block, static_cast<uint16_t>(record + 1 + 2 * c)));
  p->Started = false;
  p->LastC = static_cast<uint8_t>(p->Module & 0xFF);
  return true;
}

// Ends the pass for a refused module: the reason is the search's, or the fault's.
bool Refuse(StcPlayer* p) {
  if (p->Error.empty()) p->Error = ZxFaultText(p->Block);
  return false;
}

bool PlayStcFrame(void* player, uint8_t* r, bool* shapeWritten) {
  StcPlayer* p = static_cast<StcPlayer*>(player);
  if (--p->TickCount == 0) {
    p->TickCount = p->Tempo;
    for (int32_t c = 0; c < 3; ++c) {
      StcChannel* ch = &p->Channel[c];
      if (!(--ch->SkipCount & 0x80)) continue;
      ch->SkipCount = ch->Skip;
      if (c == 0 && (p->Started || Peek(p, ch->Stream) == END_OF_PATTERN)) {
        if (p->Switches++ == p->PosCount) return false;  // back at position 0: the pass is over
        if (!SwitchPosition(p)) return Refuse(p);
      }
      if (!DecodeLine(p, ch)) return Refuse(p);
    }
  }
  uint8_t mixer = 0;
  for (int32_t c = 0; c < 3; ++c) {
    StcChannel* ch = &p->Channel[c];
    if (ch->SamCount != SILENT) {
      --ch->SamCount;
      uint8_t line = ch->SamPos;
      ch->SamPos = (ch->SamPos + 1) & 31;
      if (ch->SamCount == 0) {
        const uint8_t repeat = Peek(p, ch->Sample + 96), length = Peek(p, ch->Sample + 97);
        if ((repeat - 1) & 0x80) {
          ch->SamCount = SILENT;
        } else {
          line = static_cast<uint8_t>(repeat - 1);
          ch->SamPos = repeat & 31;
          ch->SamCount = static_cast<uint8_t>(length + 1);
        }
      }
      p->LastC = line;
    }
    const bool sounding = ch->SamCount != SILENT;
    if (!sounding && c != 0) {
      r[R8 + c] = 0;
      continue;
    }
    // Channel A reads its line even when silent, and its mixer bits count.
    const uint16_t at = static_cast<uint16_t>(ch->Sample + ((3 * p->LastC) & 0xFF));
    const uint8_t b0 = Peek(p, at), b1 = Peek(p, at + 1), b2 = Peek(p, at + 2);
    mixer |= static_cast<uint8_t>(((b1 >> 6) & 1) << c | ((b1 >> 7) & 1) << (c + 3));
    if (!sounding) {
      r[R8 + c] = 0;
      continue;
    }
    const uint8_t k = static_cast<uint8_t>(ch->Note + Peek(p, ch->Ornament + p->LastC) + p->Transposition);
    uint16_t period = ZxReadWord(&p->Block, static_cast<uint16_t>(STC_NOTES_AT + ((2 * k) & 0xFF)));
    const uint16_t deviation = static_cast<uint16_t>((b0 >> 4) << 8 | b2);
    period = static_cast<uint16_t>(b1 & 0x20 ? period + deviation : period - deviation);
    r[R0 + 2 * c] = static_cast<uint8_t>(period & 0xFF);
    r[R1 + 2 * c] = static_cast<uint8_t>(period >> 8);
    if (!(b1 & 0x80)) r[R6] = b1 & 31;
    uint8_t amplitude = b0 & 15;
    if (ch->EnvState == 1) {
      ch->EnvState = 2;
      amplitude |= 16;
    } else if (ch->EnvState == 2) {
      p->Shape = 0;
      amplitude |= 16;
    }
    r[R8 + c] = amplitude;
  }
  if (p->Block.Fault) return Refuse(p);
  r[R7] = mixer;
  if (p->Shape != 0) {
    r[R13] = p->Shape;
    r[R12] = 0;
    r[R11] = p->EnvPeriod;
    *shapeWritten = true;
  }
  p->LastC = IDLE_C;
  return true;
}

uint16_t Word(const uint8_t* m, size_t at) { return static_cast<uint16_t>(Le16(m + at)); }

// The module inside a file: after a TurboSound wrapper, and after a copy of the player in front.
void UnwrapStc(const uint8_t** bytes, size_t* size) {
  *size = TurboSoundFirstModule(*bytes, *size);
  const uint8_t* b = *bytes;
  if (*size > STC_PLAYER_IMAGE + 27 && b[0] == 0x21 && b[3] == 0xC3 && b[6] == 0xC3 && b[9] == 0xF3 &&
      b[10] == 0x7E && b[11] == 0x32 && static_cast<uint16_t>(Word(b, 1) - (Word(b, 4) - 9)) == STC_PLAYER_IMAGE) {
    *bytes += STC_PLAYER_IMAGE;
    *size -= STC_PLAYER_IMAGE;
  }
}

// The structure every Sound Tracker module has; why names the first check that fails.
bool CheckStc(const uint8_t* m, size_t n, std::string* why) {
  if (n < SAMPLES_AT + SAMPLE_BYTES + ORNAMENT_BYTES + 10) return *why = "too short for a Sound Tracker module", false;
  const size_t pos = Word(m, 1), orn = Word(m, 3), pat = Word(m, 5);
  if (m[0] == 0 || pos >= n || orn >= n || pat >= n) return *why = "tempo 0 or a table offset past the end", false;
  size_t first = pos < orn ? pos : orn;
  first = first < pat ? first : pat;
  if (first < SAMPLES_AT + SAMPLE_BYTES || (first - SAMPLES_AT) % SAMPLE_BYTES != 0)
    return *why = "the samples do not fill the space before the tables", false;
  for (size_t s = SAMPLES_AT; s < first; s += SAMPLE_BYTES)
    if (m[s] > 15) return *why = "a sample number above 15", false;
  const size_t count = m[pos];
  if (pos + 3 + 2 * count > n) return *why = "the position list runs past the end", false;
  size_t end = pat;
  while (end < n && m[end] != END_OF_PATTERN) end += PATTERN_BYTES;
  if (end >= n) return *why = "the pattern table has no end mark", false;
  for (size_t i = 0; i <= count; ++i) {
    const uint8_t number = m[pos + 1 + 2 * i];
    size_t record = pat;
    while (record < end && m[record] != number) record += PATTERN_BYTES;
    if (record >= end || record + PATTERN_BYTES > n) return *why = "a position names a missing pattern", false;
    for (int32_t c = 0; c < 3; ++c)
      if (Word(m, record + 1 + 2 * c) >= n) return *why = "a pattern's stream lies past the end", false;
  }
  if (orn + ORNAMENT_BYTES > n || m[orn] != 0) return *why = "ornament 0 is missing", false;
  return true;
}

bool DetectStc(const uint8_t* bytes, size_t size) {
  std::string why;
  UnwrapStc(&bytes, &size);
  return CheckStc(bytes, size, &why);
}

int32_t ReadStc(const uint8_t* bytes, size_t size, SourceTune* tune, std::string* why) {
  const bool turboSound = TurboSoundFirstModule(bytes, size) != size;
  UnwrapStc(&bytes, &size);
  if (!CheckStc(bytes, size, why)) {
    *why = "not a Sound Tracker module: " + *why;
    return -1;
  }
  if (bytes[Word(bytes, 1)] == 255) {
    *why = "bad Sound Tracker module: 256 positions (the player repeats the first forever)";
    return -1;
  }
  uint8_t given[2 * 110 + 1];
  for (size_t k = 0; k < 110; ++k) {
    given[2 * k] = static_cast<uint8_t>(NOTE_TABLE[k] & 0xFF);
    given[2 * k + 1] = static_cast<uint8_t>(NOTE_TABLE[k] >> 8);
  }
  given[220] = PLAYER_LAST_BYTE;
  StcPlayer p{};
  if (LoadZxBlock(bytes, size, STC_PLAYER_END, given, sizeof given, STC_NOTES_AT, &p.Block, why) != 0) return -1;
  p.Size = size;
  p.Module = p.Block.ModuleAt;
  p.Positions = static_cast<uint16_t>(p.Module + Word(bytes, 1));
  p.Ornaments = static_cast<uint16_t>(p.Module + Word(bytes, 3));
  p.Patterns = static_cast<uint16_t>(p.Module + Word(bytes, 5));
  p.Tempo = bytes[0];
  p.TickCount = 1;
  p.PosCount = static_cast<uint8_t>(bytes[Word(bytes, 1)] + 1);
  p.Started = true;
  p.LastC = IDLE_C;
  for (uint8_t x = 0; x < 16; ++x) {
    p.SampleAt[x] = Find(&p, static_cast<uint16_t>(p.Module + SAMPLES_AT), SAMPLE_BYTES, x);
    p.OrnamentAt[x] = Find(&p, p.Ornaments, ORNAMENT_BYTES, x);
  }
  for (StcChannel& ch : p.Channel) {
    ch.SamCount = SILENT;
    ch.Ornament = static_cast<uint16_t>(p.Ornaments + 1);  // ornament 0: the first record
  }
  RunModulePass(&p, PlayStcFrame, tune);
  if (!p.Error.empty()) {
    *why = "bad Sound Tracker module: " + p.Error;
    return -1;
  }
  tune->Format = "STC";
  tune->LoopFrame = 0;
  tune->Details = std::to_string(p.PosCount) + " positions";
  if (turboSound) tune->Notices.push_back("TurboSound file: its first module is converted alone");
  return 0;
}

}  // namespace

const TuneReader StcReader = {.Name = "STC", .Detect = DetectStc, .Read = ReadStc};
