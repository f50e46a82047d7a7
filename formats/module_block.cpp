// ZX Spectrum memory for the compiled players, and the TurboSound footer.
#include "formats/module_block.h"

#include <cstring>

#include "formats/bytes.h"

std::vector<uint8_t> ZxMemoryWith(const uint8_t* bytes, size_t size, uint32_t address) {
  std::vector<uint8_t> memory(ZX_MEMORY_SIZE, 0);
  if (size) std::memcpy(memory.data() + address, bytes, size);
  return memory;
}

size_t TurboSoundFirstModule(const uint8_t* bytes, size_t size) {
  constexpr size_t FOOTER_MIN = 16, FOOTER_MAX = 32;  // module sizes plus footer fill this much
  if (size < FOOTER_MAX || std::memcmp(bytes + size - 4, "02TS", 4) != 0) return size;
  const size_t first = Le16(bytes + size - 12), second = Le16(bytes + size - 6);
  if (first < 16 || second < 16 || first + second + FOOTER_MIN > size || size >= first + second + FOOTER_MAX) return size;
  return first;
}
