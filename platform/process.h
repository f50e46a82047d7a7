// SPDX-License-Identifier: GPL-2.0-or-later
// The process itself.
#pragma once
#include <cstdint>

// The program's module instance (Windows); null where the system has no such thing.
void* CurrentModuleInstance();
// Ends the process with code at once, without running static destructors.
[[noreturn]] void EndProcess(int32_t code);
