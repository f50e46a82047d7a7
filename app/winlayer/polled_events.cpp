// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/winlayer/polled_events.h"

#include "app/winlayer/close_signals.h"

namespace {

PolledEvents State;

}  // namespace

PolledEvents& Polled() { return State; }

void ResetPolledEvents() {
  State = PolledEvents{};
  State.Events.EventWindow = NO_WINDOW;
  State.Events.EventSubType = -1;
}

int32_t PolledEventControl() { return State.Events.EventControl; }

int32_t PolledStartTimer(NativeHandle window, int32_t id, int32_t periodMs) {
  return StartListedTimer(State.Timers, window, id, periodMs);
}

void PolledStopTimer(NativeHandle window, int32_t id) { StopListedTimer(State.Timers, window, id); }

int32_t WaitPolledEvent(const PolledSources& sources) {
  EventRecord& events = State.Events;
  events.EventSubType = -1;
  int32_t code = 0;
  if (TakeDeferredEvent(events, &code)) return code;
  for (;;) {
    if (TakeCloseSignal()) DeferEvent(events, EVENT_CLOSE, sources.CloseWindow());
    if (sources.BeforeEvents) sources.BeforeEvents();
    if (TakeDeferredEvent(events, &code)) return code;
    if (sources.TakeInput && sources.TakeInput(&code)) return code;
    if (TakeExpiredTimer(State.Timers, TimerClock::now())) return EVENT_TIMER;
    sources.Sleep(MsUntilNextTimer(State.Timers, TimerClock::now()));
  }
}
