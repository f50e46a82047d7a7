// SPDX-License-Identifier: GPL-2.0-or-later
// The compiled block of the tracker players and the TurboSound wrapper.
#include "formats/module_memory.h"

#include <cstdio>
#include <cstring>

#include "formats/bytes.h"

int32_t LoadZxBlock(const uint8_t* module, size_t size, uint16_t playerEnd, const uint8_t* given, size_t givenSize,
                    uint16_t givenAt, ZxBlock* block, std::string* why) {
  uint32_t at = playerEnd;
  if (at + size > ZX_STACK_PAGE) at = ZX_LOW_MODULE_AT;
  if (at == ZX_LOW_MODULE_AT && at + size > ZX_PLAYER_AT) {
    *why = "module too long (" + std::to_string(size) + " bytes) for the player's memory";
    return -1;
  }
  block->Image.assign(65536, 0);
  block->Forbidden.assign(65536, 0);
  std::memset(&block->Forbidden[ZX_PLAYER_AT], 1, playerEnd - ZX_PLAYER_AT);
  std::memset(&block->Forbidden[ZX_STACK_PAGE], 1, 65536 - ZX_STACK_PAGE);
  std::memcpy(&block->Image[givenAt], given, givenSize);
  std::memset(&block->Forbidden[givenAt], 0, givenSize);
  if (size > 0) std::memcpy(&block->Image[at], module, size);
  block->ModuleAt = static_cast<uint16_t>(at);
  block->ModuleSize = static_cast<uint32_t>(size);
  block->Fault = false;
  block->FaultAddress = 0;
  return 0;
}

std::string ZxFaultText(const ZxBlock& block) {
  char text[96];
  std::snprintf(text, sizeof text, "the player reads #%04X (%s, not module data)", block.FaultAddress,
                block.FaultAddress >= ZX_STACK_PAGE ? "its stack" : "its own code");
  return text;
}

size_t TurboSoundFirstModule(const uint8_t* bytes, size_t size) {
  if (size < 16 || std::memcmp(bytes + size - 4, "02TS", 4) != 0) return size;
  const size_t first = Le16(bytes + size - 12), second = Le16(bytes + size - 6);
  if (first < 16 || second < 16 || first + second + 16 > size || size >= first + second + 32) return size;
  return first;
}
