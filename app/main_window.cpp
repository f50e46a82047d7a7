// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/main_window.h"

#include <cmath>

#include "app/app_context.h"
#include "app/winlayer/winlayer.h"
#include "dump/text.h"

const char* const MAIN_WINDOW_TITLE = "Tonewell =)";

void FillLevelBars() {
  for (int32_t n = 0; n < LEVEL_BAR_COUNT; ++n) {
    for (int32_t i = 0; i < n; ++i) App.Shell.LevelBars[n][i] = '-';
    App.Shell.LevelBars[n][n] = '\0';
  }
}

void BuildMainWindow() {
  App.Shell.MainWindowHandle = OpenTopWindow(WINDOW_MAIN, 0, 0, MAIN_CLIENT_WIDTH, MAIN_CLIENT_HEIGHT,
                                       MAIN_WINDOW_TITLE, MAIN_WINDOW_FLAGS);
  UseControlParent(App.Shell.MainWindowHandle);
  CreateLabel(CONTROL_STATUS, LABEL_X, STATUS_Y, LABEL_WIDTH, STATUS_HEIGHT, "Loading...");
  CreateLabel(CONTROL_LEVEL_A, LABEL_X, LEVEL_A_Y, LABEL_WIDTH, LEVEL_HEIGHT, "");
  CreateLabel(CONTROL_LEVEL_B, LABEL_X, LEVEL_B_Y, LABEL_WIDTH, LEVEL_HEIGHT, "");
  CreateLabel(CONTROL_LEVEL_C, LABEL_X, LEVEL_C_Y, LABEL_WIDTH, LEVEL_HEIGHT, "");
  CreateSlider(CONTROL_VOLUME, SLIDER_X, SLIDER_Y, SLIDER_WIDTH, SLIDER_HEIGHT, 0, VOLUME_MAXIMUM);
  const double position = static_cast<double>(App.Levels.OutputLevel.load(std::memory_order_relaxed)) * 100.0;
  SetControlValue(CONTROL_VOLUME, static_cast<int32_t>(std::lround(position)));
  StartWindowTimer(App.Shell.MainWindowHandle, TIMER_REFRESH, REFRESH_PERIOD_MS);
}

void RefreshStatus() {
  const int32_t index = App.Dump.FrameIndex.load(std::memory_order_relaxed);
  SetControlText(CONTROL_STATUS,
                 Concat({"Playing: ", IntToText(index), " / ", IntToText(App.Dump.FrameCount)}).c_str());
  const char* const prefixes[3] = {"A: ", "B: ", "C: "};
  for (int32_t k = 0; k < 3; ++k) {
    const int32_t level = App.Levels.ChannelLevels[k].load(std::memory_order_relaxed);
    SetControlText(CONTROL_LEVEL_A + k, Concat({prefixes[k], App.Shell.LevelBars[level]}).c_str());
  }
}

void RunEventLoop() {
  for (;;) {
    App.Shell.LastEvent = WaitEvent();
    if (App.Shell.LastEvent == EVENT_CONTROL && GetEventControl() == CONTROL_VOLUME) {
      const int32_t position = GetControlValue(CONTROL_VOLUME);
      App.Levels.OutputLevel.store(static_cast<float>(position / 100.0), std::memory_order_relaxed);
    }
    if (App.Shell.LastEvent == EVENT_TIMER) RefreshStatus();
    if (App.Shell.LastEvent == EVENT_CLOSE) break;
  }
}
