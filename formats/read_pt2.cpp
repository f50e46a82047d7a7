// SPDX-License-Identifier: GPL-2.0-or-later
// Pro Tracker 2 modules, played frame by frame as the universal PT2/PT3 Z80 player plays them
// (its PT3 3.5 volume table, note table 1). PT2 has no magic text: a module is recognised by
// the structure of its header and position list.
#include <cstring>

#include "formats/bytes.h"
#include "formats/pt_player.h"

namespace {

constexpr uint32_t TEMPO_AT = 0, COUNT_AT = 1, LOOP_AT = 2, SAMPLES_AT = 3, ORNAMENTS_AT = 67, PATTERNS_AT = 99;
constexpr uint32_t TITLE_AT = 101, TITLE_BYTES = 30, LIST_AT = 131;
constexpr uint8_t MAX_OFFSET_HIGH = 0x36;  // high byte of every sample and ornament offset
constexpr uint8_t MAX_TABLE_HIGH = 0x01;   // high byte of the pattern-table offset
constexpr uint8_t MAX_PATTERN = 0x1F;      // position-list entries
constexpr int32_t MAX_POSITIONS = 255;
constexpr uint32_t MAX_MODULE = 65536;

// Entries of the position list before its 0xFF, or 0 when it is no PT2 list.
int32_t ListLength(const uint8_t* bytes, size_t size) {
  for (int32_t i = 0; i <= MAX_POSITIONS && LIST_AT + i < size; ++i) {
    const uint8_t v = bytes[LIST_AT + i];
    if (v == 0xFF) return i;
    if (v > MAX_PATTERN) return 0;
  }
  return 0;
}

bool DetectPt2(const uint8_t* bytes, size_t size) {
  if (size < LIST_AT + 2 || bytes[TEMPO_AT] < 2 || bytes[COUNT_AT] < 1 || bytes[LOOP_AT] == 0xFF) return false;
  for (uint32_t at = SAMPLES_AT + 1; at < PATTERNS_AT; at += 2)
    if (bytes[at] > MAX_OFFSET_HIGH) return false;
  if (bytes[PATTERNS_AT + 1] > MAX_TABLE_HIGH) return false;
  const int32_t n = ListLength(bytes, size);
  return n >= 1 && Le16(bytes + PATTERNS_AT) == LIST_AT + n + 1;
}

uint32_t ObjectAt(PtModule* m, uint32_t entry, const char* what) {
  return static_cast<uint16_t>(PtModuleWord(m, entry, what) + m->ObjectBase);
}

void DecodePt2(PtModule* m, PtChip* chip, int32_t ch) {
  PtChannel* c = &chip->Channels[ch];
  bool slideSeen = false;  // a glissando or portamento command on this line
  uint8_t portaStep = 0;
  for (bool lineEnds = false; !lineEnds && !m->Failed;) {
    const uint8_t b = PtStreamByte(m, chip, ch);
    if (b >= 0xE1) {
      c->Sample = PtObject{PT_IN_MODULE, ObjectAt(m, SAMPLES_AT + 2u * (b - 0xE0), "sample"), b - 0xE0};
    } else if (b == 0xE0) {  // rest
      c->Enabled = c->Gliss = false;
      c->SamPos = c->OrnPos = 0;
      c->Slide = 0;
      lineEnds = true;
    } else if (b >= 0x80) {  // note
      const uint8_t oldNote = c->Note;
      c->Note = b - 0x80;
      c->SlideCount = 0;
      c->Enabled = true;
      if (slideSeen && c->Gliss) {
        c->SlideCount = 1;
      } else if (slideSeen) {
        c->SlideDelay = c->SlideCount = 1;
        c->TargetNote = c->Note;
        c->SlideDelta = static_cast<uint16_t>(m->Notes[c->Note] - m->Notes[oldNote]);
        c->Note = oldNote;
        const uint8_t hi = portaStep >= 0x80 ? 0xFF : 0;
        // The player's borrow flag is still set when the step is negative: one less.
        const uint16_t r = hi == 0 ? c->SlideDelta : static_cast<uint16_t>(0 - c->SlideDelta - 1);
        c->SlideStep = PtSignedStep(r, portaStep, hi);
        c->OnOffCount = 0;
      }
      c->SamPos = c->OrnPos = 0;
      c->Slide = 0;
      lineEnds = true;
    } else if (b == 0x7F) {
      c->EnvOn = 0;
    } else if (b >= 0x71) {
      const uint8_t low = PtStreamByte(m, chip, ch);
      const uint8_t high = PtStreamByte(m, chip, ch);
      PtSetShape(chip, c, b - 0x70, static_cast<uint16_t>(high << 8 | low));
    } else if (b == 0x70) {
      lineEnds = true;
    } else if (b >= 0x60) {
      c->OrnPos = 0;
      c->Ornament = PtObject{PT_IN_MODULE, ObjectAt(m, ORNAMENTS_AT + 2u * (b - 0x60), "ornament"), b - 0x60};
    } else if (b >= 0x20) {
      c->LineSkip = b - 0x1F;
    } else if (b >= 0x10) {
      c->Volume = b - 0x10;
    } else if (b == 0x0F) {
      PtSetTempo(chip, PtStreamByte(m, chip, ch));
    } else if (b == 0x0E) {
      const uint8_t g = PtStreamByte(m, chip, ch);
      c->Gliss = true;
      c->SlideDelay = c->SlideCount = 1;
      c->SlideStep = static_cast<uint16_t>(static_cast<int8_t>(g));
      slideSeen = true;
    } else if (b == 0x0D) {
      portaStep = PtStreamByte(m, chip, ch);
      PtStreamByte(m, chip, ch);  // a precomputed distance the player does not trust
      PtStreamByte(m, chip, ch);
      c->Gliss = false;
      slideSeen = true;
    } else if (b == 0x0C) {
      c->SlideCount = 0;
    } else {
      c->NoiseAcc = PtStreamByte(m, chip, ch);
    }
  }
  c->LineCount = c->LineSkip;
}

int32_t ReadPt2(const uint8_t* bytes, size_t size, SourceTune* tune, std::string* why) {
  if (!DetectPt2(bytes, size)) {
    *why = "not a PT2 module (its header and position list do not fit together)";
    return -1;
  }
  PtModule m;
  m.Bytes = bytes;
  m.Size = static_cast<uint32_t>(size < MAX_MODULE ? size : MAX_MODULE);
  m.Pt2 = true;
  m.Version = 5;
  m.ListAt = LIST_AT;
  m.ListLength = ListLength(bytes, size);
  m.Loop = bytes[LOOP_AT];
  if (m.Loop >= m.ListLength) {
    *why = "loop position " + std::to_string(m.Loop) + " is past the end of the " + std::to_string(m.ListLength) +
           "-entry position list";
    return -1;
  }
  m.PatternTable = Le16(bytes + PATTERNS_AT);
  m.ObjectBase = static_cast<uint16_t>(0 - Le16(bytes + SAMPLES_AT));
  for (int32_t i = 0; i < m.ListLength; ++i) {
    const uint8_t v = bytes[LIST_AT + i];
    const uint32_t entry = PtPatternEntry(m, v);
    if (entry + 6 > m.Size) {
      *why = "the pattern table entry of pattern " + std::to_string(v) + " at offset " + std::to_string(entry) +
             " is past the end of the module (" + std::to_string(m.Size) + " bytes)";
      return -1;
    }
    for (int32_t ch = 0; ch < 3; ++ch) {
      const uint32_t stream = static_cast<uint16_t>(Le16(bytes + entry + 2 * ch) + m.ObjectBase);
      if (stream >= m.Size) {
        *why = "pattern " + std::to_string(v) + " channel " + "ABC"[ch] + " starts at offset " + std::to_string(stream) +
               ", past the end of the module (" + std::to_string(m.Size) + " bytes)";
        return -1;
      }
    }
  }
  BuildNoteTable(1, false, m.Notes);
  BuildVolumeTable(false, m.Volumes);
  m.Decode = DecodePt2;
  ResetPtChips(&m, bytes[TEMPO_AT], PtObject{PT_PT2_ZERO, 0, 0}, PtObject{PT_PT2_ORNAMENT, 0, 0});
  tune->Format = "PT2";
  tune->Title = PtText(bytes + TITLE_AT, TITLE_BYTES);
  return RunPtPass(&m, tune, why);
}

}  // namespace

const TuneReader Pt2Reader = {.Name = "PT2", .Detect = DetectPt2, .Read = ReadPt2};
