// SPDX-License-Identifier: GPL-2.0-or-later
// The chip's and the dump's numbers, defined once for the chip, the dump loader, the music
// readers and the tools: register names, the register groups, the chip's widths, the clocks,
// and how many frames the dump holds.
#pragma once
#include <cstdint>

// The AY-3-8910 / YM2149's registers as a port or a player addresses them. R14, R15 are the
// chip's I/O ports: no sound, never in a dump frame.
enum : int32_t {
  R0, R1,    // tone period A: fine 8 bits, coarse 4 bits
  R2, R3,    // tone period B
  R4, R5,    // tone period C
  R6,        // noise period
  R7,        // mixer: bits 0-2 tone off, 3-5 noise off (A, B, C); 6, 7 port directions
  R8, R9, R10,  // volumes A, B, C: level in bits 0-3, envelope mode in bit 4
  R11, R12,  // envelope period: fine, coarse
  R13,       // envelope shape
  R14, R15,  // I/O ports A, B
};
constexpr int32_t SOUND_REGISTERS = 14;  // R0..R13: the bytes of one dump frame
constexpr int32_t CHIP_REGISTERS = 16;   // R0..R15

// The chip's widths: the bits of each register the chip keeps, R0..R15.
constexpr uint8_t REGISTER_MASK[CHIP_REGISTERS] = {
    0xFF, 0x0F,        // R0, R1: tone A, 12 bits
    0xFF, 0x0F,        // R2, R3: tone B
    0xFF, 0x0F,        // R4, R5: tone C
    0x1F,              // R6: noise period, 5 bits
    0xFF,              // R7: mixer, whole
    0x1F, 0x1F, 0x1F,  // R8..R10: volume 4 bits and the envelope bit
    0xFF, 0xFF,        // R11, R12: envelope period, 16 bits
    0x0F,              // R13: shape, 4 bits
    0xFF, 0xFF,        // R14, R15: the I/O ports, whole
};

// The register groups the emulated chip takes (WriteGroup, ReadGroup) and the dump's rows: a
// 12- or 16-bit period is one group. The mixer's group holds R7's six sound bits.
enum : int32_t {
  GROUP_TONE_A, GROUP_TONE_B, GROUP_TONE_C,  // 0..4095
  GROUP_NOISE,                               // 0..31
  GROUP_MIXER,                               // 0..63
  GROUP_VOLUME_A, GROUP_VOLUME_B, GROUP_VOLUME_C,  // 0..31
  GROUP_ENVELOPE,                            // 0..65535
  GROUP_SHAPE,                               // 0..15
  GROUP_COUNT,
};

constexpr int32_t PLAYER_CHIP_CLOCK_HZ = 1750000;  // the chip clock the player renders at
constexpr int32_t ZX_SPECTRUM_CLOCK_HZ = 1773400;  // the ZX Spectrum 128's chip: PSG logs, modules, AY
constexpr int32_t ATARI_ST_CLOCK_HZ = 2000000;     // the Atari ST's: YM2!..YM4! carry no clock
constexpr int32_t AMSTRAD_CPC_CLOCK_HZ = 1000000;  // the Amstrad CPC's: AY files that play through its ports

constexpr int32_t MaxDumpFrames = 32787;  // dump lines (frames) the player holds
