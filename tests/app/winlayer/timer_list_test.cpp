// SPDX-License-Identifier: GPL-2.0-or-later
// The periodic deadlines behind the window timers of the fd-waiting layers: when the next one
// is due, how an expiry is taken, and how expiries missed while nobody waited collapse.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "app/winlayer/timer_list.h"

namespace {

using std::chrono::milliseconds;

NativeHandle WindowA() { return reinterpret_cast<NativeHandle>(0x10); }
NativeHandle WindowB() { return reinterpret_cast<NativeHandle>(0x20); }

TEST(TimerList, StartReturnsTheIdAndRejectsIdZeroOrAPeriodBelowOne) {
  std::vector<WindowTimer> timers;
  EXPECT_EQ(StartListedTimer(timers, WindowA(), 1, 50), 1);
  EXPECT_EQ(StartListedTimer(timers, WindowA(), 0, 50), 0);
  EXPECT_EQ(StartListedTimer(timers, WindowA(), 2, 0), 0);
  EXPECT_EQ(StartListedTimer(timers, WindowA(), 3, -5), 0);
  ASSERT_EQ(timers.size(), 1u);
  EXPECT_EQ(timers[0].Id, 1);
}

TEST(TimerList, FirstDeadlineIsOnePeriodAfterTheStart) {
  std::vector<WindowTimer> timers;
  const auto before = TimerClock::now();
  StartListedTimer(timers, WindowA(), 1, 50);
  const auto after = TimerClock::now();
  ASSERT_EQ(timers.size(), 1u);
  EXPECT_GE(timers[0].Due, before + milliseconds(50));
  EXPECT_LE(timers[0].Due, after + milliseconds(50));
}

TEST(TimerList, RestartingAnIdReplacesItAndIdsAreKeptApartPerWindow) {
  std::vector<WindowTimer> timers;
  StartListedTimer(timers, WindowA(), 1, 50);
  StartListedTimer(timers, WindowA(), 1, 200);
  StartListedTimer(timers, WindowB(), 1, 70);
  ASSERT_EQ(timers.size(), 2u);
  StopListedTimer(timers, WindowB(), 1);
  ASSERT_EQ(timers.size(), 1u);
  EXPECT_EQ(timers[0].Window, WindowA());
  EXPECT_EQ(timers[0].PeriodMs, 200);
  StopListedTimer(timers, WindowA(), 7);  // no such timer: nothing changes
  EXPECT_EQ(timers.size(), 1u);
  StopListedTimer(timers, WindowA(), 1);
  EXPECT_TRUE(timers.empty());
}

TEST(TimerList, MillisecondsUntilTheEarliestDeadlineNeverEndAWaitEarly) {
  std::vector<WindowTimer> timers;
  EXPECT_EQ(MsUntilNextTimer(timers, TimerClock::now()), -1);  // no timer: wait for ever
  StartListedTimer(timers, WindowA(), 1, 500);
  StartListedTimer(timers, WindowA(), 2, 100);
  const auto due = timers[1].Due;
  EXPECT_EQ(MsUntilNextTimer(timers, due - milliseconds(30)), 31);  // rounded up past the deadline
  EXPECT_EQ(MsUntilNextTimer(timers, due - std::chrono::microseconds(300)), 1);
  EXPECT_EQ(MsUntilNextTimer(timers, due), 0);
  EXPECT_EQ(MsUntilNextTimer(timers, due + milliseconds(5)), 0);  // overdue
}

TEST(TimerList, AnExpiryIsTakenOnceAndMovesTheDeadlineOnByAPeriod) {
  std::vector<WindowTimer> timers;
  StartListedTimer(timers, WindowA(), 1, 50);
  const auto due = timers[0].Due;
  EXPECT_FALSE(TakeExpiredTimer(timers, due - milliseconds(1)));
  EXPECT_TRUE(TakeExpiredTimer(timers, due));
  EXPECT_EQ(timers[0].Due, due + milliseconds(50));
  EXPECT_FALSE(TakeExpiredTimer(timers, due));
  EXPECT_TRUE(TakeExpiredTimer(timers, due + milliseconds(50)));
  EXPECT_EQ(timers[0].Due, due + milliseconds(100));
}

TEST(TimerList, ExpiriesMissedWhileNobodyWaitedCollapseIntoOne) {
  std::vector<WindowTimer> timers;
  StartListedTimer(timers, WindowA(), 1, 50);
  const auto due = timers[0].Due;
  const auto late = due + milliseconds(5 * 50 + 25);  // five and a half periods late
  EXPECT_TRUE(TakeExpiredTimer(timers, late));
  EXPECT_FALSE(TakeExpiredTimer(timers, late));
  EXPECT_EQ(timers[0].Due, due + milliseconds(6 * 50));  // still on the original grid
}

TEST(TimerList, TwoDueTimersGiveTwoExpiries) {
  std::vector<WindowTimer> timers;
  StartListedTimer(timers, WindowA(), 1, 50);
  StartListedTimer(timers, WindowB(), 1, 50);
  const auto late = timers[1].Due + milliseconds(1);
  EXPECT_TRUE(TakeExpiredTimer(timers, late));
  EXPECT_TRUE(TakeExpiredTimer(timers, late));
  EXPECT_FALSE(TakeExpiredTimer(timers, late));
}

}  // namespace
