#include "app/winlayer/close_signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int WakePipe[2] = {-1, -1};
std::atomic<int> PendingSignals{0};

void OnCloseSignal(int) {
  const int saved = errno;
  PendingSignals.fetch_add(1);
  const char byte = 1;
  if (WakePipe[1] >= 0) (void)!::write(WakePipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void InstallCloseSignals(const int* signals, int count) {
  if (WakePipe[0] < 0 && ::pipe(WakePipe) == 0) {
    for (int fd : WakePipe) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  struct sigaction action {};
  action.sa_handler = OnCloseSignal;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < count; ++i) ::sigaction(signals[i], &action, nullptr);
}

int CloseSignalFd() { return WakePipe[0]; }

bool TakeCloseSignal() {
  char drain[64];
  if (WakePipe[0] >= 0)
    while (::read(WakePipe[0], drain, sizeof drain) > 0) {
    }
  int pending = PendingSignals.load();
  while (pending > 0 && !PendingSignals.compare_exchange_weak(pending, pending - 1)) {
  }
  return pending > 0;
}
