// SPDX-License-Identifier: GPL-2.0-or-later
// Thread priority and timer resolution on Windows. Threads are std::threads over winpthreads;
// pthread_gethandle gives the Windows handle behind one.
#include <windows.h>
#include <mmsystem.h>
#include <pthread.h>

#include "platform/thread.h"
#include "platform/thread_list.h"

// The pump thread is scheduled ahead of everything else in the process (time-critical).
void RaiseThreadPriority(int32_t thread) {
  std::shared_ptr<ThreadRecord> found = FindThread(thread);
  if (!found) return;
  HANDLE native = pthread_gethandle(found->Thread.native_handle());
  if (native) SetThreadPriority(native, THREAD_PRIORITY_TIME_CRITICAL);
}

// 1 ms timer and sleep granularity for the rest of the process's life, so that the pump's
// 5 ms sleep is short and even.
void RequestFineTimer() { timeBeginPeriod(1); }
