// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <vector>

#include "app/app_context.h"
#include "dump/dump_loader.h"
#include "dump/frame_sequencer.h"
#include "platform/heap.h"
#include "psg/psg.h"

namespace {

class Sequencer : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearAppContext();
    App.Heaps.Heap = CreatePrivateHeap(4096);
    ConfigureChip(44100);
    ConfigureDump();
    ResetChip();
    App.Levels.OutputLevel.store(0.85f);
  }
  void TearDown() override {
    DestroyPrivateHeap(App.Heaps.Heap);
    App.Heaps.Heap = nullptr;  // later suites allocate from App.Heaps.Heap: never from a destroyed heap
  }
  void Set(int32_t frame, std::vector<int32_t> rows) {
    for (int32_t r = 0; r < static_cast<int32_t>(rows.size()); ++r) App.Dump.RegisterDump[DumpIndex(r, frame)] = rows[r];
  }
  std::vector<int32_t> IndexAfterTicks(int n) {
    std::vector<int32_t> seen;
    for (int i = 0; i < n; ++i) {
      TickCallback();
      seen.push_back(App.Dump.FrameIndex.load());
    }
    return seen;
  }
};

}  // namespace

TEST_F(Sequencer, FrameIndexLoopsOverTheDump) {
  App.Dump.FrameCount = 3;
  EXPECT_EQ(IndexAfterTicks(6), (std::vector<int32_t>{1, 2, 0, 1, 2, 0}));
  App.Dump.FrameCount = 1;
  EXPECT_EQ(IndexAfterTicks(3), (std::vector<int32_t>{0, 0, 0}));
  App.Dump.FrameCount = 0;
  EXPECT_EQ(IndexAfterTicks(3), (std::vector<int32_t>{0, 0, 0}));
}

TEST_F(Sequencer, WritesGroupsAndLevels) {
  App.Dump.FrameCount = 2;
  Set(0, {0x13C, 0x200, 0xFE, 31, 56, 15, 31, 16, 0x1000, 0x0D});
  Set(1, {0x1FFFF, 0, 0, 0, 0, 0x2F, 0, 0, 0, 0xFF});
  TickCallback();
  EXPECT_EQ(ReadGroup(0), 0x13C);
  EXPECT_EQ(ReadGroup(8), 0x1000);
  EXPECT_EQ(ReadGroup(9), 13);
  EXPECT_EQ(App.Levels.ChannelLevels[0].load(), 15);
  EXPECT_EQ(App.Levels.ChannelLevels[1].load(), 15);
  EXPECT_EQ(App.Levels.ChannelLevels[2].load(), 0);
  TickCallback();
  EXPECT_EQ(ReadGroup(0), 0xFFF);  // masked by the chip, not by the sequencer
  EXPECT_EQ(App.Levels.ChannelLevels[0].load(), 15);
}

TEST_F(Sequencer, ShapeFFKeepsTheEnvelopeRunningAnythingElseRestartsIt) {
  App.Dump.FrameCount = 1;
  Set(0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 8});
  TickCallback();
  App.Chip.EnvelopeStepper();
  App.Chip.EnvelopeStepper();
  EXPECT_EQ(App.Chip.EnvelopeIndex, 30);
  struct { int32_t shape; int32_t index; } rows[] = {
      {0xFF, 30}, {0x7FFF, 30}, {-1, 30}, {8, 32}, {-816, 32}, {0x1FF, 30},
  };
  for (auto& row : rows) {
    App.Chip.EnvelopeIndex = 30;
    App.Dump.RegisterDump[DumpIndex(9, 0)] = row.shape;
    TickCallback();
    EXPECT_EQ(App.Chip.EnvelopeIndex, row.index) << row.shape;
  }
  EXPECT_EQ(ReadGroup(9), 0);  // -816 (a missing field 14) wrote shape 0
}

TEST_F(Sequencer, EmptyDumpRestartsShapeZeroEveryTick) {
  App.Dump.FrameCount = 0;
  WriteGroup(9, 13);
  App.Chip.EnvelopeIndex = 5;
  TickCallback();
  EXPECT_EQ(ReadGroup(9), 0);
  EXPECT_EQ(App.Chip.EnvelopeIndex, 32);
  EXPECT_EQ(App.Dump.FrameIndex.load(), 0);
}

TEST_F(Sequencer, OutputLevelReachesTheChipAtTheNextTick) {
  App.Dump.FrameCount = 1;
  TickCallback();
  EXPECT_EQ(App.Chip.OutputGain, 0.85f);
  App.Levels.OutputLevel.store(0.5f);
  EXPECT_EQ(App.Chip.OutputGain, 0.85f);
  TickCallback();
  EXPECT_EQ(App.Chip.OutputGain, 0.5f);
  App.Levels.OutputLevel.store(3.0f);
  TickCallback();
  EXPECT_EQ(App.Chip.OutputGain, 1.0f);
}
