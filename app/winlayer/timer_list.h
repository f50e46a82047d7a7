// SPDX-License-Identifier: GPL-2.0-or-later
// Window timers for backends that wait on file descriptors: a list of periodic deadlines.
#pragma once
#include <chrono>
#include <cstdint>
#include <vector>

#include "app/winlayer/winlayer.h"

using TimerClock = std::chrono::steady_clock;

struct WindowTimer {
  NativeHandle Window;
  int32_t Id;
  int32_t PeriodMs;
  TimerClock::time_point Due;
};

// Starts (or restarts) timer id of window, first due periodMs from now. Returns id, 0 if bad.
int32_t StartListedTimer(std::vector<WindowTimer>& timers, NativeHandle window, int32_t id, int32_t periodMs);
void StopListedTimer(std::vector<WindowTimer>& timers, NativeHandle window, int32_t id);
// Milliseconds until the earliest timer is due (0 if overdue), or -1 with no timer.
int MsUntilNextTimer(const std::vector<WindowTimer>& timers, TimerClock::time_point now);
// Takes one expiry of a due timer, moving it to its next deadline after now (expiries missed
// while nobody waited collapse into one, as with a system timer). False when none is due.
bool TakeExpiredTimer(std::vector<WindowTimer>& timers, TimerClock::time_point now);
