// SPDX-License-Identifier: GPL-2.0-or-later
// The pieces every window-layer backend shares: the numbered tables and the queue of deferred
// events with its duplicate rule.
#include <gtest/gtest.h>

#include "app/winlayer/layer_common.h"

namespace {

struct Entry {
  NativeHandle Handle;
  int32_t Payload;
};

char Tags[4];

// Every backend keeps its sliders' values so.
TEST(SliderBar, ValuesClampToTheRangeAndAnEmptyRangeToItsMinimum) {
  EXPECT_EQ(ClampSliderValue(50, 0, 100), 50);
  EXPECT_EQ(ClampSliderValue(-1, 0, 100), 0);
  EXPECT_EQ(ClampSliderValue(101, 0, 100), 100);
  EXPECT_EQ(ClampSliderValue(15, 20, 10), 20);
}

TEST(NumberedTable, GrowsToTheNumberPlusItsStepAndKeepsContent) {
  NumberedTable<Entry> windows{{}, WINDOW_TABLE_GROWTH};
  EXPECT_EQ(windows.Capacity(), 0);
  Entry* one = windows.Take(1);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(windows.Capacity(), 17);
  *one = Entry{&Tags[0], 42};
  windows.Take(16);  // inside the capacity: no growth
  EXPECT_EQ(windows.Capacity(), 17);
  windows.Take(17);  // at the capacity: grows
  EXPECT_EQ(windows.Capacity(), 33);
  ASSERT_NE(windows.Find(1), nullptr);
  EXPECT_EQ(windows.Find(1)->Payload, 42);
  for (int32_t n = 2; n < windows.Capacity(); ++n) {
    EXPECT_EQ(windows.Entries[static_cast<size_t>(n)].Handle, nullptr) << n;
    EXPECT_EQ(windows.Entries[static_cast<size_t>(n)].Payload, 0) << n;
  }

  NumberedTable<Entry> controls{{}, CONTROL_TABLE_GROWTH};
  controls.Take(5);
  EXPECT_EQ(controls.Capacity(), 55);
  controls.Take(60);
  EXPECT_EQ(controls.Capacity(), 110);
}

TEST(NumberedTable, LookupsFindOnlyEntriesInUse) {
  NumberedTable<Entry> table{{}, CONTROL_TABLE_GROWTH};
  EXPECT_EQ(table.Find(0), nullptr);   // empty table
  EXPECT_EQ(table.Find(-1), nullptr);
  EXPECT_EQ(table.Take(-1), nullptr);  // negative numbers never get an entry
  EXPECT_EQ(table.Capacity(), 0);
  table.Take(3)->Handle = &Tags[1];
  EXPECT_EQ(table.Find(3)->Handle, &Tags[1]);
  EXPECT_EQ(table.Find(2), nullptr);                  // taken never
  EXPECT_EQ(table.Find(table.Capacity()), nullptr);   // past the end
  EXPECT_EQ(table.Find(1000000), nullptr);
  table.Take(4);                                      // taken but not filled: still free
  EXPECT_EQ(table.Find(4), nullptr);
}

TEST(NumberedTable, FreeClearsTheWholeEntry) {
  NumberedTable<Entry> table{{}, WINDOW_TABLE_GROWTH};
  *table.Take(2) = Entry{&Tags[2], 7};
  table.Free(2);
  EXPECT_EQ(table.Find(2), nullptr);
  EXPECT_EQ(table.Entries[2].Payload, 0);
  table.Free(2);    // freeing a free entry
  table.Free(99);   // and a number past the end
  table.Free(-3);
  EXPECT_EQ(table.Capacity(), 18);
}

EventRecord FreshRecord() {
  EventRecord events{};
  events.EventWindow = -1;
  events.EventSubType = -1;
  return events;
}

TEST(DeferredEvents, ComeOutOldestFirstWithTheirWindow) {
  EventRecord events = FreshRecord();
  DeferEvent(events, EVENT_MOVE, 1);
  DeferEvent(events, EVENT_CLOSE, 2);
  events.PendingCode = EVENT_CONTROL;
  int32_t code = 0;
  ASSERT_TRUE(TakeDeferredEvent(events, &code));
  EXPECT_EQ(code, EVENT_MOVE);
  EXPECT_EQ(events.EventWindow, 1);
  EXPECT_EQ(events.PendingCode, 0);
  ASSERT_TRUE(TakeDeferredEvent(events, &code));
  EXPECT_EQ(code, EVENT_CLOSE);
  EXPECT_EQ(events.EventWindow, 2);
  code = 77;
  EXPECT_FALSE(TakeDeferredEvent(events, &code));
  EXPECT_EQ(code, 77);
  EXPECT_EQ(events.EventWindow, 2);  // an empty queue leaves the record alone
}

TEST(DeferredEvents, AnEventEqualToTheLastIsNotAdded) {
  EventRecord events = FreshRecord();
  DeferEvent(events, EVENT_CLOSE, 1);
  DeferEvent(events, EVENT_CLOSE, 1);
  EXPECT_EQ(events.Deferred.size(), 1u);
  DeferEvent(events, EVENT_CLOSE, 2);   // same code, other window
  DeferEvent(events, EVENT_SIZE, 2);    // other code, same window
  EXPECT_EQ(events.Deferred.size(), 3u);
  DeferEvent(events, EVENT_CLOSE, 1);   // equal to an older entry, not to the last
  EXPECT_EQ(events.Deferred.size(), 4u);
}

TEST(DeferredEvents, TheRuleLooksAtTheQueueAsItIsNow) {
  EventRecord events = FreshRecord();
  int32_t code = 0;
  DeferEvent(events, EVENT_CLOSE, 1);
  ASSERT_TRUE(TakeDeferredEvent(events, &code));
  DeferEvent(events, EVENT_CLOSE, 1);  // the queue is empty again: added
  ASSERT_TRUE(TakeDeferredEvent(events, &code));
  EXPECT_EQ(code, EVENT_CLOSE);
}

}  // namespace
