// What the SQ-Tracker and Sound Tracker Pro players share: the ZX Spectrum memory their
// compiled players run in (64 KiB, zero wherever nothing was loaded), and the TurboSound
// two-module wrapping that is undone before a module is recognised.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t ZX_MEMORY_SIZE = 65536;
constexpr uint32_t ZX_STACK_START = 0xFF00;  // #FF00..#FFFF: the player's stack, never data

// A memory of ZX_MEMORY_SIZE zero bytes with bytes[0, size) copied to address..; the caller
// has checked that address + size <= ZX_MEMORY_SIZE.
std::vector<uint8_t> ZxMemoryWith(const uint8_t* bytes, size_t size, uint32_t address);

// The size of the module to play: for a file ending in the "02TS" footer of two modules, the
// first module's size (the first chip's part, played alone); otherwise size itself.
size_t TurboSoundFirstModule(const uint8_t* bytes, size_t size);
