// Thread priority and timer resolution on POSIX systems.
#include <pthread.h>
#include <sched.h>

#include <thread>

#include "platform/thread.h"

std::thread* FindThread(int32_t thread);

void RaiseThreadPriority(int32_t thread) {
  std::thread* found = FindThread(thread);
  if (!found) return;
  pthread_t native = found->native_handle();
  sched_param param{};
  param.sched_priority = sched_get_priority_max(SCHED_FIFO);
  if (pthread_setschedparam(native, SCHED_FIFO, &param) == 0) return;
  // No real-time scheduling granted: stay in the normal class, whose static priority is fixed at 0.
  param.sched_priority = sched_get_priority_max(SCHED_OTHER);
  pthread_setschedparam(native, SCHED_OTHER, &param);
}

// POSIX sleeps already have fine granularity.
void RequestFineTimer() {}
