// SPDX-License-Identifier: GPL-2.0-or-later
// The close signals: each one is counted until an event loop takes it, looking does not take
// it, the wake-up pipe becomes readable, and a signal ignored when the handlers go in stays
// ignored. Runs only where there are POSIX signals.
#include <gtest/gtest.h>

#include <poll.h>

#include <csignal>

#include "app/winlayer/close_signals.h"

namespace {

bool PipeReadable() {
  pollfd wake{CloseSignalFd(), POLLIN, 0};
  return ::poll(&wake, 1, 0) == 1 && (wake.revents & POLLIN);
}

void TakeAll() {
  while (TakeCloseSignal()) {
  }
}

TEST(CloseSignals, EachSignalIsPendingUntilTakenAndLookingTakesNothing) {
  StartCloseSignals();
  TakeAll();
  EXPECT_FALSE(CloseSignalPending());
  EXPECT_FALSE(PipeReadable());
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    ASSERT_EQ(::raise(signal), 0);  // the process lives on: the handler caught it
    EXPECT_TRUE(CloseSignalPending()) << signal;
    EXPECT_TRUE(CloseSignalPending()) << signal;
    EXPECT_TRUE(PipeReadable()) << signal;
    EXPECT_TRUE(TakeCloseSignal()) << signal;
    EXPECT_FALSE(CloseSignalPending()) << signal;
    EXPECT_FALSE(TakeCloseSignal()) << signal;
    EXPECT_FALSE(PipeReadable()) << signal;
  }
}

TEST(CloseSignals, TwoSignalsAreTakenTwice) {
  StartCloseSignals();
  TakeAll();
  ::raise(SIGTERM);
  ::raise(SIGTERM);
  EXPECT_TRUE(TakeCloseSignal());
  EXPECT_TRUE(CloseSignalPending());
  EXPECT_TRUE(TakeCloseSignal());
  EXPECT_FALSE(TakeCloseSignal());
}

TEST(CloseSignals, ASignalIgnoredBeforehandStaysIgnored) {
  struct sigaction ignore {}, before {}, after {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ASSERT_EQ(::sigaction(SIGHUP, &ignore, &before), 0);
  StartCloseSignals();
  ::sigaction(SIGHUP, nullptr, &after);
  EXPECT_EQ(after.sa_handler, SIG_IGN);
  TakeAll();
  ::raise(SIGHUP);
  EXPECT_FALSE(CloseSignalPending());
  ::sigaction(SIGHUP, &before, nullptr);
}

}  // namespace
