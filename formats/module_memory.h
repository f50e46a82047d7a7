// SPDX-License-Identifier: GPL-2.0-or-later
// The compiled block of the ZX Spectrum tracker players (Sound Tracker, ASC Sound Master): the
// player at #C000, the module right after it, and what a read of any Z80 address gives. Module
// bytes read as themselves, the player bytes a format hands in (its note table and what
// follows it) as given, every other address outside the player as 0 (free memory and the ROM
// area read 0, as in the runs of the original players the dumps come from). A read of the
// player's other bytes or of the stack page #FF00-#FFFF is a fault: the module is refused.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "psg/chip_registers.h"

constexpr uint16_t ZX_PLAYER_AT = 0xC000;     // every compiled player starts here
constexpr uint16_t ZX_LOW_MODULE_AT = 0x4000; // where a module too long to follow the player goes
constexpr uint32_t ZX_STACK_PAGE = 0xFF00;    // #FF00-#FFFF: the stack, never module data

struct ZxBlock {
  std::vector<uint8_t> Image;      // 65536 bytes: what a read of each address gives
  std::vector<uint8_t> Forbidden;  // 65536 flags: 1 where a read is a fault
  uint16_t ModuleAt = 0;           // Z80 address of the module's byte 0
  uint32_t ModuleSize = 0;         // bytes
  bool Fault = false;              // a forbidden address was read
  uint16_t FaultAddress = 0;       // the first one
};

// Lays out the block: the player at #C000..playerEnd - 1 (all forbidden but the given bytes,
// which go to givenAt), the module at playerEnd when it ends by #FEFF, else at #4000. -1 with
// why when the module does not fit below the player either (longer than 32 KiB).
int32_t LoadZxBlock(const uint8_t* module, size_t size, uint16_t playerEnd, const uint8_t* given, size_t givenSize,
                    uint16_t givenAt, ZxBlock* block, std::string* why);

// The byte at address; a forbidden address reads 0 and marks the fault.
inline uint8_t ZxRead(ZxBlock* block, uint16_t address) {
  if (block->Forbidden[address] && !block->Fault) {
    block->Fault = true;
    block->FaultAddress = address;
  }
  return block->Image[address];
}
inline uint16_t ZxReadWord(ZxBlock* block, uint16_t address) {
  return static_cast<uint16_t>(ZxRead(block, address) | (ZxRead(block, static_cast<uint16_t>(address + 1)) << 8));
}

// The one-line reason for a fault: "the player reads #C123 (its own code, not module data)".
std::string ZxFaultText(const ZxBlock& block);

// A TurboSound file ("02TS" footer with two module sizes) holds two modules: the size of the
// first, which is played alone; size itself for any other file.
size_t TurboSoundFirstModule(const uint8_t* bytes, size_t size);
