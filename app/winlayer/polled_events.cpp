#include "app/winlayer/polled_events.h"

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
