// SPDX-License-Identifier: GPL-2.0-or-later
// The main window: the position in the dump, three level bars and the volume slider.
#pragma once
#include <cstdint>

constexpr int32_t WINDOW_MAIN = 1;
constexpr int32_t CONTROL_STATUS = 1;
constexpr int32_t CONTROL_LEVEL_A = 2;
constexpr int32_t CONTROL_LEVEL_B = 3;
constexpr int32_t CONTROL_LEVEL_C = 4;
constexpr int32_t CONTROL_VOLUME = 5;
constexpr int32_t TIMER_REFRESH = 1;
constexpr int32_t REFRESH_PERIOD_MS = 50;

// Client area and control layout, in pixels of the client area.
constexpr int32_t MAIN_CLIENT_WIDTH = 140;
constexpr int32_t MAIN_CLIENT_HEIGHT = 100;
constexpr int32_t LABEL_X = 10;
constexpr int32_t LABEL_WIDTH = 110;
constexpr int32_t STATUS_Y = 10;
constexpr int32_t STATUS_HEIGHT = 20;
constexpr int32_t LEVEL_A_Y = 30;
constexpr int32_t LEVEL_B_Y = 43;
constexpr int32_t LEVEL_C_Y = 56;
constexpr int32_t LEVEL_HEIGHT = 14;
constexpr int32_t SLIDER_X = 6;
constexpr int32_t SLIDER_Y = 75;
constexpr int32_t SLIDER_WIDTH = 130;
constexpr int32_t SLIDER_HEIGHT = 18;
constexpr int32_t VOLUME_MAXIMUM = 100;
// Title bar with window menu and close box, centred on the screen: 0xC80001.
constexpr int32_t MAIN_WINDOW_FLAGS = 0x00C00000 | 0x00080000 | 1;

extern const char* const MAIN_WINDOW_TITLE;  // "Tonewell =)"

// LevelBars[n] = n hyphens, n = 0..15.
void FillLevelBars();
// Opens window 1 with its four labels and the slider at OutputLevel, and starts the refresh timer.
void BuildMainWindow();
// Takes events until the close event: the slider sets OutputLevel, the timer refreshes the labels.
void RunEventLoop();
// "Playing: index / count" and the three bars, from the current playback values.
void RefreshStatus();
