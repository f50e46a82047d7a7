// SPDX-License-Identifier: GPL-2.0-or-later
// Threads, sleeping and timer resolution.
#pragma once
#include <cstdint>

using ThreadRoutine = int32_t (*)(intptr_t parameter);

// Starts routine(parameter) on a new thread at once. Returns its identity (> 0), 0 on failure.
int32_t StartThread(ThreadRoutine routine, intptr_t parameter);
// Raises the thread ahead of the process's other work: on Windows to time-critical; on POSIX
// systems to a low real-time level (SCHED_FIFO 10 of 1..99) where permitted, else to the best
// nice value granted. Never the top real-time level. Silent either way.
void RaiseThreadPriority(int32_t thread);
// Waits for the thread to return and forgets it. Unknown identity: no-op.
void JoinThread(int32_t thread);
// Forgets every thread still listed (shutdown), without waiting for it.
void EndThreadServices();

// Sleeps about ms milliseconds through the current sleep routine.
void SleepMs(int32_t ms);
using SleepRoutine = void (*)(int32_t ms);
// Replaces the sleep routine (tests drive time by hand); null restores the system's sleep.
void SetSleepRoutine(SleepRoutine routine);

// Asks for 1 ms timer and sleep granularity where the system has such a setting.
void RequestFineTimer();
