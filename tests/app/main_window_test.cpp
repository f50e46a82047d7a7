// SPDX-License-Identifier: GPL-2.0-or-later
// The main window over a scripted window layer: what it asks the layer to build, the texts it
// shows, and how its event loop reacts to each event. The expected numbers are written out
// here rather than taken from the program's constants, so that a wrong constant shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/main_window.h"
#include "app/winlayer/winlayer.h"

namespace {

struct Call {
  std::string Op;
  std::vector<int64_t> Numbers;
  std::string Text;
};

// One scripted event: before WaitEvent returns Code, the slider is put at SliderValue (when
// not negative) and the playback values are set (when FrameIndex is not negative).
struct ScriptedEvent {
  int32_t Code;
  int32_t Control;
  int32_t SliderValue;
  int32_t FrameIndex;
  int32_t Levels[3];
};

struct FakeLayer {
  std::vector<Call> Calls;
  std::deque<ScriptedEvent> Script;
  std::map<int32_t, int32_t> Values;
  std::map<int32_t, std::string> Texts;
  int32_t EventControl;
  int32_t EventControlQueries;
  bool ScriptRanOut;
  std::vector<float> LevelAtWait;  // OutputLevel each time the loop waits
} Fake;

char WindowTag, ControlTag;

NativeHandle FakeOpen(int32_t window, int32_t x, int32_t y, int32_t w, int32_t h, const char* title, int32_t flags) {
  Fake.Calls.push_back({"OpenTopWindow", {window, x, y, w, h, flags}, title});
  return &WindowTag;
}
NativeHandle FakeParent(NativeHandle window) {
  Fake.Calls.push_back({"UseControlParent", {window == &WindowTag}, ""});
  return window;
}
NativeHandle FakeLabel(int32_t control, int32_t x, int32_t y, int32_t w, int32_t h, const char* text) {
  Fake.Calls.push_back({"CreateLabel", {control, x, y, w, h}, text});
  Fake.Texts[control] = text;
  return &ControlTag;
}
NativeHandle FakeSlider(int32_t control, int32_t x, int32_t y, int32_t w, int32_t h, int32_t lo, int32_t hi) {
  Fake.Calls.push_back({"CreateSlider", {control, x, y, w, h, lo, hi}, ""});
  return &ControlTag;
}
void FakeSetText(int32_t control, const char* text) {
  Fake.Calls.push_back({"SetControlText", {control}, text});
  Fake.Texts[control] = text;
}
void FakeSetValue(int32_t control, int32_t value) {
  Fake.Calls.push_back({"SetControlValue", {control, value}, ""});
  Fake.Values[control] = value;
}
int32_t FakeGetValue(int32_t control) { return Fake.Values.count(control) ? Fake.Values[control] : 0; }
int32_t FakeWait() {
  Fake.LevelAtWait.push_back(App.Levels.OutputLevel.load());
  if (Fake.Script.empty()) {
    Fake.ScriptRanOut = true;
    return EVENT_CLOSE;
  }
  const ScriptedEvent e = Fake.Script.front();
  Fake.Script.pop_front();
  if (e.SliderValue >= 0) Fake.Values[5] = e.SliderValue;
  if (e.FrameIndex >= 0) {
    App.Dump.FrameIndex.store(e.FrameIndex);
    for (int k = 0; k < 3; ++k) App.Levels.ChannelLevels[k].store(e.Levels[k]);
  }
  Fake.EventControl = e.Control;
  return e.Code;
}
int32_t FakeEventControl() {
  ++Fake.EventControlQueries;
  return Fake.EventControl;
}
int32_t FakeStartTimer(NativeHandle window, int32_t id, int32_t ms) {
  Fake.Calls.push_back({"StartWindowTimer", {window == &WindowTag, id, ms}, ""});
  return id;
}

const WindowLayerOps FakeOps = {
    .Name = "fake", .OpenTopWindow = FakeOpen, .UseControlParent = FakeParent, .CreateLabel = FakeLabel,
    .CreateSlider = FakeSlider, .SetControlText = FakeSetText, .SetControlValue = FakeSetValue,
    .GetControlValue = FakeGetValue, .WaitEvent = FakeWait, .GetEventControl = FakeEventControl,
    .StartWindowTimer = FakeStartTimer,
};

ScriptedEvent Event(int32_t code, int32_t control = 0, int32_t slider = -1) {
  return ScriptedEvent{code, control, slider, -1, {0, 0, 0}};
}
ScriptedEvent TimerWith(int32_t frameIndex, int32_t a, int32_t b, int32_t c) {
  return ScriptedEvent{EVENT_TIMER, 0, -1, frameIndex, {a, b, c}};
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearAppContext();
    Fake = FakeLayer{};
    UseWindowLayer(&FakeOps);
    App.Levels.OutputLevel.store(0.85f);
    FillLevelBars();
  }
  std::vector<Call> CallsOf(const std::string& op) const {
    std::vector<Call> out;
    for (const Call& c : Fake.Calls)
      if (c.Op == op) out.push_back(c);
    return out;
  }
  // The calls made, in order, are those expected: operation, numbers and text.
  template <size_t N>
  void ExpectCalls(const std::vector<Call>& calls, const Call (&expected)[N]) {
    ASSERT_EQ(calls.size(), N);
    for (size_t k = 0; k < N; ++k) {
      EXPECT_EQ(calls[k].Op, expected[k].Op) << "call " << k;
      EXPECT_EQ(calls[k].Numbers, expected[k].Numbers) << "call " << k;
      EXPECT_EQ(calls[k].Text, expected[k].Text) << "call " << k;
    }
  }
};

