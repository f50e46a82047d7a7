// SPDX-License-Identifier: GPL-2.0-or-later
// The audio stream on the virtual device, in virtual time.
#include <algorithm>
#include <cstring>
#include <string>

#include "stream_harness.h"

namespace {

int32_t OtherReset() { return 0; }
int32_t OtherSample(void*) { return 0; }
int32_t OtherTick() { return 0; }
int32_t OtherIdle() { return 0; }

// Blocks rendered in ring order from `from`, n of them.
std::vector<int32_t> RingRun(int32_t from, int32_t n) {
  std::vector<int32_t> blocks;
  for (int32_t i = 0; i < n; ++i) blocks.push_back((from + i) % 8);
  return blocks;
}

}  // namespace

// ---- Configuration and registration -------------------------------------------------------

TEST(StreamConfiguration, SizesFollowFromTheFormat) {
  ClearAppContext();
  ConfigureAudioStream();
  const AudioStream& s = App.Stream;
  struct Row { const char* Name; int32_t Got, Want; } rows[] = {
      {"Channels", s.Channels, 2},          {"BitsPerSample", s.BitsPerSample, 16},
      {"FrameBytes", s.FrameBytes, 4},      {"SampleRate", s.SampleRate, 44100},
      {"BlockFrames", s.BlockFrames, 884},  {"RingFrames", s.RingFrames, 7072},
      {"BlockCount", s.BlockCount, 8},      {"RingBytes", s.RingBytes, 28288},
      {"SamplesPerTick", s.SamplesPerTick, 882},
  };
  for (const Row& r : rows) EXPECT_EQ(r.Got, r.Want) << r.Name;
  EXPECT_EQ(s.RingBuffer, nullptr);
  EXPECT_EQ(s.Device, nullptr);
  EXPECT_EQ(s.StopRequested.load(), 0);
  EXPECT_EQ(s.PumpExited.load(), 0);
}

TEST(StreamCallbacks, SettersStoreOnlyRoutinesAndSayWhichTheyStored) {
  ClearAppContext();
  ConfigureAudioStream();
  AudioStream& s = App.Stream;
  EXPECT_EQ(SetResetCallback(nullptr), 0);
  EXPECT_EQ(s.ResetCallback, nullptr);

  EXPECT_EQ(SetResetCallback(RecordReset), 1);
  EXPECT_EQ(SetSampleCallback(RecordSample), 1);
  EXPECT_EQ(SetTickCallback(RecordTick), 1);
  EXPECT_EQ(SetIdleCallback(RecordIdle), 1);
  // Null never empties a slot.
  EXPECT_EQ(SetResetCallback(nullptr), 0);
  EXPECT_EQ(SetSampleCallback(nullptr), 0);
  EXPECT_EQ(SetTickCallback(nullptr), 0);
  EXPECT_EQ(SetIdleCallback(nullptr), 0);
  EXPECT_EQ(s.ResetCallback, &RecordReset);
  EXPECT_EQ(s.SampleCallback, &RecordSample);
  EXPECT_EQ(s.TickCallback, &RecordTick);
  EXPECT_EQ(s.IdleCallback, &RecordIdle);
  // A later routine replaces an earlier one.
  EXPECT_EQ(SetTickCallback(OtherTick), 1);
  EXPECT_EQ(s.TickCallback, &OtherTick);
}

