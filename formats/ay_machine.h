// SPDX-License-Identifier: GPL-2.0-or-later
// The machine an AY file's Z80 code runs on: 64 KiB of RAM, z80ex as the CPU, a 50 Hz
// interrupt, and the sound chip behind the ZX Spectrum 128's or the Amstrad CPC's ports.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int64_t AY_CPU_CLOCK = 3494400;       // Hz, the Z80
constexpr int64_t AY_FRAME_TSTATES = 69888;     // T-states between interrupts (1/50 s)
constexpr int64_t AY_INT_TSTATES = 32;          // T-states the interrupt request is held

// Which ports reached the chip: decided by the first sound-chip OUT of either kind.
enum AyOutput { AY_NO_CHIP, AY_ZX, AY_CPC };

// One block of the file: Length bytes (already cut to the file and to address 65536) to Address.
struct AyBlock {
  uint16_t Address;
  const uint8_t* Data;
  size_t Length;
};

// What the file's song record and points give the machine at start.
struct AyStart {
  uint16_t Init;        // the initialisation routine; 0 already replaced by the first block's address
  uint16_t Interrupt;   // the playing routine; 0: the IM 2 stub (the song's own handler plays)
  uint16_t Stack;       // SP
  uint16_t Registers;   // HiReg x 256 + LoReg: AF..HL, the second set, IX and IY
};

// The frames of one run: per frame R0..R13 as the chip holds them (not cut to widths; R13 is
// the last shape written in the frame when ShapeWritten), and 1 when R13 was written.
struct AyFrames {
  std::vector<uint8_t> Registers;      // 14 bytes a frame
  std::vector<uint8_t> ShapeWritten;   // 1 byte a frame
  AyOutput Output = AY_NO_CHIP;
};

// Builds the memory (fill, stub, blocks in order), sets the registers, and runs frames windows
// of AY_FRAME_TSTATES (frames >= 0). The code may do anything: the run ends after the last
// window. -1 with why only when the CPU cannot be made (out of memory).
int32_t RunAyMachine(const AyStart& start, const AyBlock* blocks, size_t blockCount, int64_t frames, AyFrames* out,
                     std::string* why);
