// SPDX-License-Identifier: GPL-2.0-or-later
// The frame sequencer: plays the RegisterDump into the chip, one frame per tick, looping.
#pragma once
#include <atomic>
#include <cstdint>

// What the tick and the window share: levels the tick writes for the display and the output
// level the slider writes for the tick. Both threads read and write them whole (a group of the
// application record).
struct LevelState {
  std::atomic<int32_t> ChannelLevels[3];  // A, B, C: 0..15, written by the tick
  std::atomic<float> OutputLevel;         // 0..1, written by the slider
};
LevelState& Levels();
constexpr float START_OUTPUT_LEVEL = 0.85f;  // OutputLevel at start-up, and the renderer's default

// Writes frame FrameIndex (groups 0..8, and the shape unless its low byte is 0xFF), records the
// three channel levels, applies OutputLevel and moves FrameIndex on, back to 0 at FrameCount.
// Runs on the pump thread; constant work, no allocation. Always 0.
int32_t TickCallback();
