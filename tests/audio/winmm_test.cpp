// SPDX-License-Identifier: GPL-2.0-or-later
// The winmm device backend and the stream over it. What a real device does depends on the
// machine: with no wave output device (waveOutGetNumDevs 0) the open must fail and the stream
// report 1; with one, the looping ring must play and its byte position move on. Each test says
// which case it checks and skips the other.
#include <gtest/gtest.h>

#include "app/app_context.h"
#include "audio/audio_stream.h"
#include "audio/wave_out.h"
#include "platform/heap.h"
#include "platform/thread.h"

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstring>
#include <vector>

namespace {

WaveFormat PcmFormat() {
  WaveFormat f{};
  f.FormatTag = WAVE_OUT_PCM;
  f.Channels = 2;
  f.SamplesPerSec = 44100;
  f.AvgBytesPerSec = 176400;
  f.BlockAlign = 4;
  f.BitsPerSample = 16;
  f.ExtraSize = 0;
  return f;
}

bool HaveDevice() { return waveOutGetNumDevs() > 0; }

TEST(Winmm, IsTheDefaultDeviceLayerOnWindows) {
  EXPECT_STREQ(UseWaveOut(nullptr)->Name, "winmm");
  EXPECT_EQ(CurrentWaveOut()->Open, WinmmWaveOut.Open);
}

TEST(Winmm, AFormatNoDeviceTakesFailsToOpen) {
  WaveFormat bad = PcmFormat();
  bad.FormatTag = 0x7777;  // no such format
  bad.BitsPerSample = 13;
  WaveDevice* device = nullptr;
  EXPECT_NE(WinmmWaveOut.Open(&device, &bad), 0);
  EXPECT_EQ(device, nullptr);
}

TEST(Winmm, WithoutADeviceTheOpenFails) {
  if (HaveDevice()) GTEST_SKIP() << "this machine has a wave output device";
  WaveFormat format = PcmFormat();
  WaveDevice* device = nullptr;
  EXPECT_NE(WinmmWaveOut.Open(&device, &format), 0);
  EXPECT_EQ(device, nullptr);
}

TEST(Winmm, TheLoopingRingPlaysAndItsPositionMovesOnInBytes) {
  if (!HaveDevice()) GTEST_SKIP() << "no wave output device";
  WaveFormat format = PcmFormat();
  WaveDevice* device = nullptr;
  ASSERT_EQ(WinmmWaveOut.Open(&device, &format), 0);
  ASSERT_NE(device, nullptr);
  std::vector<char> ring(28288, 0);
  WaveHeader header{};
  header.Data = ring.data();
  header.BufferLength = static_cast<uint32_t>(ring.size());
  header.Flags = WAVE_OUT_BEGIN_LOOP | WAVE_OUT_END_LOOP;
  header.Loops = 0xFFFFFFFFu;
  ASSERT_EQ(WinmmWaveOut.PrepareHeader(device, &header), 0);
  ASSERT_NE(header.Native, nullptr);
  const auto* native = static_cast<const WAVEHDR*>(header.Native);
  EXPECT_EQ(native->lpData, ring.data());
  EXPECT_EQ(native->dwBufferLength, 28288u);
  EXPECT_EQ(native->dwLoops, 0xFFFFFFFFu);
  EXPECT_TRUE(native->dwFlags & WHDR_PREPARED);
  EXPECT_TRUE(native->dwFlags & WHDR_BEGINLOOP);
  EXPECT_TRUE(native->dwFlags & WHDR_ENDLOOP);
  ASSERT_EQ(WinmmWaveOut.Write(device, &header), 0);

  // Past one whole lap of the ring (about 160 ms), polled with a bound of 5 s.
  uint32_t bytes = 0;
  for (int i = 0; i < 1000 && bytes <= 28288u * 2; ++i) {
    WinmmWaveOut.GetPositionBytes(device, &bytes);
    Sleep(5);
  }
  EXPECT_GT(bytes, 28288u * 2);  // the loop went on past its end
  EXPECT_EQ(bytes % 4, 0u);      // whole frames

  EXPECT_EQ(WinmmWaveOut.Reset(device), 0);
  EXPECT_EQ(WinmmWaveOut.UnprepareHeader(device, &header), 0);
  EXPECT_EQ(header.Native, nullptr);
  EXPECT_EQ(WinmmWaveOut.Close(device), 0);
}

// The device the handle named has gone: the query reports a lost device and leaves the
// count alone, whether the handle was closed under the stream or never was a device's.
TEST(Winmm, APositionQueryOfAHandleThatNamesNoDeviceReportsItLost) {
  uint32_t bytes = 1234;
  EXPECT_EQ(WinmmWaveOut.GetPositionBytes(reinterpret_cast<WaveDevice*>(static_cast<uintptr_t>(0x5A5A)), &bytes),
            WAVE_OUT_DEVICE_LOST);
  EXPECT_EQ(bytes, 1234u);
  if (!HaveDevice()) return;
  WaveFormat format = PcmFormat();
  WaveDevice* device = nullptr;
  ASSERT_EQ(WinmmWaveOut.Open(&device, &format), 0);
  ASSERT_EQ(WinmmWaveOut.GetPositionBytes(device, &bytes), 0);
  ASSERT_EQ(WinmmWaveOut.Close(device), 0);
  bytes = 99;
  EXPECT_EQ(WinmmWaveOut.GetPositionBytes(device, &bytes), WAVE_OUT_DEVICE_LOST);
  EXPECT_EQ(bytes, 99u);
}

std::atomic<int32_t> Ticks{0};
int32_t CountTick() {
  Ticks.fetch_add(1);
  return 0;
}
int32_t SilentFrame(void* frame) {
  std::memset(frame, 0, 4);
  return 0;
}

class WinmmStream : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearAppContext();
    App.Heaps.Heap = CreatePrivateHeap(4096);
    App.Heaps.MemoryHeap = CreatePrivateHeap(4096);
    UseWaveOut(&WinmmWaveOut);
    ConfigureAudioStream();
    Ticks.store(0);
    SetStreamCallbacks(nullptr, SilentFrame, nullptr, CountTick);
  }
  void TearDown() override {
    DestroyPrivateHeap(App.Heaps.MemoryHeap);
    DestroyPrivateHeap(App.Heaps.Heap);
    App.Heaps.Heap = App.Heaps.MemoryHeap = nullptr;
  }
};

