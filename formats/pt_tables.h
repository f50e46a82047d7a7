// SPDX-License-Identifier: GPL-2.0-or-later
// The note and volume tables of the Pro Tracker 3 and 2 players, built the way the players
// build them at start-up (twelve base periods halved per octave, then a few corrections).
#pragma once
#include <cstdint>

constexpr int32_t PT_NOTES = 96;  // notes 0..95, C-1..B-8

// Fills notes[0..95] with the periods of table number (0..3, the module's byte AND 3); old
// selects the tables of versions 0..3 (tables 0, 2 and 3 differ; table 1 is the same).
void BuildNoteTable(int32_t number, bool old, uint16_t notes[PT_NOTES]);
// Fills volumes[volume 0..15][level 0..15] with amplitudes 0..15: old is the table of PT3
// versions 0..4, the other one that of versions 5..9 and of PT2.
void BuildVolumeTable(bool old, uint8_t volumes[16][16]);
