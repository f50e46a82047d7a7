// SPDX-License-Identifier: GPL-2.0-or-later
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

// What a polled backend waits on besides deferred events, close signals and timers.
struct PolledSources {
  int32_t (*CloseWindow)() = nullptr;          // the window a close signal asks to close
  void (*BeforeEvents)() = nullptr;            // each round, before the events are looked at; may be null
  bool (*TakeInput)(int32_t* code) = nullptr;  // true with *code: an event from input; may be null
  void (*Sleep)(int32_t ms) = nullptr;         // until input, a signal or ms (-1: no bound) pass
};
// The wait for the next event: deferred events first; then, round after round, a close signal
// becomes a (deferred) close request for CloseWindow(), BeforeEvents runs, deferred events,
// input, and last due timers (as a window system makes timer messages only when nothing else
// waits); then Sleep until the next timer's deadline.
int32_t WaitPolledEvent(const PolledSources& sources);

// End step of a polled backend: no timers, and its own state (window and control tables) as new.
template <typename LayerState>
void EndPolledLayer(LayerState& state) {
  Polled().Timers.clear();
  state = LayerState{};
}
int32_t PolledStartTimer(NativeHandle window, int32_t id, int32_t periodMs);
void PolledStopTimer(NativeHandle window, int32_t id);
