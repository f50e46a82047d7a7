// SPDX-License-Identifier: GPL-2.0-or-later
// Note and volume tables of the Pro Tracker players.
#include "formats/pt_tables.h"

namespace {

// Periods of notes 0..11 (octave 0) of each base set.
constexpr uint16_t BASE_S1[12] = {0x0EF8, 0x0E10, 0x0D60, 0x0C80, 0x0BD8, 0x0B28, 0x0A88, 0x09F0, 0x0960, 0x08E0, 0x0858, 0x07E0};
constexpr uint16_t BASE_S2_OLD[12] = {0x0D3E, 0x0C80, 0x0BCC, 0x0B22, 0x0A82, 0x09EC, 0x095C, 0x08D6, 0x0858, 0x07E0, 0x076E, 0x0704};
constexpr uint16_t BASE_S3[12] = {0x0CDA, 0x0C22, 0x0B73, 0x0ACF, 0x0A33, 0x09A1, 0x0917, 0x0894, 0x0819, 0x07A4, 0x0737, 0x06CF};
constexpr uint16_t BASE_S0[12] = {0x0C22, 0x0B73, 0x0ACF, 0x0A33, 0x09A1, 0x0917, 0x0894, 0x0819, 0x07A4, 0x0737, 0x06CF, 0x066D};
constexpr uint16_t BASE_S2_NEW[12] = {0x0D10, 0x0C55, 0x0BA4, 0x0AFC, 0x0A5F, 0x09CA, 0x093D, 0x08B8, 0x083B, 0x07C5, 0x0755, 0x06EC};

// Corrections as the players store them: 2n + 1 lowers the low byte of note n by one, 2n
// raises it; 0 ends the list.
constexpr uint8_t FIX_T0_OLD[] = {1, 5, 9, 11, 13, 15, 19, 21, 25, 37, 61, 0};
constexpr uint8_t FIX_T0_NEW[] = {29, 33, 35, 39, 43, 45, 49, 85, 189, 191, 0};
constexpr uint8_t FIX_T1[] = {93, 0};
constexpr uint8_t FIX_T2_OLD[] = {49, 55, 77, 83, 95, 113, 130, 140, 156, 158, 160, 166, 168, 170, 172, 174, 174, 0};
constexpr uint8_t FIX_T2_NEW[] = {27, 33, 37, 41, 43, 59, 77, 95, 187, 189, 191, 0};
constexpr uint8_t FIX_T3_OLD[] = {31, 35, 37, 41, 45, 47, 51, 191, 0};
constexpr uint8_t FIX_T3_NEW[] = {87, 31, 35, 37, 41, 45, 47, 51, 191, 0};

struct NoteTableRecipe {
  const uint16_t* Base;
  bool Round;  // octaves above 0 rounded (else truncated)
  const uint8_t* Fixes;
};

// [number][old]
constexpr NoteTableRecipe Recipes[4][2] = {
    {{BASE_S0, true, FIX_T0_NEW}, {BASE_S0, false, FIX_T0_OLD}},
    {{BASE_S1, false, FIX_T1}, {BASE_S1, false, FIX_T1}},
    {{BASE_S2_NEW, true, FIX_T2_NEW}, {BASE_S2_OLD, true, FIX_T2_OLD}},
    {{BASE_S3, true, FIX_T3_NEW}, {BASE_S3, true, FIX_T3_OLD}},
};

constexpr int32_t T1_PATCHED_NOTE = 23;  // table 1 only: its low byte is set to 0xFD
constexpr uint8_t T1_PATCHED_LOW = 0xFD;

}  // namespace

void BuildNoteTable(int32_t number, bool old, uint16_t notes[PT_NOTES]) {
  const NoteTableRecipe& r = Recipes[number & 3][old ? 1 : 0];
  for (int32_t n = 0; n < PT_NOTES; ++n) {
    const int32_t octave = n / 12;
    const uint32_t base = r.Base[n % 12];
    notes[n] = static_cast<uint16_t>(r.Round && octave > 0 ? (base + (1u << (octave - 1))) >> octave : base >> octave);
  }
  if (r.Base == BASE_S1) notes[T1_PATCHED_NOTE] = static_cast<uint16_t>((notes[T1_PATCHED_NOTE] & 0xFF00) | T1_PATCHED_LOW);
  for (const uint8_t* fix = r.Fixes; *fix; ++fix) {
    uint16_t& note = notes[*fix >> 1];
    const uint8_t low = static_cast<uint8_t>((note & 0xFF) + ((*fix & 1) ? -1 : 1));
    note = static_cast<uint16_t>((note & 0xFF00) | low);
  }
}

void BuildVolumeTable(bool old, uint8_t volumes[16][16]) {
  for (int32_t v = 0; v < 16; ++v)
    for (int32_t l = 0; l < 16; ++l)
      volumes[v][l] = static_cast<uint8_t>(v == 0 ? 0 : old ? l * (v + 1) / 16 : (v * l + 7) / 15);
}
