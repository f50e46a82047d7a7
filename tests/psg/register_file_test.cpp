// SPDX-License-Identifier: GPL-2.0-or-later
#include <cmath>
#include <limits>

#include "chip_fixture.h"

using RegisterFile = ChipTest;

TEST_F(RegisterFile, ConfigurationDerivesStepFromClockAndRate) {
  EXPECT_EQ(App.Chip.ClockDiv8, 218750);
  EXPECT_EQ(App.Chip.PeriodStep, 4.960317611694336f);
  EXPECT_EQ(FloatBits(App.Chip.FilterInputWeight), 0x3F59999Au);
  EXPECT_EQ(FloatBits(App.Chip.FilterStateWeight), 0x3F7D70A4u);
}

TEST_F(RegisterFile, PeriodLimitsAreExactFloats) {
  struct { int32_t value; double limit; } rows[] = {
      {1, 0.20160000026226044}, {5, 1.0080000162124634}, {100, 20.15999984741211},
      {564, 113.70240020751953}, {1000, 201.59999084472656}, {4095, 825.552001953125},
  };
  for (auto& row : rows) {
    WriteGroup(0, row.value);
    WriteGroup(3, row.value);
    EXPECT_EQ(static_cast<double>(App.Chip.Channel[0].PeriodLimit), row.limit) << row.value;
    if (row.value <= 31) {
      EXPECT_EQ(static_cast<double>(App.Chip.NoiseLimit), row.limit) << row.value;
    }
  }
  WriteGroup(8, 65535);
  EXPECT_EQ(static_cast<double>(App.Chip.EnvelopeLimit), 13211.85546875);
  WriteGroup(8, 0);
  EXPECT_EQ(App.Chip.EnvelopeLimit, 0.0f);
}

TEST_F(RegisterFile, WritesAreMaskedAndReadBackRaw) {
  struct { int32_t group, value, kept; } rows[] = {
      {0, 4660, 564}, {1, -1, 0xFFF}, {2, 0x1000, 0}, {3, 0x3F, 0x1F}, {4, 0x1FF, 0x3F},
      {5, 31, 31}, {6, 0x30, 0x10}, {7, -2, 30}, {8, 0x12345, 0x2345}, {9, 30, 14},
  };
  for (auto& row : rows) {
    EXPECT_EQ(WriteGroup(row.group, row.value), 0);
    EXPECT_EQ(ReadGroup(row.group), row.kept) << "group " << row.group;
  }
  EXPECT_EQ(App.Chip.Channel[0].PeriodLimit, 113.70240020751953f);
}

TEST_F(RegisterFile, GroupsOutsideTheTenChangeNothing) {
  WriteGroup(0, 100);
  PsgChip before = App.Chip;
  EXPECT_EQ(WriteGroup(10, 5), 0);
  EXPECT_EQ(WriteGroup(-1, 5), 0);
  EXPECT_EQ(std::memcmp(&before, &App.Chip, sizeof(PsgChip)), 0);
  EXPECT_EQ(ReadGroup(10), 0);
  EXPECT_EQ(ReadGroup(-1), 0);
}

TEST_F(RegisterFile, VolumeLevelsUseOddTableEntries) {
  const float levels[16] = {30, 286, 470, 664, 1130, 1803, 2848, 3862,
                            6058, 8559, 12878, 17787, 26172, 35676, 50986, 65535};
  for (int32_t level = 0; level < 16; ++level) {
    WriteGroup(6, level);
    EXPECT_EQ(App.Chip.Channel[1].FixedAmplitude, levels[level]) << level;
    EXPECT_EQ(App.Chip.Channel[1].EnvelopeMode, 0);
  }
  WriteGroup(5, 31);
  EXPECT_EQ(App.Chip.Channel[0].EnvelopeMode, 16);
  EXPECT_EQ(App.Chip.Channel[0].FixedAmplitude, 65535.0f);
}

