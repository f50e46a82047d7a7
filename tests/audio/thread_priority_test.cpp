// SPDX-License-Identifier: GPL-2.0-or-later
// The pump's priority: a low real-time level (SCHED_FIFO 10, never the top) where the system
// grants it, else the best nice value the thread may take. Either way the raise is silent and
// the thread runs on.
#if !defined(_WIN32)
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "platform/thread.h"

namespace {

std::atomic<int32_t> Release{0};
std::atomic<int32_t> Policy{-1};
std::atomic<int32_t> Priority{-1};
std::atomic<int32_t> Nice{99};

int32_t WaitThenLook(intptr_t) {
  while (Release.load() == 0) std::this_thread::yield();
  sched_param param{};
  int policy = 0;
  pthread_getschedparam(pthread_self(), &policy, &param);
  Policy.store(policy);
  Priority.store(param.sched_priority);
  Nice.store(getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid))));
  return 0;
}

// Whether this process may put a thread into SCHED_FIFO at all.
bool RealTimeGranted() {
  bool granted = false;
  std::thread probe([&] {
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 9;
    granted = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
  });
  probe.join();
  return granted;
}

}  // namespace

TEST(PumpPriority, LowRealTimeLevelElseBestNice) {
  const bool realTime = RealTimeGranted();
  errno = 0;
  const int niceBefore = getpriority(PRIO_PROCESS, 0);
  const int32_t thread = StartThread(WaitThenLook, 0);
  ASSERT_GT(thread, 0);
  RaiseThreadPriority(thread);
  Release.store(1);
  JoinThread(thread);
  if (realTime) {
    EXPECT_EQ(Policy.load(), SCHED_FIFO);
    EXPECT_EQ(Priority.load(), sched_get_priority_min(SCHED_FIFO) + 9);
    EXPECT_EQ(Priority.load(), 10);  // Linux: levels 1..99
    EXPECT_LT(Priority.load(), sched_get_priority_max(SCHED_FIFO));
  } else {
    EXPECT_EQ(Policy.load(), SCHED_OTHER);
    EXPECT_LE(Nice.load(), niceBefore);
    // No lower value would have been granted.
    if (Nice.load() > -20) {
      EXPECT_NE(setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), Nice.load() - 1), 0);
    }
  }
}

#endif
