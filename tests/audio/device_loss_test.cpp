// SPDX-License-Identifier: GPL-2.0-or-later
// A device that vanishes while the stream plays, and comes back: the pump closes it, renders
// nothing while none is open, tries to open one every REOPEN_EVERY_CYCLES cycles, and the new
// device goes on with the music where the lost one left it. In virtual time on the virtual device.
#include <vector>

#include "stream_harness.h"

namespace {

constexpr uint64_t CYCLE_BYTES = 220 * 4;  // what the device plays in about one 5 ms cycle

size_t IdleSteps() {
  size_t n = 0;
  for (const Step& s : Rec.Steps) n += s.Kind == STEP_IDLE;
  return n;
}

class DeviceLoss : public StreamTest {
 protected:
  // n cycles with the device playing on one cycle's worth before each.
  void Play(int32_t cycles) {
    for (int32_t i = 0; i < cycles; ++i) {
      PlayTo(Position + CYCLE_BYTES);
      Cycle();
    }
  }
  // n cycles with the device gone or not yet playing.
  void Wait(int32_t cycles) {
    for (int32_t i = 0; i < cycles; ++i) Cycle();
  }
  // Plays until the device stands `into` bytes into a block, then loses it: the pump sees the
  // loss at its next cycle. Returns the device frame where the playing block began.
  uint64_t LoseMidBlock(uint64_t into) {
    PlayTo((Position / BLOCK_BYTES + 1) * BLOCK_BYTES + into);
    Cycle();
    const uint64_t blockStart = Position / BLOCK_BYTES * BLOCK_BYTES / 4;
    LoseVirtualDevice(1);
    Cycle();
    return blockStart;
  }
};

}  // namespace

TEST_F(DeviceLoss, TheMusicGoesOnWhereTheLostDeviceLeftItWithNoTickLostOrRepeated) {
  ASSERT_EQ(OpenRecording(DEVICE_MOVED_BY_TEST | CAPTURE_PLAYED), 0);
  Play(100);
  const uint64_t blockStart = LoseMidBlock(1000);
  const std::vector<uint32_t> heard = Played;  // stamp of every device frame, from frame 0
  const size_t samples = Rec.SampleFrames.size();
  const size_t ticks = Rec.TickAfter.size();
  VirtualWaveOutRecord d = VirtualWaveOutState();
  EXPECT_EQ(d.Closes, 1);
  EXPECT_EQ(d.IsOpen, 0);
  EXPECT_EQ(App.Stream.DeviceLost.load(), 1);

  // Gone for 150 cycles: nothing rendered, no tick, the pump cycles on (idle every cycle) and
  // tries to open a device at the 50th, 100th and 150th; it never queries a closed device.
  const size_t idles = IdleSteps();
  Wait(120);
  EXPECT_EQ(Rec.SampleFrames.size(), samples);
  EXPECT_EQ(Rec.TickAfter.size(), ticks);
  EXPECT_EQ(IdleSteps(), idles + 120);
  EXPECT_EQ(VirtualWaveOutState().Opens, 1 + 2);
  EXPECT_EQ(VirtualQueriesWhileClosed(), 0);
  LoseVirtualDevice(0);  // it comes back; the pump finds it at its next attempt
  Wait(29);
  EXPECT_EQ(VirtualWaveOutState().Opens, 3);
  Wait(1);
  d = VirtualWaveOutState();
  EXPECT_EQ(d.Opens, 4);
  EXPECT_EQ(d.Writes, 2);
  EXPECT_EQ(d.IsPlaying, 1);
  EXPECT_EQ(App.Stream.DeviceLost.load(), 0);
  EXPECT_EQ(App.Stream.Reopens.load(), 1);
  EXPECT_EQ(d.LastHeader.Data, App.Stream.RingBuffer);
  EXPECT_EQ(d.LastHeader.BufferLength, static_cast<uint32_t>(RING_BYTES));
  EXPECT_EQ(Rec.SampleFrames.size(), samples);

  // The new device counts from 0. It plays the block the lost one was in from its start, then
  // everything rendered after it, and the pump renders on from where it stopped.
  Position = 0;
  const size_t from = Rec.Steps.size();
  Play(400);
  const std::vector<uint32_t> after(Played.begin() + static_cast<std::ptrdiff_t>(heard.size()), Played.end());
  ASSERT_GT(after.size(), 80000u);
  ASSERT_GT(heard[blockStart], 0u);
  EXPECT_EQ(after[0], heard[blockStart]);
  for (size_t i = 0; i < after.size(); ++i) ASSERT_EQ(after[i], after[0] + i) << "frame " << i << " after the return";
  // Nothing heard before is skipped: the return starts at most one block before the last heard
  // frame, and no stamp beyond it is missing.
  EXPECT_LE(after[0], heard.back() + 1);
  EXPECT_GT(after[0] + 884, heard.back());
  // Ticks: still one after every 882nd sample call counted from the open, none twice.
  ASSERT_GT(Rec.TickAfter.size(), ticks + 80u);
  for (size_t n = 0; n < Rec.TickAfter.size(); ++n) ASSERT_EQ(Rec.TickAfter[n], static_cast<int64_t>(882 * (n + 1))) << n;
  EXPECT_EQ(Rec.TickAfter.size(), Rec.SampleFrames.size() / 882);
  // Rendering picks up in ring order at block 0, where the new device began.
  const std::vector<int32_t> blocks = BlocksSince(from);
  ASSERT_GE(blocks.size(), 8u);
  for (size_t i = 0; i < blocks.size(); ++i) ASSERT_EQ(blocks[i], static_cast<int32_t>(i % 8)) << i;
  StopAudioStream();
  EXPECT_EQ(VirtualWaveOutState().Closes, 2);
}

