// SPDX-License-Identifier: GPL-2.0-or-later
#include "chip_fixture.h"

namespace {

// Frame numbers (counted from 1) at which the left sample changes.
std::vector<int> LeftChanges(const std::vector<Frame>& frames) {
  std::vector<int> changes;
  for (size_t i = 1; i < frames.size(); ++i)
    if (frames[i].Left != frames[i - 1].Left) changes.push_back(static_cast<int>(i) + 1);
  return changes;
}

}  // namespace

using Renderer = ChipTest;

TEST_F(Renderer, FramesRightAfterReset) {
  // Frames counted from 0. Every tone toggles on every sample; the noise bit is 0, then sixteen
  // 1s, then 0s, and every gate is tone AND noise.
  std::vector<Frame> frames;
  std::vector<int32_t> noise;
  for (int i = 0; i < 40; ++i) {
    frames.push_back(RenderOne());
    noise.push_back(App.Chip.NoiseOutput);
  }
  EXPECT_EQ(frames[0], (Frame{-10, -10}));
  EXPECT_EQ(frames[1], (Frame{-11, -11}));
  for (int i = 2; i <= 17; ++i) EXPECT_EQ(frames[i], (i % 2 == 0 ? Frame{8, 8} : Frame{-8, -8})) << i;
  for (int i = 18; i < 40 && noise[i] == 0; ++i) EXPECT_EQ(frames[i], (Frame{-11, -11})) << i;
  EXPECT_EQ(noise[18] + noise[19], 0);
}

TEST_F(Renderer, ToneAWithoutFilter) {
  FilterOff();
  Write({{0, 100}, {4, 62}, {5, 15}});
  auto frames = Render(270);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(frames[i], (Frame{-16388, -11})) << i + 1;
  EXPECT_EQ(frames[20], (Frame{16380, -11}));
  EXPECT_EQ(LeftChanges(frames), (std::vector<int>{21, 41, 61, 81, 101, 121, 142, 162, 182, 202, 222, 242, 263}));
}

TEST_F(Renderer, ToneAThroughTheFilter) {
  Write({{0, 100}, {4, 62}, {5, 15}});
  EXPECT_EQ(Render(4), (std::vector<Frame>{{-13929, -10}, {-15879, -11}, {-16153, -11}, {-16191, -11}}));
}

TEST_F(Renderer, EverythingDisabledGivesTheLargestMagnitude) {
  FilterOff();
  Write({{4, 63}, {5, 15}, {6, 15}, {7, 15}});
  for (const Frame& f : Render(50)) ASSERT_EQ(f, (Frame{-24576, -24576}));
  SetOutputLevel(0.5f);
  for (const Frame& f : Render(50)) ASSERT_EQ(f, (Frame{-12288, -12288}));
}

TEST_F(Renderer, NoiseOnlyFollowsTheShiftRegister) {
  FilterOff();
  Write({{4, 55}, {5, 15}});
  auto frames = Render(21);
  EXPECT_EQ(frames[0].Left, -16388);
  for (int i = 1; i <= 16; ++i) EXPECT_EQ(frames[i].Left, 16380) << i;
  for (int i = 17; i <= 19; ++i) EXPECT_EQ(frames[i].Left, -16388) << i;
}

TEST_F(Renderer, NoiseRepeatsEvery57337Shifts) {
  std::vector<uint8_t> bits;
  for (int i = 0; i < 2 * 57337; ++i) {
    RenderOne();  // noise period 0: one shift per frame
    bits.push_back(static_cast<uint8_t>(App.Chip.NoiseOutput));
  }
  for (int i = 0; i < 57337; ++i) ASSERT_EQ(bits[i], bits[i + 57337]) << i;
  // Not a shorter period dividing it (57337 = 7 * 8191).
  for (int period : {7, 8191}) {
    bool differs = false;
    for (int i = 0; i < 57337 && !differs; ++i) differs = bits[i] != bits[i + period];
    EXPECT_TRUE(differs) << period;
  }
}

TEST_F(Renderer, EnvelopeStepsSlightlyAheadOfTheTone) {
  FilterOff();
  Write({{4, 63}, {5, 16}, {8, 100}, {9, 8}});
  auto frames = Render(210);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(frames[i], (Frame{-4, -11})) << i + 1;
  EXPECT_EQ(frames[20].Left, -16388);
  EXPECT_EQ(frames[40].Left, -14714);
  EXPECT_EQ(frames[60].Left, -12750);
  EXPECT_EQ(LeftChanges(frames), (std::vector<int>{21, 41, 61, 81, 101, 121, 141, 162, 182, 202}));
}

TEST_F(Renderer, EnvelopePeriodZeroStepsEverySample) {
  FilterOff();
  Write({{4, 63}, {5, 16}, {9, 0}});
  auto frames = Render(40);
  // Left = -level/4 from the envelope on A, plus C's constant -30/2 * 0.25 = -3.75.
  EXPECT_EQ(frames[0].Left, -16388);  // entry 31
  EXPECT_EQ(frames[30].Left, -11);    // entry 1: -7.5 - 3.75
  for (int i = 31; i < 40; ++i) EXPECT_EQ(frames[i].Left, -4) << i;  // entry 0 from the 32nd frame
}

TEST_F(Renderer, ZeroGainSilencesButGeneratorsRun) {
  Write({{0, 50}, {4, 0x38}, {5, 15}});
  SetOutputLevel(0.0f);
  for (const Frame& f : Render(100)) ASSERT_EQ(f, (Frame{0, 0}));
  EXPECT_NE(App.Chip.FilterLeft, 0.0f);
  EXPECT_GT(App.Chip.Channel[0].Phase, 0.0f);
}

TEST_F(Renderer, LargerLimitDrainsTheSurplusOneSampleAtATime) {
  FilterOff();
  Write({{4, 62}, {5, 15}});  // period 0 after reset: the phase grows by 1 per sample
  Render(10);
  EXPECT_EQ(App.Chip.Channel[0].Phase, 10.0f);
  WriteGroup(0, 5);  // limit 1.008: the surplus drains by 0.008 per sample
  auto frames = Render(20);
  for (size_t i = 1; i < frames.size(); ++i) ASSERT_NE(frames[i].Left, frames[i - 1].Left) << i;
}

TEST_F(Renderer, FrameIsLittleEndianLeftThenRight) {
  FilterOff();
  Write({{0, 100}, {4, 62}, {5, 15}});
  unsigned char bytes[4];
  RenderFrame(bytes);
  // Left -16388 = 0xBFFC, right -11 = 0xFFF5.
  EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 4), (std::vector<unsigned char>{0xFC, 0xBF, 0xF5, 0xFF}));
}