TEST_F(MainWindowTest, LevelBarsHoldZeroToFifteenHyphens) {
  EXPECT_STREQ(App.Shell.LevelBars[0], "");
  EXPECT_STREQ(App.Shell.LevelBars[1], "-");
  EXPECT_STREQ(App.Shell.LevelBars[7], "-------");
  EXPECT_STREQ(App.Shell.LevelBars[15], "---------------");
  for (int n = 0; n < 16; ++n) EXPECT_EQ(std::string(App.Shell.LevelBars[n]), std::string(static_cast<size_t>(n), '-')) << n;
}

TEST_F(MainWindowTest, BuildsTheWindowItsControlsAndTheTimerInOrder) {
  BuildMainWindow();
  EXPECT_EQ(App.Shell.MainWindowHandle, &WindowTag);
  const Call expected[] = {
      {"OpenTopWindow", {1, 0, 0, 140, 100, 0xC80001}, "Tonewell =)"}, {"UseControlParent", {1}, ""},
      {"CreateLabel", {1, 10, 10, 110, 20}, "Loading..."},             {"CreateLabel", {2, 10, 30, 110, 14}, ""},
      {"CreateLabel", {3, 10, 43, 110, 14}, ""},                       {"CreateLabel", {4, 10, 56, 110, 14}, ""},
      {"CreateSlider", {5, 6, 75, 130, 18, 0, 100}, ""},               {"SetControlValue", {5, 85}, ""},
      {"StartWindowTimer", {1, 1, 50}, ""},
  };
  ExpectCalls(Fake.Calls, expected);
}

TEST_F(MainWindowTest, SliderStartsAtTheOutputLevelRounded) {
  App.Levels.OutputLevel.store(0.5f);
  BuildMainWindow();
  EXPECT_EQ(Fake.Values[5], 50);
  Fake = FakeLayer{};
  App.Levels.OutputLevel.store(0.855f);  // 85.5 rounds away from zero
  BuildMainWindow();
  EXPECT_EQ(Fake.Values[5], 86);
}