TEST_F(RegisterFile, MixerBitsDisableSources) {
  struct { int32_t mixer; int32_t tone[3], noise[3], active[3]; } rows[] = {
      {0, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}},
      {63, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
      {7, {0, 0, 0}, {1, 1, 1}, {1, 1, 1}},
      {0x38, {1, 1, 1}, {0, 0, 0}, {1, 1, 1}},
      {0x09, {0, 1, 1}, {0, 1, 1}, {0, 1, 1}},
      {0x22, {1, 0, 1}, {1, 1, 0}, {1, 1, 1}},
  };
  for (auto& row : rows) {
    WriteGroup(4, row.mixer);
    for (int k = 0; k < 3; ++k) {
      const ToneChannel& t = App.Chip.Channel[k];
      EXPECT_EQ(t.ToneEnabled, row.tone[k]) << row.mixer << " voice " << k;
      EXPECT_EQ(t.NoiseEnabled, row.noise[k]) << row.mixer << " voice " << k;
      EXPECT_EQ(t.ChannelActive, row.active[k]) << row.mixer << " voice " << k;
    }
  }
}

TEST_F(RegisterFile, ShapeWriteRestartsWalkButKeepsPhaseAndLevel) {
  App.Chip.EnvelopePhase = 3.5f;
  App.Chip.EnvelopeLevel = 1234.0f;
  App.Chip.EnvelopeFlag = 1;
  WriteGroup(9, 30);
  EXPECT_EQ(App.Chip.EnvelopeShape, 14);
  EXPECT_EQ(App.Chip.EnvelopeIndex, -1);
  EXPECT_EQ(App.Chip.EnvelopeFlag, 0);
  EXPECT_EQ(App.Chip.EnvelopeStepper, &StepTriangleUpFirst);
  EXPECT_EQ(App.Chip.EnvelopePhase, 3.5f);
  EXPECT_EQ(App.Chip.EnvelopeLevel, 1234.0f);
  WriteGroup(9, 11);
  EXPECT_EQ(App.Chip.EnvelopeIndex, 32);
}

TEST_F(RegisterFile, ResetClearsRegistersButKeepsConfiguration) {
  Write({{0, 100}, {3, 7}, {4, 5}, {5, 31}, {8, 9}, {9, 13}});
  SetOutputLevel(0.5f);
  RenderOne();
  App.Chip.VolumeTable[3] = 1.0f;
  ResetChip();
  for (int32_t group = 0; group <= 9; ++group) EXPECT_EQ(ReadGroup(group), 0) << group;
  EXPECT_EQ(App.Chip.NoiseShift, 0xFFFFu);
  EXPECT_EQ(App.Chip.EnvelopeIndex, 32);
  EXPECT_EQ(App.Chip.EnvelopeStepper, &StepDecayThenLow);
  EXPECT_EQ(App.Chip.OutputGain, 0.5f);
  EXPECT_EQ(App.Chip.VolumeTable[3], 286.0f);
  for (const ToneChannel& t : App.Chip.Channel) {
    EXPECT_EQ(t.Phase, 0.0f);
    EXPECT_EQ(t.SquareOutput, 0);
    EXPECT_EQ(t.ChannelActive, 1);
    EXPECT_EQ(t.FixedAmplitude, 30.0f);
  }
  EXPECT_EQ(App.Chip.FilterLeft, 0.0f);
  EXPECT_EQ(App.Chip.EnvelopeLevel, 0.0f);
}

TEST_F(RegisterFile, OutputLevelIsClamped) {
  struct { float in, out; } rows[] = {
      {1.5f, 1.0f}, {-0.25f, 0.0f}, {std::numeric_limits<float>::quiet_NaN(), 0.0f},
      {0.85f, 0.85f}, {0.0f, 0.0f}, {1.0f, 1.0f}, {-0.0f, -0.0f},
      {std::numeric_limits<float>::infinity(), 1.0f}, {-std::numeric_limits<float>::infinity(), 0.0f},
  };
  for (auto& row : rows) {
    EXPECT_EQ(SetOutputLevel(row.in), 0);
    EXPECT_EQ(FloatBits(App.Chip.OutputGain), FloatBits(row.out)) << row.in;
  }
  SetOutputLevel(0.85f);
  EXPECT_EQ(FloatBits(App.Chip.OutputGain), 0x3F59999Au);
}
