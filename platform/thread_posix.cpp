// SPDX-License-Identifier: GPL-2.0-or-later
// Thread priority and timer resolution on POSIX systems.
#include <pthread.h>
#include <sched.h>
#include <cerrno>
#include <sys/resource.h>

#include "platform/thread.h"
#include "platform/thread_list.h"

namespace {

// The lowest nice value (highest normal priority) that setpriority accepts for the thread:
// tries each from -20 up to its present value and keeps the first that the system grants.
void RaiseNice(int64_t systemId) {
  if (systemId <= 0) return;
  const id_t who = static_cast<id_t>(systemId);
  errno = 0;
  const int present = getpriority(PRIO_PROCESS, who);
  if (errno != 0) return;
  for (int nice = -20; nice < present; ++nice)
    if (setpriority(PRIO_PROCESS, who, nice) == 0) return;
}

// The real-time level asked for: the tenth of SCHED_FIFO's levels (10 of 1..99 on Linux). Any
// real-time level runs ahead of every normal thread, which is all the pump needs; a low one stays
// below the kernel's interrupt threads (50) and the levels sound servers and their clients take
// (JACK, PipeWire and rtkit hand out 20 and up), so a render that loops cannot hold off the
// system or the server that plays the sound, as it could at the maximum.
int PumpRealTimePriority() {
  const int lowest = sched_get_priority_min(SCHED_FIFO);
  const int highest = sched_get_priority_max(SCHED_FIFO);
  const int wanted = lowest + 9;
  return wanted > highest ? highest : wanted;
}

}  // namespace

void RaiseThreadPriority(int32_t thread) {
  std::shared_ptr<ThreadRecord> found = FindThread(thread);
  if (!found) return;
  pthread_t native = found->Thread.native_handle();
  sched_param param{};
  param.sched_priority = PumpRealTimePriority();
  if (pthread_setschedparam(native, SCHED_FIFO, &param) == 0) return;
  // No real-time scheduling granted: the normal class, at the best nice value allowed. On Linux
  // nice is per thread, addressed by the kernel's thread id.
  RaiseNice(found->SystemId);
}

// POSIX sleeps already have fine granularity.
void RequestFineTimer() {}
