// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/winlayer/close_signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int CloseSignals[] = {SIGINT, SIGTERM, SIGHUP};

int WakePipe[2] = {-1, -1};
std::atomic<int> PendingSignals{0};

void OnCloseSignal(int) {
  const int saved = errno;
  PendingSignals.fetch_add(1);
  const char byte = 1;
  if (WakePipe[1] >= 0) (void)!::write(WakePipe[1], &byte, 1);
  errno = saved;
}

void OpenWakePipe() {
  if (WakePipe[0] >= 0 || ::pipe(WakePipe) != 0) return;
  for (int fd : WakePipe) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
}

// Interrupted system calls inside libraries (X, sound, fonts) are restarted: the loops that
// wait for input watch the pipe instead of relying on EINTR.
void Catch(int signal) {
  struct sigaction action {};
  action.sa_handler = OnCloseSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
}

}  // namespace

void InstallCloseSignals(const int* signals, int count) {
  OpenWakePipe();
  for (int i = 0; i < count; ++i) {
    struct sigaction previous {};
    if (::sigaction(signals[i], nullptr, &previous) != 0) continue;
    if (previous.sa_handler != SIG_IGN && previous.sa_handler != OnCloseSignal) Catch(signals[i]);
  }
}

void StartCloseSignals() { InstallCloseSignals(CloseSignals, sizeof CloseSignals / sizeof CloseSignals[0]); }

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

bool CloseSignalPending() { return PendingSignals.load() > 0; }
