// SPDX-License-Identifier: GPL-2.0-or-later
// What the SQ-Tracker and Sound Tracker Pro players share: the ZX Spectrum memory their
// compiled players run in (64 KiB, zero wherever nothing was loaded). The TurboSound
// two-module wrapping is undone by TurboSoundFirstModule (module_memory.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/module_memory.h"

constexpr size_t ZX_MEMORY_SIZE = 65536;

// A memory of ZX_MEMORY_SIZE zero bytes with bytes[0, size) copied to address..; the caller
// has checked that address + size <= ZX_MEMORY_SIZE.
std::vector<uint8_t> ZxMemoryWith(const uint8_t* bytes, size_t size, uint32_t address);
