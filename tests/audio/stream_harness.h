// SPDX-License-Identifier: GPL-2.0-or-later
// Virtual time for the audio stream. The pump's 5 ms sleeps wait until the test moves the clock;
// the controlling thread's sleeps (the stop's 10 ms waits) move the clock themselves. Every poll
// cycle therefore runs at an exact virtual millisecond, while the test waits, and the callbacks
// record what they saw. No real sleep decides anything: a wait only ends when the pump is asleep
// again or has left.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/app_context.h"
#include "audio/audio_stream.h"
#include "audio/wave_out_virtual.h"

// What the pump did, in order, per cycle: blocks begun, ticks, the idle call, the sleep.
enum StepKind : int32_t { STEP_BLOCK = 1, STEP_TICK = 2, STEP_IDLE = 3, STEP_SLEEP = 4 };
struct Step {
  int32_t Kind;
  int32_t Value;  // STEP_BLOCK: the block; STEP_TICK: its number from 1
  int64_t AtMs;   // virtual time of the cycle
  bool operator==(const Step& o) const { return Kind == o.Kind && Value == o.Value && AtMs == o.AtMs; }
};
std::ostream& operator<<(std::ostream& os, const Step& s);

// The recorder's view, read by the test while the pump sleeps.
struct Recording {
  std::vector<int32_t> SampleFrames;  // ring frame of every sample call, in call order
  std::vector<int64_t> TickAfter;     // sample calls made before each tick
  std::vector<Step> Steps;
  int32_t PumpSleeps = 0;
  int32_t ControllerSleeps = 0;       // the stop's waits
  int32_t ResetCalls = 0;
  int32_t LogLengthAtReset = -1;      // device operations made before the reset callback ran
};
extern Recording Rec;

// Recording callbacks. The sample callback stamps its frame with the call's number n (from 1):
// left = n & 0xFFFF, right = n >> 16, so that what the device plays can be traced back.
int32_t RecordReset();
int32_t RecordSample(void* frame);
int32_t RecordTick();
int32_t RecordIdle();

// The stamp a frame carries: n as above, 0 for silence.
uint32_t StampOf(const unsigned char* frame);

// Bytes the device has played after ms of virtual time (44.1 frames per ms, whole frames).
uint32_t PositionAtMs(int64_t ms);
constexpr int32_t BLOCK_BYTES = 3536;
constexpr int32_t RING_BYTES = 28288;

// How OpenRecording runs the device: with the virtual clock or only where the test moves it,
// and whether what it plays is captured.
enum OpenMode : int32_t { DEVICE_FOLLOWS_CLOCK = 0, DEVICE_MOVED_BY_TEST = 1, CAPTURE_PLAYED = 2 };

class StreamTest : public ::testing::Test {
 public:
  void SetUp() override;
  void TearDown() override;

  // Opens the stream and, if it started a pump, waits for the pump's first sleep.
  int32_t Open();
  // Registers the recording callbacks, sets the device's mode (OpenMode flags) and opens.
  int32_t OpenRecording(int32_t mode);
  // Moves virtual time on by ms, running every cycle that falls due. With FollowClock the
  // device's position is moved with the clock before each cycle; with CapturePlayed what the
  // device plays meanwhile is appended to Played, read before the pump runs again.
  void Advance(int64_t ms);
  // One poll cycle, with the position where the test put it.
  void Cycle() { Advance(5); }
  // Puts the device at absolute byte count bytes (its 32-bit counter shows bytes mod 2^32).
  void MoveTo(uint64_t bytes);
  // The pump is held up: the device plays bytes more while no cycle runs. With FollowClock the
  // device stays that far ahead of the clock from then on.
  void Hold(uint64_t bytes);
  int64_t Now() const;
  // Moves the device to to, capturing what it plays on the way when CapturePlayed.
  void PlayTo(uint64_t to);
  // Blocks begun and their order since `from` steps.
  std::vector<int32_t> BlocksSince(size_t from) const;
  // Puts the device at bytes and runs one cycle; the blocks that cycle began.
  std::vector<int32_t> CycleAt(uint64_t bytes);
  // The last n steps.
  std::vector<Step> LastSteps(size_t n) const;

  bool FollowClock = true;
  bool CapturePlayed = false;
  uint64_t Position = 0;               // the device's absolute byte count
  uint64_t Ahead = 0;                  // bytes the device is ahead of the clock after holds
  std::vector<uint32_t> Played;        // stamps of the frames the device played
};
