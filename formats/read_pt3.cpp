// SPDX-License-Identifier: GPL-2.0-or-later
// Pro Tracker 3 modules (versions 3.0 to 3.7, also as Vortex Tracker II writes them), played
// frame by frame as the Vortex Tracker II Z80 player plays them. A TurboSound file (AlCo: two
// chips in one module; or two modules with a "02TS" footer) gives its first chip, as the
// universal PT2/PT3 player plays it.
#include <cstring>

#include "formats/bytes.h"
#include "formats/pt_player.h"

namespace {

constexpr char PT3_TEXT[] = "ProTracker 3.";       // bytes 0..12
constexpr char VT_TEXT[] = "Vortex Tracker II";    // bytes 0..16
constexpr uint32_t VERSION_AT = 13, TITLE_AT = 30, AUTHOR_AT = 66, NAME_BYTES = 32;
constexpr uint32_t TS_MARK_AT = 98, TABLE_AT = 99, TEMPO_AT = 100, LOOP_AT = 102, PATTERNS_AT = 103;
constexpr uint32_t SAMPLES_AT = 105, ORNAMENTS_AT = 169, LIST_AT = 201;
constexpr uint32_t MIN_SIZE = LIST_AT + 2;  // one position and the list's end
constexpr uint8_t SINGLE_CHIP = 0x20;       // byte 98 of a one-chip module
constexpr uint32_t FOOTER = 16;             // two-module TurboSound: "PT3!" size1 type2 size2 "02TS"
constexpr uint32_t MAX_MODULE = 65536;      // offsets are 16-bit words

// Pattern commands that read parameters or act; the others (0, 6, 7, 10..15) do nothing.
enum : uint8_t { GLISSANDO = 1, PORTAMENTO = 2, SAMPLE_POS = 3, ORNAMENT_POS = 4, ON_OFF = 5, ENV_SLIDE = 8, TEMPO = 9 };
constexpr uint16_t ACTIVE_COMMANDS =
    1 << GLISSANDO | 1 << PORTAMENTO | 1 << SAMPLE_POS | 1 << ORNAMENT_POS | 1 << ON_OFF | 1 << ENV_SLIDE | 1 << TEMPO;

bool DetectPt3(const uint8_t* bytes, size_t size) {
  return (size >= 13 && std::memcmp(bytes, PT3_TEXT, 13) == 0) || (size >= 17 && std::memcmp(bytes, VT_TEXT, 17) == 0);
}

void SetSample(PtModule* m, PtChannel* c, uint32_t entry) {
  c->Sample = PtObject{PT_IN_MODULE, PtModuleWord(m, entry, "sample"), static_cast<int32_t>(entry - SAMPLES_AT) / 2};
}

void SetOrnament(PtModule* m, PtChannel* c, uint8_t number) {
  c->OrnPos = 0;
  c->Ornament = PtObject{PT_IN_MODULE, PtModuleWord(m, ORNAMENTS_AT + 2u * number, "ornament"), number};
}

// Shape and big-endian period from the stream; the envelope slide starts again.
void SetEnvelope(PtModule* m, PtChip* chip, int32_t ch, uint8_t shape) {
  PtChannel* c = &chip->Channels[ch];
  const uint8_t high = PtStreamByte(m, chip, ch);
  const uint8_t low = PtStreamByte(m, chip, ch);
  PtSetShape(chip, c, shape, static_cast<uint16_t>(high << 8 | low));
  c->OrnPos = 0;
  chip->EnvSlideCount = 0;
  chip->EnvSlide = 0;
}

void LineReset(PtChannel* c) {
  c->OrnPos = c->SamPos = 0;
  c->VolSlide = 0;
  c->NoiseAcc = c->EnvAcc = 0;
  c->SlideCount = 0;
  c->Slide = c->ToneAcc = 0;
  c->OnOffCount = c->OnTime = 0;
}

// A pending command, with its parameters read from the stream after the line.
void RunCommand(PtModule* m, PtChip* chip, int32_t ch, uint8_t command, uint8_t prevNote, uint16_t prevSlide) {
  PtChannel* c = &chip->Channels[ch];
  auto next = [&] { return PtStreamByte(m, chip, ch); };
  switch (command) {
    case GLISSANDO: {
      const uint8_t delay = next();
      const uint8_t lo = next(), hi = next();
      c->Gliss = true;
      c->SlideDelay = delay;
      c->SlideCount = delay != 0 ? delay : m->Version >= 7 ? 1 : 0;
      c->SlideStep = static_cast<uint16_t>(hi << 8 | lo);
      c->OnOffCount = 0;
      break;
    }
    case PORTAMENTO: {
      const uint8_t delay = next();
      next();  // a precomputed distance the player does not trust
      next();
      const uint8_t lo = next(), hi = next();
      c->Gliss = false;
      c->SlideDelay = c->SlideCount = delay;
      c->TargetNote = c->Note;
      c->SlideDelta = static_cast<uint16_t>(m->Notes[c->TargetNote] - m->Notes[prevNote]);
      c->Note = prevNote;
      if (m->Version >= 6) c->Slide = prevSlide;
      const uint16_t s = c->Slide;
      const uint16_t r = hi == 0 ? static_cast<uint16_t>(c->SlideDelta - s) : static_cast<uint16_t>(s - c->SlideDelta);
      c->SlideStep = PtSignedStep(r, lo, hi);
      c->OnOffCount = 0;
      break;
    }
    case SAMPLE_POS:
      c->SamPos = next();
      break;
    case ORNAMENT_POS:
      c->OrnPos = next();
      break;
    case ON_OFF:
      c->OnTime = c->OnOffCount = next();
      c->OffTime = next();
      c->SlideCount = 0;
      c->Slide = 0;
      break;
    case ENV_SLIDE: {
      chip->EnvSlideDelay = chip->EnvSlideCount = next();
      const uint8_t lo = next(), hi = next();
      chip->EnvSlideStep = static_cast<uint16_t>(hi << 8 | lo);
      break;
    }
    case TEMPO:
      PtSetTempo(chip, next());
      break;
  }
}

void DecodePt3(PtModule* m, PtChip* chip, int32_t ch) {
  PtChannel* c = &chip->Channels[ch];
  const uint8_t prevNote = c->Note;
  const uint16_t prevSlide = c->Slide;
  m->Pending.clear();
  for (bool lineEnds = false; !lineEnds && !m->Failed;) {
    const uint8_t b = PtStreamByte(m, chip, ch);
    if (b <= 0x0F) {
      if (ACTIVE_COMMANDS >> b & 1) m->Pending.push_back(b);
    } else if (b == 0x10) {
      const uint8_t s = PtStreamByte(m, chip, ch);
      c->EnvOn = 0;
      c->OrnPos = 0;
      SetSample(m, c, SAMPLES_AT + (m->MaskSampleByte ? s & 0xFE : s));
    } else if (b <= 0x1F) {
      SetEnvelope(m, chip, ch, b - 0x10);
      const uint8_t s = PtStreamByte(m, chip, ch);
      SetSample(m, c, SAMPLES_AT + (m->MaskSampleByte ? s & 0xFE : s));
    } else if (b <= 0x3F) {
      chip->NoiseBase = b - 0x20;
    } else if (b <= 0x4F) {
      SetOrnament(m, c, b - 0x40);
    } else if (b <= 0xAF) {
      c->Note = b - 0x50;
      c->Enabled = true;
      LineReset(c);
      lineEnds = true;
    } else if (b == 0xB0) {
      c->EnvOn = 0;
      c->OrnPos = 0;
    } else if (b == 0xB1) {
      c->LineSkip = PtStreamByte(m, chip, ch);
    } else if (b <= 0xBF) {
      SetEnvelope(m, chip, ch, b - 0xB1);
    } else if (b == 0xC0) {
      c->Enabled = false;
      LineReset(c);
      lineEnds = true;
    } else if (b <= 0xCF) {
      c->Volume = b - 0xC0;
    } else if (b == 0xD0) {
      lineEnds = true;
    } else if (b <= 0xEF) {
      SetSample(m, c, SAMPLES_AT + 2u * (b - 0xD0));
    } else {
      const uint8_t s = PtStreamByte(m, chip, ch);
      c->EnvOn = 0;
      SetOrnament(m, c, b - 0xF0);
      SetSample(m, c, SAMPLES_AT + (s & 0xFE));
    }
  }
  c->LineCount = c->LineSkip;
  for (size_t i = m->Pending.size(); i-- > 0 && !m->Failed;) RunCommand(m, chip, ch, m->Pending[i], prevNote, prevSlide);
}

// The pattern-table entry of position byte v and the three streams it names lie in the module.
bool CheckPattern(const PtModule& m, uint8_t v, int32_t position, std::string* why) {
  const uint32_t entry = PtPatternEntry(m, v);
  if (entry + 6 > m.Size) {
    *why = "the pattern table entry of position " + std::to_string(position) + " (byte " + std::to_string(v) +
           ") at offset " + std::to_string(entry) + " is past the end of the module (" + std::to_string(m.Size) + " bytes)";
    return false;
  }
  for (int32_t ch = 0; ch < 3; ++ch) {
    const uint32_t stream = static_cast<uint16_t>(Le16(m.Bytes + entry + 2 * ch) + m.ObjectBase);
    if (stream >= m.Size) {
      *why = "pattern " + std::to_string(m.Pt2 ? v : v / 3) + " channel " + "ABC"[ch] + " starts at offset " +
             std::to_string(stream) + ", past the end of the module (" + std::to_string(m.Size) + " bytes)";
      return false;
    }
  }
  return true;
}

int32_t ReadPt3(const uint8_t* bytes, size_t size, SourceTune* tune, std::string* why) {
  PtModule m;
  m.Bytes = bytes;
  // A two-module TurboSound file: module 1 is the first size1 bytes.
  bool twoModules = false;
  if (size > FOOTER && std::memcmp(bytes + size - 4, "02TS", 4) == 0) {
    const uint8_t* footer = bytes + size - FOOTER;
    const size_t size1 = Le16(footer + 4), size2 = Le16(footer + 10);
    if (size1 + size2 == size - FOOTER) {
      twoModules = true;
      size = size1;
    }
  }
  if (size < MIN_SIZE) {
    *why = "PT3 module of " + std::to_string(size) + " bytes is shorter than its header and position list (" +
           std::to_string(MIN_SIZE) + " bytes)";
    return -1;
  }
  m.Size = static_cast<uint32_t>(size < MAX_MODULE ? size : MAX_MODULE);
  const uint8_t versionByte = bytes[VERSION_AT];
  m.Version = versionByte >= '0' && versionByte <= '9' ? versionByte - '0' : 6;
  m.ListAt = LIST_AT;
  const uint8_t* end = static_cast<const uint8_t*>(std::memchr(bytes + LIST_AT, 0xFF, m.Size - LIST_AT));
  if (!end) {
    *why = "the position list has no end (no 0xFF byte from offset 201 on)";
    return -1;
  }
  m.ListLength = static_cast<int32_t>(end - (bytes + LIST_AT));
  if (m.ListLength == 0) {
    *why = "the position list is empty";
    return -1;
  }
  m.Loop = bytes[LOOP_AT];
  if (m.Loop >= m.ListLength) {
    *why = "loop position " + std::to_string(m.Loop) + " is past the end of the " + std::to_string(m.ListLength) +
           "-entry position list";
    return -1;
  }
  m.PatternTable = Le16(bytes + PATTERNS_AT);
  const bool alco = m.Version >= 7 && bytes[TS_MARK_AT] != SINGLE_CHIP;
  m.ChipCount = alco ? 2 : 1;
  m.MaskSampleByte = alco || twoModules;
  const uint8_t reverseBase = static_cast<uint8_t>(3 * bytes[TS_MARK_AT] - 3);
  for (int32_t i = 0; i < m.ListLength; ++i) {
    const uint8_t v = bytes[LIST_AT + i];
    if (!CheckPattern(m, v, i, why) || (alco && !CheckPattern(m, static_cast<uint8_t>(reverseBase - v), i, why)))
      return -1;
  }
  const int32_t table = bytes[TABLE_AT] & 3;
  BuildNoteTable(table, m.Version < 4, m.Notes);
  BuildVolumeTable(m.Version <= 4, m.Volumes);
  m.Decode = DecodePt3;
  ResetPtChips(&m, bytes[TEMPO_AT], PtObject{PT_PT3_BUILTIN, 0, 0}, PtObject{PT_PT3_BUILTIN, 0, 0});
  m.Chips[1].Reversed = true;
  m.Chips[1].ReverseBase = reverseBase;

  const bool vortex = std::memcmp(bytes, VT_TEXT, 17) == 0;
  tune->Format = "PT3 3." + std::to_string(m.Version) + (vortex ? " (Vortex Tracker II)" : "");
  tune->Title = PtText(bytes + TITLE_AT, NAME_BYTES);
  tune->Author = PtText(bytes + AUTHOR_AT, NAME_BYTES);
  tune->Details = "note table " + std::to_string(table);
  if (alco)
    tune->Notices.push_back("TurboSound module (two chips in one module): converting the first chip only");
  if (twoModules)
    tune->Notices.push_back("TurboSound file (two modules): converting the first module only");
  return RunPtPass(&m, tune, why);
}

}  // namespace

const TuneReader Pt3Reader = {.Name = "PT3", .Detect = DetectPt3, .Read = ReadPt3};