TEST(StreamCallbacks, SetStreamCallbacksTakesIdleBeforeTick) {
  ClearAppContext();
  ConfigureAudioStream();
  AudioStream& s = App.Stream;
  EXPECT_EQ(SetStreamCallbacks(OtherReset, OtherSample, OtherIdle, OtherTick), 0);
  EXPECT_EQ(s.ResetCallback, &OtherReset);
  EXPECT_EQ(s.SampleCallback, &OtherSample);
  EXPECT_EQ(s.IdleCallback, &OtherIdle);
  EXPECT_EQ(s.TickCallback, &OtherTick);

  // The player's registration: no idle routine, the slot stays as it was.
  EXPECT_EQ(SetStreamCallbacks(RecordReset, RecordSample, nullptr, RecordTick), 0);
  EXPECT_EQ(s.IdleCallback, &OtherIdle);
  EXPECT_EQ(s.TickCallback, &RecordTick);

  EXPECT_EQ(SetStreamCallbacks(nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(s.ResetCallback, &RecordReset);
  EXPECT_EQ(s.SampleCallback, &RecordSample);
  EXPECT_EQ(s.IdleCallback, &OtherIdle);
  EXPECT_EQ(s.TickCallback, &RecordTick);
}

// ---- Open and stop ------------------------------------------------------------------------

TEST_F(StreamTest, OpenDescribesTheFormatAndOneLoopingRing) {
  ASSERT_EQ(OpenRecording(DEVICE_FOLLOWS_CLOCK), 0);
  const VirtualWaveOutRecord d = VirtualWaveOutState();
  EXPECT_EQ(d.LastFormat.FormatTag, 1);
  EXPECT_EQ(d.LastFormat.Channels, 2);
  EXPECT_EQ(d.LastFormat.SamplesPerSec, 44100u);
  EXPECT_EQ(d.LastFormat.AvgBytesPerSec, 176400u);
  EXPECT_EQ(d.LastFormat.BlockAlign, 4);
  EXPECT_EQ(d.LastFormat.BitsPerSample, 16);
  EXPECT_EQ(d.LastFormat.ExtraSize, 0);
  EXPECT_EQ(d.LastHeader.Data, App.Stream.RingBuffer);
  EXPECT_EQ(d.LastHeader.BufferLength, 28288u);
  EXPECT_EQ(d.LastHeader.BytesRecorded, 0u);
  EXPECT_EQ(d.LastHeader.Flags, 12u);
  EXPECT_EQ(d.LastHeader.Loops, 0xFFFFFFFFu);
  EXPECT_EQ(d.LastHeader.Next, nullptr);
  // The reset callback ran once, first, before the device was touched.
  EXPECT_EQ(Rec.ResetCalls, 1);
  EXPECT_EQ(Rec.LogLengthAtReset, 0);
  EXPECT_EQ(d.IsPlaying, 1);
  EXPECT_NE(App.Stream.PumpThreadId, 0);
}

struct OpenCase {
  const char* Name;
  int32_t FailOpen, FailPrepare, FailWrite;  // the device's result at that step
  int32_t Result;
  std::vector<int32_t> LogAfterOpen, LogAfterStop;
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.Name; }

class OpenResults : public StreamTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenResults, EachFailureHasItsResultAndTheStopClosesWhatWasOpened) {
  const OpenCase& c = GetParam();
  SetStreamCallbacks(RecordReset, RecordSample, RecordIdle, RecordTick);
  FailVirtualOpen(c.FailOpen);
  FailVirtualPrepare(c.FailPrepare);
  FailVirtualWrite(c.FailWrite);
  ASSERT_EQ(Open(), c.Result);
  VirtualWaveOutRecord d = VirtualWaveOutState();
  EXPECT_EQ(std::vector<int32_t>(d.Log, d.Log + d.LogLength), c.LogAfterOpen);
  // Whatever the result, the reset callback has run and a silent ring is held.
  EXPECT_EQ(Rec.ResetCalls, 1);
  ASSERT_NE(App.Stream.RingBuffer, nullptr);
  EXPECT_TRUE(std::all_of(App.Stream.RingBuffer, App.Stream.RingBuffer + RING_BYTES, [](char b) { return b == 0; }));
  EXPECT_EQ(App.Stream.PumpStarted != 0, c.Result == 0);
  if (c.Result != 0) {
    EXPECT_EQ(App.Stream.PumpThreadId, 0);
    EXPECT_EQ(VirtualPositionQueries(), 0);
  }
  const int32_t queries = VirtualPositionQueries();

  EXPECT_EQ(StopAudioStream(), 0);
  d = VirtualWaveOutState();
  EXPECT_EQ(std::vector<int32_t>(d.Log, d.Log + d.LogLength), c.LogAfterStop);
  // A stop with no pump does not wait; one with a pump asleep waits exactly once.
  EXPECT_EQ(Rec.ControllerSleeps, c.Result == 0 ? 1 : 0);
  if (c.Result != 0) {
    EXPECT_EQ(VirtualPositionQueries(), queries);
  }
  if (d.OpenedDevice) {
    EXPECT_EQ(d.LastClosedDevice, d.OpenedDevice);
  }
  EXPECT_EQ(d.IsOpen, 0);
  EXPECT_EQ(VirtualQueriesWhileClosed(), 0);
  EXPECT_EQ(App.Stream.RingBuffer, nullptr);
  EXPECT_EQ(App.Stream.Device, nullptr);
  EXPECT_EQ(App.Stream.PumpThreadId, 0);
  EXPECT_EQ(App.Stream.StopRequested.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Stream, OpenResults,
    ::testing::Values(
        OpenCase{"Plays", 0, 0, 0, 0, {VOP_OPEN, VOP_PREPARE, VOP_WRITE},
                 {VOP_OPEN, VOP_PREPARE, VOP_WRITE, VOP_RESET, VOP_UNPREPARE, VOP_CLOSE}},
        OpenCase{"NoDevice", 2, 0, 0, 1, {VOP_OPEN}, {VOP_OPEN}},
        OpenCase{"PrepareFails", 0, 11, 0, 2, {VOP_OPEN, VOP_PREPARE},
                 {VOP_OPEN, VOP_PREPARE, VOP_RESET, VOP_UNPREPARE, VOP_CLOSE}},
        OpenCase{"WriteFails", 0, 0, 5, 3, {VOP_OPEN, VOP_PREPARE, VOP_WRITE},
                 {VOP_OPEN, VOP_PREPARE, VOP_WRITE, VOP_RESET, VOP_UNPREPARE, VOP_CLOSE}}),
    [](const ::testing::TestParamInfo<OpenCase>& info) { return std::string(info.param.Name); });

TEST_F(StreamTest, StopWithoutAnyOpenDoesNothingToADevice) {
  EXPECT_EQ(StopAudioStream(), 0);
  EXPECT_EQ(VirtualWaveOutState().LogLength, 0);
  EXPECT_EQ(Rec.ControllerSleeps, 0);
}

TEST_F(StreamTest, StopWhileThePumpSleepsEndsAfterItsSleepAndOneWait) {
  ASSERT_EQ(OpenRecording(DEVICE_FOLLOWS_CLOCK), 0);
  Advance(40);  // blocks 0 and 1 rendered
  const int32_t queries = VirtualPositionQueries();
  const size_t samples = Rec.SampleFrames.size();
  const int32_t sleeps = Rec.PumpSleeps;
  const int64_t before = Now();
  ASSERT_GT(samples, 0u);

  StopAudioStream();
  // One 10 ms wait let the pump finish its 5 ms sleep; it then left without another cycle.
  EXPECT_EQ(Rec.ControllerSleeps, 1);
  EXPECT_EQ(Now() - before, 10);
  EXPECT_EQ(VirtualPositionQueries(), queries);
  EXPECT_EQ(Rec.SampleFrames.size(), samples);
  EXPECT_EQ(Rec.PumpSleeps, sleeps);
  EXPECT_EQ(App.Stream.PumpExited.load(), 1);
  EXPECT_EQ(VirtualQueriesWhileClosed(), 0);
  const VirtualWaveOutRecord d = VirtualWaveOutState();
  EXPECT_EQ(std::vector<int32_t>(d.Log + 3, d.Log + d.LogLength), (std::vector<int32_t>{VOP_RESET, VOP_UNPREPARE, VOP_CLOSE}));
}

// The stop request is looked at only at the head of a cycle: a cycle that has begun still idles
// and sleeps. A pump that has already left costs the stop no wait.
int32_t RequestStopFromIdle() {
  RecordIdle();
  App.Stream.StopRequested.store(1);
  return 0;
}

TEST_F(StreamTest, ACycleOnceBegunFinishesAndALeftPumpCostsNoWait) {
  SetStreamCallbacks(RecordReset, RecordSample, RequestStopFromIdle, RecordTick);
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(LastSteps(2), (std::vector<Step>{{STEP_IDLE, 0, 0}, {STEP_SLEEP, 5, 0}}));
  Advance(5);
  EXPECT_EQ(App.Stream.PumpExited.load(), 1);
  EXPECT_EQ(VirtualPositionQueries(), 1);
  StopAudioStream();
  EXPECT_EQ(Rec.ControllerSleeps, 0);
}

// ---- Start and ticks ----------------------------------------------------------------------

TEST_F(StreamTest, NothingIsRenderedUntilTheDeviceEntersBlockOne) {
  ASSERT_EQ(OpenRecording(DEVICE_FOLLOWS_CLOCK), 0);
  Advance(20);  // cycles at 0, 5, 10, 15, 20 ms: the device is still in block 0 (882 frames at 20 ms)
  EXPECT_TRUE(Rec.SampleFrames.empty());
  EXPECT_EQ(Rec.Steps.size(), 10u);  // idle and sleep, five times
  Advance(5);  // 25 ms: frame 1102, block 1
  ASSERT_EQ(Rec.SampleFrames.size(), 884u);
  EXPECT_EQ(Rec.SampleFrames.front(), 0);
  EXPECT_EQ(Rec.SampleFrames.back(), 883);
  EXPECT_EQ(BlocksSince(0), (std::vector<int32_t>{0}));
  EXPECT_EQ(Rec.Steps[10], (Step{STEP_BLOCK, 0, 25}));
}

TEST_F(StreamTest, TheFirstRenderFollowsTheBlockBoundaryToTheByte) {
  ASSERT_EQ(OpenRecording(DEVICE_MOVED_BY_TEST), 0);
  struct Row { uint32_t Bytes; size_t Samples; } rows[] = {
      {1, 0}, {3535, 0}, {3536, 884}, {3539, 884}, {7071, 884}, {7072, 1768},
  };
  for (const Row& r : rows) {
    CycleAt(r.Bytes);
    EXPECT_EQ(Rec.SampleFrames.size(), r.Samples) << "at byte " << r.Bytes;
  }
}

TEST_F(StreamTest, TheNthTickComesRightAfterFrame882nMinus1) {
  ASSERT_EQ(OpenRecording(DEVICE_FOLLOWS_CLOCK), 0);
  Advance(1000);  // about 48 blocks, several laps of the ring
  const size_t frames = Rec.SampleFrames.size();
  ASSERT_GT(frames, 40u * 884);
  ASSERT_EQ(Rec.TickAfter.size(), frames / 882);
  for (size_t n = 1; n <= Rec.TickAfter.size(); ++n) ASSERT_EQ(Rec.TickAfter[n - 1], static_cast<int64_t>(882 * n)) << n;
  // Where they fall in the ring: 2 frames earlier in its block with every tick.
  struct Row { size_t Tick; int32_t Block, FrameInBlock; } rows[] = {
      {1, 0, 881}, {2, 1, 879}, {3, 2, 877}, {8, 7, 867}, {9, 0, 865}, {44, 3, 795},
  };
  for (const Row& r : rows) {
    ASSERT_LE(r.Tick, Rec.TickAfter.size());
    const int32_t last = Rec.SampleFrames[static_cast<size_t>(Rec.TickAfter[r.Tick - 1] - 1)];
    EXPECT_EQ(last / 884, r.Block) << "tick " << r.Tick;
    EXPECT_EQ(last % 884, r.FrameInBlock) << "tick " << r.Tick;
  }
}

TEST_F(StreamTest, WithoutSampleCallbackTheRingKeepsItsBytesAndTicksStillCome) {
  SetStreamCallbacks(RecordReset, nullptr, RecordIdle, RecordTick);
  CapturePlayed = true;
  ASSERT_EQ(Open(), 0);
  std::memset(App.Stream.RingBuffer, 0x5A, RING_BYTES);  // the pump is asleep
  Advance(500);
  EXPECT_TRUE(std::all_of(App.Stream.RingBuffer, App.Stream.RingBuffer + RING_BYTES, [](char b) { return b == 0x5A; }));
  for (uint32_t stamp : Played) ASSERT_EQ(stamp, 0x5A5A5A5Au);
  // Blocks were rendered (WriteBlock moved), so ticks kept coming every 882 frames.
  const int64_t blocks = std::count_if(Rec.Steps.begin(), Rec.Steps.end(), [](const Step& s) { return s.Kind == STEP_TICK; });
  const int64_t rendered = (static_cast<int64_t>(PositionAtMs(500)) / BLOCK_BYTES) * 884;
  EXPECT_EQ(blocks, rendered / 882);
  EXPECT_EQ(App.Stream.TickCounter, rendered % 882);
}

TEST_F(StreamTest, WithoutTickCallbackTheCounterStillWrapsAt882) {
  SetStreamCallbacks(RecordReset, RecordSample, nullptr, nullptr);
  FollowClock = false;
  ASSERT_EQ(Open(), 0);
  for (int32_t block = 1; block <= 20; ++block) {
    CycleAt(static_cast<uint64_t>(block) * BLOCK_BYTES);
    ASSERT_EQ(App.Stream.TickCounter, (884 * block) % 882) << block;
  }
}

TEST_F(StreamTest, IdleRunsOncePerCycleAfterTheRendersAndBeforeTheSleep) {
  ASSERT_EQ(OpenRecording(DEVICE_MOVED_BY_TEST), 0);
  CycleAt(2 * BLOCK_BYTES);
  Cycle();
  std::vector<int32_t> kinds;
  for (const Step& s : Rec.Steps)
    if (s.Kind != STEP_TICK) kinds.push_back(s.Kind);
  EXPECT_EQ(kinds, (std::vector<int32_t>{STEP_IDLE, STEP_SLEEP, STEP_BLOCK, STEP_BLOCK, STEP_IDLE, STEP_SLEEP,
                                         STEP_IDLE, STEP_SLEEP}));
}

// ---- A late pump --------------------------------------------------------------------------

TEST_F(StreamTest, APumpHeldAcrossKBoundariesRendersKBlocksInRingOrder) {
  ASSERT_EQ(OpenRecording(DEVICE_MOVED_BY_TEST), 0);
  uint64_t block = 0;  // absolute block the device is in
  int32_t writeBlock = 0;
  // Every k from 1 to 7, from several write blocks, landing at several places in the block.
  const uint64_t landing[] = {0, 300 * 4, 883 * 4 + 3};
  for (uint64_t offset : landing) {
    for (int32_t k = 1; k <= 7; ++k) {
      block += static_cast<uint64_t>(k);
      const uint64_t at = block * BLOCK_BYTES + offset;
      const int32_t play = static_cast<int32_t>((at / 4) % 7072 / 884);
      const int32_t crossed = (play - writeBlock + 8) % 8;
      const std::vector<int32_t> blocks = CycleAt(at);
      EXPECT_EQ(crossed, k);
      EXPECT_EQ(blocks, RingRun(writeBlock, k)) << "k " << k << " landing at byte " << offset;
      ASSERT_FALSE(blocks.empty());
      EXPECT_EQ(blocks.back(), (play + 7) % 8) << "the last is the block before the playing one";
      EXPECT_EQ(App.Stream.WriteBlock, play);
      writeBlock = play;
      EXPECT_TRUE(CycleAt(at).empty()) << "nothing more until the device moves on";
    }
  }
}

TEST_F(StreamTest, ALapLostToALongerHoldVanishesWithoutAStall) {
  ASSERT_EQ(OpenRecording(DEVICE_MOVED_BY_TEST), 0);
  CycleAt(BLOCK_BYTES + 40);  // block 0 rendered, the writer is at block 1
  uint64_t at = BLOCK_BYTES + 40;
  struct Row { int32_t Boundaries; int32_t Rendered; } rows[] = {
      {8, 0}, {1, 1}, {9, 1}, {11, 3}, {16, 0}, {15, 7}, {23, 7}, {1, 1}, {24, 0}, {1, 1},
  };
  int32_t writeBlock = 1;
  for (const Row& r : rows) {
    at += static_cast<uint64_t>(r.Boundaries) * BLOCK_BYTES;
    EXPECT_EQ(CycleAt(at), RingRun(writeBlock, r.Rendered)) << "after " << r.Boundaries << " boundaries";
    writeBlock = (writeBlock + r.Rendered) % 8;
    EXPECT_EQ(App.Stream.WriteBlock, static_cast<int32_t>((at / 4) % 7072 / 884));
  }
}

// ---- What the device plays ----------------------------------------------------------------

// Stamps of the frames played, from the first rendered one: must be 1, 2, 3, ... with no gap.
::testing::AssertionResult Continuous(const std::vector<uint32_t>& played, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i)
    if (played[i] != static_cast<uint32_t>(i - from + 1))
      return ::testing::AssertionFailure() << "frame " << i << " plays stamp " << played[i] << ", not " << i - from + 1;
  return ::testing::AssertionSuccess();
}

TEST_F(StreamTest, TheDevicePlaysOneSilentLapThenEveryRenderedFrameOnce) {
  ASSERT_EQ(OpenRecording(CAPTURE_PLAYED), 0);
  Advance(2000);
  ASSERT_GT(Played.size(), 7072u + 80000u);
  for (size_t i = 0; i < 7072; ++i) ASSERT_EQ(Played[i], 0u) << i;
  EXPECT_TRUE(Continuous(Played, 7072, Played.size()));
}

TEST_F(StreamTest, AHoldOfUpToSevenBoundariesIsNotHeard) {
  ASSERT_EQ(OpenRecording(CAPTURE_PLAYED), 0);
  Advance(300);
  for (int32_t k = 1; k <= 7; ++k) {
    // While the pump sleeps the device crosses k boundaries and stops just short of one more.
    // The next cycle comes that late.
    const uint64_t due = PositionAtMs(Now() + 5) + Ahead;
    const uint64_t to = (Position / BLOCK_BYTES + static_cast<uint64_t>(k) + 1) * BLOCK_BYTES - 4;
    Hold(to - due);
    Cycle();
    ASSERT_EQ(Position, to);
    Advance(200);
  }
  ASSERT_GT(Played.size(), 7072u);
  EXPECT_TRUE(Continuous(Played, 7072, Played.size()));
}

TEST_F(StreamTest, ALapLostIsHeardAsOneRepeatedLapAndTheMusicGoesOnWhereItWas) {
  ASSERT_EQ(OpenRecording(CAPTURE_PLAYED), 0);
  Advance(300);
  Hold(8 * BLOCK_BYTES + 200);  // eight boundaries: the device comes back to the playing block
  Advance(600);
  // Frames that play a stamp not heard before carry on 1, 2, 3, ...; the rest repeat a lap.
  uint32_t newest = 0;
  size_t repeated = 0;
  for (size_t i = 7072; i < Played.size(); ++i) {
    if (Played[i] > newest) {
      ASSERT_EQ(Played[i], newest + 1) << "frame " << i;
      newest = Played[i];
    } else {
      ++repeated;
    }
  }
  EXPECT_EQ(repeated, 7072u);
  EXPECT_GT(newest, 30000u);
}

// ---- The device's counter -----------------------------------------------------------------

TEST_F(StreamTest, AFailedPositionQueryKeepsTheLastCount) {
  FailVirtualPosition(1);
  ASSERT_EQ(OpenRecording(DEVICE_MOVED_BY_TEST), 0);
  struct Row { bool Failing; int32_t Block; std::vector<int32_t> Rendered; } rows[] = {
      {true, 3, {}},          // no query has succeeded: the count is still 0
      {false, 3, {0, 1, 2}},
      {true, 6, {}},          // the pump goes on with the count of block 3
      {true, 7, {}},
      {false, 7, {3, 4, 5, 6}},
  };
  for (const Row& r : rows) {
    FailVirtualPosition(r.Failing ? 1 : 0);
    EXPECT_EQ(CycleAt(static_cast<uint64_t>(r.Block) * BLOCK_BYTES + 12), r.Rendered) << "device in block " << r.Block << (r.Failing ? ", query failing" : "");
  }
}

TEST_F(StreamTest, AfterTheCounterWrapsThePositionIs64FramesBehindAndRenderingGoesOn) {
  ASSERT_EQ(OpenRecording(DEVICE_MOVED_BY_TEST), 0);
  const uint64_t wrap = 1ull << 32;
  const uint64_t lastLap = wrap / RING_BYTES * RING_BYTES;  // ring byte 0 of the lap the wrap falls in
  ASSERT_EQ(wrap - lastLap, 256u);
  struct Row { const char* What; uint64_t At; std::vector<int32_t> Rendered; } rows[] = {
      {"block 1", BLOCK_BYTES, {0}},
      {"block 7 of the lap before the last", lastLap - RING_BYTES + 7 * BLOCK_BYTES, {1, 2, 3, 4, 5, 6}},
      {"block 0 of the last lap", lastLap, {7}},
      {"just past the wrap", wrap + 40, {}},
      {"63 frames into block 1", lastLap + BLOCK_BYTES + 63 * 4, {}},  // the counter says block 0
      {"64 frames into block 1", lastLap + BLOCK_BYTES + 64 * 4, {0}},
      {"64 frames into block 2", lastLap + 2 * BLOCK_BYTES + 64 * 4, {1}},
      {"63 frames into block 0 of the next lap", lastLap + RING_BYTES + 63 * 4, {2, 3, 4, 5, 6}},
      {"64 frames into block 0 of the next lap", lastLap + RING_BYTES + 64 * 4, {7}},
  };
  for (const Row& r : rows) EXPECT_EQ(CycleAt(r.At), r.Rendered) << r.What;
  // Then five laps in 5 ms steps: every block once, in ring order, each on the cycle in which the
  // counter's position (64 frames behind the device's) enters the next block.
  uint64_t at = lastLap + RING_BYTES + 64 * 4;
  int32_t expectNext = 0;
  for (int32_t cycle = 0; cycle < 5 * 32; ++cycle) {
    at += 220 * 4;
    const int32_t counted = static_cast<int32_t>((static_cast<uint32_t>(at) / 4) % 7072 / 884);
    const int32_t device = static_cast<int32_t>((at / 4) % 7072 / 884);
    const int32_t behind = static_cast<int32_t>(((at / 4) % 7072 + 7072 - 64) % 7072 / 884);
    ASSERT_EQ(counted, behind);
    ASSERT_EQ(CycleAt(at), RingRun(expectNext, (counted - expectNext + 8) % 8)) << "cycle " << cycle << ", device in block " << device;
    expectNext = counted;
  }
}