TEST_F(DeviceLoss, AReopenThatCannotPlayTheRingIsClosedAndTriedAgain) {
  ASSERT_EQ(OpenRecording(DEVICE_MOVED_BY_TEST), 0);
  Play(60);
  LoseMidBlock(40);
  LoseVirtualDevice(0);
  FailVirtualWrite(3);
  Wait(REOPEN_EVERY_CYCLES);
  VirtualWaveOutRecord d = VirtualWaveOutState();
  EXPECT_EQ(d.Opens, 2);
  EXPECT_EQ(d.Closes, 2);  // the lost device, and the one whose write failed
  EXPECT_EQ(d.IsOpen, 0);
  EXPECT_EQ(App.Stream.DeviceLost.load(), 1);
  EXPECT_EQ(App.Stream.Device, nullptr);
  FailVirtualWrite(0);
  Wait(REOPEN_EVERY_CYCLES);
  d = VirtualWaveOutState();
  EXPECT_EQ(d.Opens, 3);
  EXPECT_EQ(d.IsPlaying, 1);
  EXPECT_EQ(App.Stream.DeviceLost.load(), 0);
  StopAudioStream();
  EXPECT_EQ(VirtualWaveOutState().Closes, 3);
}

TEST_F(DeviceLoss, AStopWhileNoDeviceIsOpenClosesNothingMore) {
  ASSERT_EQ(OpenRecording(DEVICE_MOVED_BY_TEST), 0);
  Play(30);
  LoseMidBlock(4);
  Wait(7);
  StopAudioStream();
  const VirtualWaveOutRecord d = VirtualWaveOutState();
  EXPECT_EQ(d.Closes, 1);
  EXPECT_EQ(d.Opens, 1);
  EXPECT_EQ(App.Stream.PumpExited.load(), 1);
  EXPECT_EQ(App.Stream.RingBuffer, nullptr);
}

// A query that merely fails is no loss: the device stays open and the count is kept.
TEST_F(DeviceLoss, AFailedQueryIsNotALoss) {
  ASSERT_EQ(OpenRecording(DEVICE_MOVED_BY_TEST), 0);
  Play(30);
  FailVirtualPosition(1);
  Wait(REOPEN_EVERY_CYCLES + 5);
  FailVirtualPosition(0);
  const VirtualWaveOutRecord d = VirtualWaveOutState();
  EXPECT_EQ(d.Opens, 1);
  EXPECT_EQ(d.Closes, 0);
  EXPECT_EQ(App.Stream.DeviceLost.load(), 0);
}