TEST_F(WinmmStream, WithoutADeviceTheStreamReportsOneAndStopsAtOnce) {
  if (HaveDevice()) GTEST_SKIP() << "this machine has a wave output device";
  EXPECT_EQ(OpenAudioStream(), 1);
  EXPECT_EQ(App.Stream.PumpThreadId, 0);
  const DWORD before = GetTickCount();
  EXPECT_EQ(StopAudioStream(), 0);
  EXPECT_LT(GetTickCount() - before, 1000u);  // no wait for a pump that never ran
  EXPECT_EQ(Ticks.load(), 0);
}

TEST_F(WinmmStream, WithADeviceThePumpRendersAndTicks) {
  if (!HaveDevice()) GTEST_SKIP() << "no wave output device";
  ASSERT_EQ(OpenAudioStream(), 0);
  EXPECT_NE(App.Stream.PumpThreadId, 0);
  // Ten ticks are 200 ms of audio; bounded at 5 s.
  for (int i = 0; i < 1000 && Ticks.load() < 10; ++i) Sleep(5);
  EXPECT_GE(Ticks.load(), 10);
  EXPECT_EQ(StopAudioStream(), 0);
  EXPECT_EQ(App.Stream.RingBuffer, nullptr);
  EXPECT_EQ(App.Stream.Device, nullptr);
}

}  // namespace
