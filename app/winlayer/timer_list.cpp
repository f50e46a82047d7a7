// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/winlayer/timer_list.h"

#include <algorithm>

int32_t StartListedTimer(std::vector<WindowTimer>& timers, NativeHandle window, int32_t id, int32_t periodMs) {
  if (id == 0 || periodMs <= 0) return 0;
  StopListedTimer(timers, window, id);
  timers.push_back(WindowTimer{window, id, periodMs, TimerClock::now() + std::chrono::milliseconds(periodMs)});
  return id;
}

void StopListedTimer(std::vector<WindowTimer>& timers, NativeHandle window, int32_t id) {
  timers.erase(std::remove_if(timers.begin(), timers.end(),
                              [&](const WindowTimer& t) { return t.Window == window && t.Id == id; }),
               timers.end());
}

int MsUntilNextTimer(const std::vector<WindowTimer>& timers, TimerClock::time_point now) {
  if (timers.empty()) return -1;
  auto earliest = timers.front().Due;
  for (const WindowTimer& t : timers) earliest = std::min(earliest, t.Due);
  if (earliest <= now) return 0;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(earliest - now).count();
  return static_cast<int>(ms) + 1;  // round up so a wait never ends before the deadline
}

bool TakeExpiredTimer(std::vector<WindowTimer>& timers, TimerClock::time_point now) {
  for (WindowTimer& t : timers) {
    if (t.Due > now) continue;
    const auto period = std::chrono::milliseconds(t.PeriodMs);
    while (t.Due <= now) t.Due += period;
    return true;
  }
  return false;
}
