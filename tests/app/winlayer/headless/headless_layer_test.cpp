// SPDX-License-Identifier: GPL-2.0-or-later
// The display-less window layer through the layer's own operations: numbered tables, slider
// values and clamping, timers as EVENT_TIMER, close signals as EVENT_CLOSE.
#include <gtest/gtest.h>

#include <cstdint>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/winlayer/winlayer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t MainFlags = 0x00C00000 | 0x00080000 | WINDOW_SCREEN_CENTRED;

class HeadlessLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    UseWindowLayer(&HeadlessWindowLayer);
    InitWindowLayer();
    InitControlLayer();
    Window = OpenTopWindow(1, 0, 0, 140, 100, "Tonewell =)", MainFlags);
    UseControlParent(Window);
  }
  void TearDown() override { EndWindowLayer(); }
  NativeHandle Window = nullptr;
};

TEST_F(HeadlessLayer, WindowsAndControlsGetHandlesAndNegativeNumbersNone) {
  EXPECT_NE(Window, nullptr);
  EXPECT_EQ(OpenTopWindow(-1, 0, 0, 10, 10, "x", 0), nullptr);
  EXPECT_NE(CreateLabel(1, 10, 10, 110, 20, "Loading..."), nullptr);
  EXPECT_NE(CreateSlider(5, 6, 75, 130, 18, 0, 100), nullptr);
  EXPECT_EQ(CreateLabel(-2, 0, 0, 1, 1, "x"), nullptr);
  EXPECT_EQ(CreateSlider(-5, 0, 0, 1, 1, 0, 100), nullptr);
}

// A slider over minimum..maximum, then value set (INT32_MIN: none): what it reads back.
struct SliderCase {
  int32_t Minimum, Maximum, Set, Read;
};

TEST_F(HeadlessLayer, SliderStartsAtItsMinimumAndKeepsValuesInsideItsRange) {
  const SliderCase cases[] = {{0, 100, INT32_MIN, 0}, {0, 100, 85, 85}, {0, 100, 101, 100}, {0, 100, -1, 0},
                              {20, 30, INT32_MIN, 20}, {20, 30, 25, 25},  {20, 30, 31, 30}};
  for (const SliderCase& c : cases) {
    CreateSlider(5, 0, 0, 10, 10, c.Minimum, c.Maximum);
    if (c.Set != INT32_MIN) SetControlValue(5, c.Set);
    EXPECT_EQ(GetControlValue(5), c.Read) << c.Minimum << ".." << c.Maximum << " set " << c.Set;
  }
}

TEST_F(HeadlessLayer, NegativeSliderBoundsCountAsZero) {
  for (const SliderCase& c : {SliderCase{-10, 100, -3, 0}, SliderCase{-10, -1, 50, 0}}) {  // 0..100, 0..0
    CreateSlider(6, 0, 0, 10, 10, c.Minimum, c.Maximum);
    SetControlValue(6, c.Set);
    EXPECT_EQ(GetControlValue(6), c.Read) << c.Minimum << ".." << c.Maximum;
  }
}

TEST_F(HeadlessLayer, NumbersThatNameNothingDoNothingAndReadZero) {
  CreateSlider(5, 6, 75, 130, 18, 0, 100);
  SetControlValue(5, 40);
  for (int32_t n : {-1, 0, 4, 6, 55, 1000}) {
    SetControlValue(n, 7);
    SetControlText(n, "ignored");
    EXPECT_EQ(GetControlValue(n), 0) << n;
  }
  EXPECT_EQ(GetControlValue(5), 40);
}

TEST_F(HeadlessLayer, LabelsHaveNoValue) {
  CreateLabel(2, 10, 30, 110, 14, "");
  SetControlValue(2, 9);
  EXPECT_EQ(GetControlValue(2), 0);
  SetControlText(2, "A: ---");
  SetControlText(2, nullptr);  // a missing text counts as empty
  EXPECT_EQ(GetControlValue(2), 0);
}

