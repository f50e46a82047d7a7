// SPDX-License-Identifier: GPL-2.0-or-later
// A preloaded library for the end-to-end tests: notes, in the file named by TONEWELL_CLOSE_LOG,
// each close of an SDL audio device and each destruction of an X window, in the order they
// happen, then passes the call on. The tests read from it that the player closed its sound
// device before its window went. With TONEWELL_LOAD_GATE naming a FIFO, the first open of the
// dump ("music/dump.txt") waits until a byte can be read from that FIFO: the tests hold the
// player's load for as long as they need to look at it (the dump itself must be a regular file).
// With TONEWELL_START_FD naming an open descriptor, the library's initialisation writes one byte
// to it and closes it: the moment the program's libraries are loaded and its own start-up code
// begins to run, for tests that time something from the program's start.
#include <dlfcn.h>
#include <stdarg.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void Note(const char* line) {
  const char* path = std::getenv("TONEWELL_CLOSE_LOG");
  if (!path) return;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  (void)!::write(fd, line, std::strlen(line));
  ::close(fd);
}

using OpenRoutine = int (*)(const char*, int, ...);

// Holds the first open of the dump until the gate gives a byte.
void WaitAtTheGate(OpenRoutine next, const char* path) {
  static bool passed = false;
  const char* gate = std::getenv("TONEWELL_LOAD_GATE");
  const char* tail = "music/dump.txt";
  const size_t length = path ? std::strlen(path) : 0, tailLength = std::strlen(tail);
  if (passed || !gate || !next || length < tailLength || std::strcmp(path + length - tailLength, tail) != 0) return;
  passed = true;
  const int fd = next(gate, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  char byte;
  while (::read(fd, &byte, 1) < 0) {
  }
  ::close(fd);
}

int OpenThroughTheGate(const char* name, const char* path, int flags, va_list rest) {
  OpenRoutine next = reinterpret_cast<OpenRoutine>(dlsym(RTLD_NEXT, name));
  const int mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(rest, int) : 0;
  WaitAtTheGate(next, path);
  return next ? next(path, flags, mode) : -1;
}

// Runs with the initialisation of the shared libraries, once the loader has mapped them all.
__attribute__((constructor)) void NoteTheStart() {
  const char* text = std::getenv("TONEWELL_START_FD");
  if (!text || !*text) return;
  char* end = nullptr;
  const long fd = std::strtol(text, &end, 10);
  if (*end != '\0' || fd < 0) return;
  const char byte = 's';
  (void)!::write(static_cast<int>(fd), &byte, 1);
  ::close(static_cast<int>(fd));
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int fd = OpenThroughTheGate("open", path, flags, rest);
  va_end(rest);
  return fd;
}

extern "C" int open64(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int fd = OpenThroughTheGate("open64", path, flags, rest);
  va_end(rest);
  return fd;
}

extern "C" void SDL_CloseAudioDevice(uint32_t device) {
  using Routine = void (*)(uint32_t);
  static Routine next = reinterpret_cast<Routine>(dlsym(RTLD_NEXT, "SDL_CloseAudioDevice"));
  if (next) next(device);
  Note("audio-close\n");
}

extern "C" int XDestroyWindow(void* display, unsigned long window) {
  using Routine = int (*)(void*, unsigned long);
  static Routine next = reinterpret_cast<Routine>(dlsym(RTLD_NEXT, "XDestroyWindow"));
  Note("window-destroy\n");
  return next ? next(display, window) : 0;
}
