// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/winlayer/layer_common.h"

int32_t ClampSliderValue(int32_t value, int32_t minimum, int32_t maximum) {
  if (maximum < minimum || value < minimum) return minimum;
  return value > maximum ? maximum : value;
}

void DeferEvent(EventRecord& events, int32_t code, int32_t window) {
  if (!events.Deferred.empty()) {
    const DeferredEvent& last = events.Deferred.back();
    if (last.Code == code && last.Window == window) return;
  }
  events.Deferred.push_back(DeferredEvent{code, window});
}

bool TakeDeferredEvent(EventRecord& events, int32_t* code) {
  if (events.Deferred.empty()) return false;
  DeferredEvent first = events.Deferred.front();
  events.Deferred.pop_front();
  events.EventWindow = first.Window;
  events.PendingCode = 0;
  *code = first.Code;
  return true;
}