TEST_F(HeadlessLayer, ANumberReusedForAnotherKindReleasesTheOldControl) {
  CreateSlider(5, 6, 75, 130, 18, 0, 100);
  SetControlValue(5, 60);
  CreateLabel(5, 10, 10, 110, 20, "now a label");
  EXPECT_EQ(GetControlValue(5), 0);
  CreateSlider(5, 6, 75, 130, 18, 0, 100);
  EXPECT_EQ(GetControlValue(5), 0);  // a new slider, not the old value
}

TEST_F(HeadlessLayer, TablesGrowForLargeNumbersAndKeepWhatTheyHeld) {
  CreateSlider(5, 6, 75, 130, 18, 0, 100);
  SetControlValue(5, 33);
  CreateSlider(120, 0, 0, 10, 10, 0, 10);
  SetControlValue(120, 4);
  EXPECT_EQ(GetControlValue(120), 4);
  EXPECT_EQ(GetControlValue(5), 33);
  EXPECT_NE(OpenTopWindow(40, 0, 0, 10, 10, "second", 0), nullptr);
}

TEST_F(HeadlessLayer, TimerExpiriesComeOutAsTimerEventsNoEarlierThanThePeriod) {
  const auto start = Clock::now();
  ASSERT_EQ(StartWindowTimer(Window, 1, 10), 1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitEvent(), EVENT_TIMER);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_EQ(GetEventControl(), 0);  // no control was used
}

TEST_F(HeadlessLayer, AStoppedTimerStopsItsEvents) {
  const auto start = Clock::now();
  StartWindowTimer(Window, 1, 5);
  StartWindowTimer(Window, 2, 400);
  EXPECT_EQ(WaitEvent(), EVENT_TIMER);
  StopWindowTimer(Window, 1);
  EXPECT_EQ(WaitEvent(), EVENT_TIMER);  // only timer 2 is left: not before its deadline
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(400));
}

class HeadlessCloseSignal : public HeadlessLayer, public ::testing::WithParamInterface<int> {};

TEST_P(HeadlessCloseSignal, ASignalBecomesOneCloseEventAheadOfADueTimer) {
  StartWindowTimer(Window, 1, 1);
  ASSERT_EQ(WaitEvent(), EVENT_TIMER);  // the timer is running and will be due again
  ASSERT_EQ(::raise(GetParam()), 0);
  EXPECT_EQ(WaitEvent(), EVENT_CLOSE);
  EXPECT_EQ(WaitEvent(), EVENT_TIMER);  // the request is taken once
}

INSTANTIATE_TEST_SUITE_P(IntTermHup, HeadlessCloseSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP));

TEST_F(HeadlessLayer, TwoSignalsGiveTwoCloseEvents) {
  ::raise(SIGTERM);
  ::raise(SIGHUP);
  EXPECT_EQ(WaitEvent(), EVENT_CLOSE);
  EXPECT_EQ(WaitEvent(), EVENT_CLOSE);
}

TEST_F(HeadlessLayer, ASignalFromAnotherThreadWakesAWaitThatHasNoTimerDue) {
  // The watchdog timer only turns a missed wake-up into a failure instead of a hang.
  StartWindowTimer(Window, 9, 5000);
  std::thread sender([] { ::kill(::getpid(), SIGTERM); });
  const int32_t code = WaitEvent();
  sender.join();
  EXPECT_EQ(code, EVENT_CLOSE);
}

TEST_F(HeadlessLayer, ASignalDuringStartUpIsKeptUntilTheLoopWaits) {
  ::raise(SIGTERM);  // arrives "while the dump loads": nothing is waiting yet
  CreateLabel(1, 10, 10, 110, 20, "Loading...");
  StartWindowTimer(Window, 1, 5000);
  EXPECT_EQ(WaitEvent(), EVENT_CLOSE);
}

}  // namespace
