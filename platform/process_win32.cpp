// SPDX-License-Identifier: GPL-2.0-or-later
// The process on Windows: the module instance of the .exe and the process's end.
#include <windows.h>

#include <cstdio>

#include "platform/process.h"

void* CurrentModuleInstance() { return GetModuleHandleA(nullptr); }

// Buffered standard output is written out first; ExitProcess runs no static destructors.
void EndProcess(int32_t code) {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(code));
}
