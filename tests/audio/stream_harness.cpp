// SPDX-License-Identifier: GPL-2.0-or-later
#include "stream_harness.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/thread.h"

Recording Rec;

namespace {

std::mutex Lock;
std::condition_variable Changed;
int64_t NowMs = 0;
int64_t WakeMs = 0;
bool PumpAsleep = false;
int64_t CycleMs = 0;  // the pump's copy of the time of its cycle
std::thread::id Controller;
StreamTest* Current = nullptr;

bool PumpLeft() { return App.Stream.PumpExited.load() == 1; }

// Waits, with the lock held, until the pump sleeps with a wake-up still ahead or has left.
// The pump does not signal its leaving, so the wait looks again every millisecond.
void WaitForPump(std::unique_lock<std::mutex>& held) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!((PumpAsleep && WakeMs > NowMs) || PumpLeft())) {
    Changed.wait_for(held, std::chrono::milliseconds(1));
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the pump neither slept nor left within 20 s";
      return;
    }
  }
}

void PumpSleep(int32_t ms) {
  std::unique_lock<std::mutex> held(Lock);
  Rec.Steps.push_back({STEP_SLEEP, ms, CycleMs});
  ++Rec.PumpSleeps;
  WakeMs = NowMs + ms;
  PumpAsleep = true;
  Changed.notify_all();
  Changed.wait(held, [] { return NowMs >= WakeMs; });
  PumpAsleep = false;
  CycleMs = NowMs;
}

void VirtualSleep(int32_t ms) {
  if (std::this_thread::get_id() == Controller) {
    ++Rec.ControllerSleeps;
    Current->Advance(ms);
  } else {
    PumpSleep(ms);
  }
}

}  // namespace

std::ostream& operator<<(std::ostream& os, const Step& s) {
  static const char* names[] = {"?", "block", "tick", "idle", "sleep"};
  return os << names[s.Kind >= 1 && s.Kind <= 4 ? s.Kind : 0] << " " << s.Value << " @" << s.AtMs;
}

int32_t RecordReset() {
  ++Rec.ResetCalls;
  Rec.LogLengthAtReset = VirtualWaveOutState().LogLength;
  return 0;
}

int32_t RecordSample(void* frame) {
  const int32_t ringFrame = static_cast<int32_t>((static_cast<char*>(frame) - App.Stream.RingBuffer) / 4);
  if (ringFrame % App.Stream.BlockFrames == 0) Rec.Steps.push_back({STEP_BLOCK, ringFrame / App.Stream.BlockFrames, CycleMs});
  Rec.SampleFrames.push_back(ringFrame);
  const uint32_t n = static_cast<uint32_t>(Rec.SampleFrames.size());
  unsigned char* bytes = static_cast<unsigned char*>(frame);
  bytes[0] = static_cast<unsigned char>(n);
  bytes[1] = static_cast<unsigned char>(n >> 8);
  bytes[2] = static_cast<unsigned char>(n >> 16);
  bytes[3] = static_cast<unsigned char>(n >> 24);
  return 0;
}

int32_t RecordTick() {
  Rec.TickAfter.push_back(static_cast<int64_t>(Rec.SampleFrames.size()));
  Rec.Steps.push_back({STEP_TICK, static_cast<int32_t>(Rec.TickAfter.size()), CycleMs});
  return 0;
}

int32_t RecordIdle() {
  Rec.Steps.push_back({STEP_IDLE, 0, CycleMs});
  return 0;
}

uint32_t StampOf(const unsigned char* frame) {
  return static_cast<uint32_t>(frame[0] | frame[1] << 8 | frame[2] << 16 | static_cast<uint32_t>(frame[3]) << 24);
}

uint32_t PositionAtMs(int64_t ms) { return static_cast<uint32_t>(ms * 441 / 10 * 4); }

void StreamTest::SetUp() {
  ClearAppContext();
  ConfigureAudioStream();
  ResetVirtualWaveOut();
  UseWaveOut(&VirtualWaveOut);
  Rec = Recording{};
  NowMs = WakeMs = CycleMs = 0;
  PumpAsleep = false;
  Controller = std::this_thread::get_id();
  Current = this;
  SetSleepRoutine(VirtualSleep);
}

void StreamTest::TearDown() {
  // The pump a test leaves running (finished or failed half-way) is stopped before the next test.
  if (App.Stream.PumpStarted) StopAudioStream();
  SetSleepRoutine(nullptr);
  UseWaveOut(nullptr);
  Current = nullptr;
}

int32_t StreamTest::Open() {
  const int32_t result = OpenAudioStream();
  if (App.Stream.PumpStarted) {
    std::unique_lock<std::mutex> held(Lock);
    WaitForPump(held);
  }
  return result;
}

int32_t StreamTest::OpenRecording(int32_t mode) {
  SetStreamCallbacks(RecordReset, RecordSample, RecordIdle, RecordTick);
  FollowClock = (mode & DEVICE_MOVED_BY_TEST) == 0;
  CapturePlayed = (mode & CAPTURE_PLAYED) != 0;
  return Open();
}

void StreamTest::MoveTo(uint64_t bytes) {
  Position = bytes;
  SetVirtualPosition(static_cast<uint32_t>(bytes));
}

void StreamTest::PlayTo(uint64_t to) {
  if (CapturePlayed && to > Position) {
    std::vector<unsigned char> bytes(static_cast<size_t>(to - Position));
    if (ReadVirtualPlayed(Position, to, bytes.data()) == static_cast<int32_t>(bytes.size()))
      for (size_t at = 0; at < bytes.size(); at += 4) Played.push_back(StampOf(&bytes[at]));
  }
  MoveTo(to);
}

void StreamTest::Hold(uint64_t bytes) {
  std::lock_guard<std::mutex> held(Lock);
  PlayTo(Position + bytes);
  Ahead += bytes;
}

void StreamTest::Advance(int64_t ms) {
  std::unique_lock<std::mutex> held(Lock);
  const int64_t target = NowMs + ms;
  for (;;) {
    const bool due = PumpAsleep && WakeMs <= target && !PumpLeft();
    const int64_t next = due ? WakeMs : target;
    if (FollowClock) PlayTo(PositionAtMs(next) + Ahead);
    NowMs = next;
    if (!due) break;
    Changed.notify_all();
    WaitForPump(held);
  }
}

int64_t StreamTest::Now() const {
  std::lock_guard<std::mutex> held(Lock);
  return NowMs;
}

std::vector<int32_t> StreamTest::BlocksSince(size_t from) const {
  std::vector<int32_t> blocks;
  for (size_t i = from; i < Rec.Steps.size(); ++i)
    if (Rec.Steps[i].Kind == STEP_BLOCK) blocks.push_back(Rec.Steps[i].Value);
  return blocks;
}

std::vector<int32_t> StreamTest::CycleAt(uint64_t bytes) {
  const size_t from = Rec.Steps.size();
  MoveTo(bytes);
  Cycle();
  return BlocksSince(from);
}

std::vector<Step> StreamTest::LastSteps(size_t n) const {
  const size_t from = Rec.Steps.size() > n ? Rec.Steps.size() - n : 0;
  return std::vector<Step>(Rec.Steps.begin() + static_cast<std::ptrdiff_t>(from), Rec.Steps.end());
}
