// SPDX-License-Identifier: GPL-2.0-or-later
// POSIX calls used by the core's test suites that MinGW's C library lacks: mkdtemp, and mkdir
// with a mode (the mode has no meaning for Windows directories). Force-included into those
// suites by the Windows cross build only.
#pragma once
#if defined(_WIN32) && defined(__cplusplus)
#include <direct.h>
#include <io.h>
#include <stdlib.h>

inline char* mkdtemp(char* pattern) {
  if (!_mktemp(pattern)) return nullptr;
  return _mkdir(pattern) == 0 ? pattern : nullptr;
}

inline int mkdir(const char* path, unsigned) { return _mkdir(path); }
#endif
