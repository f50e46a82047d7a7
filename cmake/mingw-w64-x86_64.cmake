# SPDX-License-Identifier: GPL-2.0-or-later
# Cross build for 64-bit Windows with Debian's MinGW-w64, posix-threads variant (std::thread
# over winpthreads). The runtimes (libgcc, libstdc++, winpthread) are linked statically so
# that each .exe runs on its own. Programs built here are run through Wine (tests included).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TONEWELL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TONEWELL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TONEWELL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TONEWELL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TONEWELL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No DLLs of the toolchain beside the programs: everything of the runtime inside the .exe.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the cross-built programs through Wine (the mingw preset sets a wrapper that runs
# them inside the tests' Wine session instead).
find_program(TONEWELL_WINE NAMES wine wine64)
if(TONEWELL_WINE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TONEWELL_WINE})
endif()
