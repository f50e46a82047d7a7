// SPDX-License-Identifier: GPL-2.0-or-later
// ZX Spectrum memory for the compiled players.
#include "formats/module_block.h"

#include <cstring>


std::vector<uint8_t> ZxMemoryWith(const uint8_t* bytes, size_t size, uint32_t address) {
  std::vector<uint8_t> memory(ZX_MEMORY_SIZE, 0);
  if (size) std::memcpy(memory.data() + address, bytes, size);
  return memory;
}
