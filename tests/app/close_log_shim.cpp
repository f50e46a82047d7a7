// A preloaded library for the end-to-end tests: notes, in the file named by TONEWELL_CLOSE_LOG,
// each close of an SDL audio device and each destruction of an X window, in the order they
// happen, then passes the call on. The tests read from it that the player closed its sound
// device before its window went.
#include <dlfcn.h>
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

}  // namespace

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