TEST_F(MainWindowTest, RefreshShowsPositionCountAndBars) {
  App.Dump.FrameIndex.store(3);
  App.Dump.FrameCount = 7;
  App.Levels.ChannelLevels[0].store(0);
  App.Levels.ChannelLevels[1].store(15);
  App.Levels.ChannelLevels[2].store(6);
  RefreshStatus();
  const Call expected[] = {{"SetControlText", {1}, "Playing: 3 / 7"}, {"SetControlText", {2}, "A: "},
                           {"SetControlText", {3}, "B: ---------------"}, {"SetControlText", {4}, "C: ------"}};
  ExpectCalls(CallsOf("SetControlText"), expected);
}

TEST_F(MainWindowTest, RefreshWithNothingLoadedShowsZeroOfZeroAndEmptyBars) {
  RefreshStatus();
  EXPECT_EQ(Fake.Texts, (std::map<int32_t, std::string>{{1, "Playing: 0 / 0"}, {2, "A: "}, {3, "B: "}, {4, "C: "}}));
}

TEST_F(MainWindowTest, RefreshShowsLargeNumbersWhole) {
  App.Dump.FrameIndex.store(32786);
  App.Dump.FrameCount = 32787;
  RefreshStatus();
  EXPECT_EQ(Fake.Texts[1], "Playing: 32786 / 32787");
}

TEST_F(MainWindowTest, SliderEventsSetTheOutputLevelToPositionOverHundred) {
  Fake.Script = {Event(EVENT_CONTROL, 5, 0), Event(EVENT_CONTROL, 5, 85), Event(EVENT_CONTROL, 5, 100),
                 Event(EVENT_CONTROL, 5, 1), Event(EVENT_CLOSE)};
  RunEventLoop();
  // The level seen at each wait is the one set by the event before it (85: the same value as at
  // start-up).
  EXPECT_EQ(Fake.LevelAtWait, (std::vector<float>{0.85f, 0.0f, 0.85f, 1.0f, 0.01f}));
  EXPECT_FALSE(Fake.ScriptRanOut);
}

TEST_F(MainWindowTest, OtherControlsAndOtherCodesLeaveTheLevelAlone) {
  Fake.Script = {Event(EVENT_CONTROL, 3, 10), Event(EVENT_MOVE, 5, 20),  Event(EVENT_REPAINT, 5, 30),
                 Event(0, 5, 40),             Event(EVENT_MENU, 5, 50),  Event(EVENT_CLOSE)};
  RunEventLoop();
  for (float level : Fake.LevelAtWait) EXPECT_EQ(level, 0.85f);
  EXPECT_EQ(Fake.EventControlQueries, 1);  // asked only for the EVENT_CONTROL
  EXPECT_TRUE(CallsOf("SetControlText").empty());
}

TEST_F(MainWindowTest, TimerEventsRefreshFromTheValuesOfThatMoment) {
  App.Dump.FrameCount = 3;
  Fake.Script = {TimerWith(0, 1, 2, 3), TimerWith(1, 15, 0, 0), TimerWith(2, 0, 0, 9), Event(EVENT_CLOSE)};
  RunEventLoop();
  const auto texts = CallsOf("SetControlText");
  ASSERT_EQ(texts.size(), 12u);
  const char* const expected[12] = {"Playing: 0 / 3", "A: -", "B: --", "C: ---", "Playing: 1 / 3", "A: ---------------",
                                    "B: ", "C: ", "Playing: 2 / 3", "A: ", "B: ", "C: ---------"};
  for (size_t k = 0; k < 12; ++k) EXPECT_EQ(texts[k].Text, expected[k]) << k;
}

TEST_F(MainWindowTest, CloseEndsTheLoopAndLeavesLaterEventsUntaken) {
  Fake.Script = {Event(EVENT_CLOSE), Event(EVENT_TIMER), Event(EVENT_CONTROL, 5, 0)};
  RunEventLoop();
  EXPECT_EQ(App.Shell.LastEvent, EVENT_CLOSE);
  EXPECT_EQ(Fake.Script.size(), 2u);
  EXPECT_EQ(App.Levels.OutputLevel.load(), 0.85f);
  EXPECT_TRUE(CallsOf("SetControlText").empty());
}

}  // namespace
