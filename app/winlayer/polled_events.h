// The event record and window timers of the backends that wait on file descriptors (the
// display-less and the terminal layer), with the operations they share. One record serves
// whichever of them is in use: the layer is chosen once per process.
#pragma once
#include <cstdint>
#include <vector>

#include "app/winlayer/layer_common.h"
#include "app/winlayer/timer_list.h"

struct PolledEvents {
  EventRecord Events;
  std::vector<WindowTimer> Timers;
};
PolledEvents& Polled();

// Init step: an empty event record (no event window, no subtype) and no timers.
void ResetPolledEvents();

// Window-layer operations over Polled(): the control of the last control event; starting
// (id returned, 0 if bad) and stopping window timers.
int32_t PolledEventControl();

// End step of a polled backend: no timers, and its own state (window and control tables) as new.
template <typename LayerState>
void EndPolledLayer(LayerState& state) {
  Polled().Timers.clear();
  state = LayerState{};
}
int32_t PolledStartTimer(NativeHandle window, int32_t id, int32_t periodMs);
void PolledStopTimer(NativeHandle window, int32_t id);
