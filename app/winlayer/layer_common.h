// SPDX-License-Identifier: GPL-2.0-or-later
// Pieces every backend of the window layer shares: the numbered-object tables and the event
// record with its queue of deferred events.
#pragma once
#include <cstdint>
#include <cstddef>
#include <deque>
#include <vector>

#include "app/winlayer/winlayer.h"

constexpr int32_t WINDOW_TABLE_GROWTH = 16;
constexpr int32_t CONTROL_TABLE_GROWTH = 50;
constexpr int32_t NO_WINDOW = -1;  // an event's window, or a backend's chosen window, when none

// The handle of a backend that has no native objects: the number plus one, so that number 0
// still gives a non-null handle; NumberOfHandle undoes it.
inline NativeHandle HandleOfNumber(int32_t number) {
  return reinterpret_cast<NativeHandle>(static_cast<uintptr_t>(number) + 1);
}
inline int32_t NumberOfHandle(NativeHandle handle) {
  return static_cast<int32_t>(reinterpret_cast<uintptr_t>(handle)) - 1;
}

// A slider's value as every backend keeps it: value clamped to minimum..maximum (minimum when
// the range is empty).
int32_t ClampSliderValue(int32_t value, int32_t minimum, int32_t maximum);

// An array of entries indexed by the caller's number. Entry must have a NativeHandle Handle
// field: zero means free. Using a number at or past the capacity grows the array to that
// number plus the growth step, zero-filled.
template <typename Entry>
struct NumberedTable {
  std::vector<Entry> Entries;
  int32_t GrowthStep;

  // The entry in use under number, or null (negative, past the capacity, or free).
  Entry* Find(int32_t number) {
    if (number < 0 || number >= static_cast<int32_t>(Entries.size())) return nullptr;
    Entry& e = Entries[static_cast<size_t>(number)];
    return e.Handle ? &e : nullptr;
  }
  // The entry for number, growing the table as needed; null for a negative number.
  Entry* Take(int32_t number) {
    if (number < 0) return nullptr;
    if (number >= static_cast<int32_t>(Entries.size())) Entries.resize(static_cast<size_t>(number + GrowthStep));
    return &Entries[static_cast<size_t>(number)];
  }
  void Free(int32_t number) {
    if (Entry* e = Find(number)) *e = Entry{};
  }
  int32_t Capacity() const { return static_cast<int32_t>(Entries.size()); }
};

struct DeferredEvent {
  int32_t Code;
  int32_t Window;
};

// The one event record of the program.
struct EventRecord {
  int32_t PendingCode;    // set while dispatching input; 0 when none
  int32_t EventControl;   // control of the last EVENT_CONTROL
  int32_t EventWindow;    // window of the last event, -1 when none
  int32_t EventSubType;   // -1 when none
  intptr_t WParam;        // of the last message returned raw
  intptr_t LParam;
  std::deque<DeferredEvent> Deferred;
};

// Appends (code, window) unless the queue's last entry is the same event.
void DeferEvent(EventRecord& events, int32_t code, int32_t window);
// Takes the oldest deferred event: sets the event window, clears the pending code, and stores
// its code in *code. False when the queue is empty.
bool TakeDeferredEvent(EventRecord& events, int32_t* code);
