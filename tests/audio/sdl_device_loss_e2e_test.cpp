// SPDX-License-Identifier: GPL-2.0-or-later
// End to end through SDL's disk driver, with the device lost and found again. The driver writes
// into a file on a small tmpfs (mounted in a private mount namespace: run under
// `unshare -m --propagation private`); when the file system is full the driver's write fails and
// SDL marks the device stopped, which the stream takes as a lost device. The test then moves the
// lost device's folder away (so every reopen fails: no device can be opened), frees the space,
// and gives the folder back; the stream's next attempt opens a new device. What that device
// plays must be, after SDL's own leading silence, exactly tonewell-render's output from the frame
// where the interrupted block began, and the position shown must never go back.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/app_context.h"
#include "app/sound_start.h"
#include "audio/audio_stream.h"
#include "audio/wave_out.h"
#include "audio/wave_out_sdl.h"
#include "dump/frame_sequencer.h"
#include "psg/psg.h"
#include "tests/audio/sdl_disk_support.h"

namespace {

constexpr int32_t LapFrames = 7072;
constexpr int32_t BlockFrames = 884;
constexpr float Level = 0.85f;
constexpr long FsBytes = 1 << 20;           // the tmpfs
constexpr long FirstDeviceBytes = 1 << 18;  // what the first device may write: about 1.5 s
constexpr int64_t SecondDeviceFrames = LapFrames + 2 * 44100;  // rendered after the return: 2 s and a lap

// Rendered frame at which each ring block began the last time it was rendered (pump thread).
std::atomic<int64_t> BlockStart[8];
// Frames rendered since the open: written by the pump, read by the test while it waits. (The
// test does not query the device's position itself: only the pump may, since each query is
// what orders its renders before the device's reads.)
std::atomic<int64_t> Rendered{0};

int32_t RenderFrameNotingBlocks(void* frame) {
  RenderFrame(frame);
  const intptr_t ringFrame = (static_cast<char*>(frame) - App.Stream.RingBuffer) / 4;
  const int64_t k = Rendered.load(std::memory_order_relaxed);
  if (ringFrame % BlockFrames == 0) BlockStart[ringFrame / BlockFrames].store(k, std::memory_order_relaxed);
  Rendered.store(k + 1, std::memory_order_relaxed);
  return 0;
}

bool WriteZeros(const std::string& path, long bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::vector<char> zeros(static_cast<size_t>(bytes), 0);
  const bool ok = std::fwrite(zeros.data(), zeros.size(), 1, f) == 1;
  return std::fclose(f) == 0 && ok;
}

// Waits (only waits: nothing here decides a result) until done() or 60 s have passed, watching
// that the shown position never goes back.
template <typename Done>
bool WaitWatching(Done done, int32_t* lastIndex, bool* wentBack) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    const int32_t index = App.Dump.FrameIndex.load(std::memory_order_relaxed);
    if (index < *lastIndex && !(index == 0 && *lastIndex == App.Dump.FrameCount - 1)) *wentBack = true;
    *lastIndex = index;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace

TEST(SdlDiskDeviceLoss, AfterTheDeviceReturnsTheMusicGoesOnAsTheOfflineRender) {
  char baseTemplate[] = "/tmp/tonewell-loss-XXXXXX";
  ASSERT_NE(mkdtemp(baseTemplate), nullptr);
  const std::string base = baseTemplate, fs = base + "/fs";
  ASSERT_EQ(mkdir(fs.c_str(), 0700), 0);
  const std::string size = "size=" + std::to_string(FsBytes);
  if (mount("tonewell-loss", fs.c_str(), "tmpfs", 0, size.c_str()) != 0) {
    rmdir(fs.c_str());
    rmdir(base.c_str());
    GTEST_SKIP() << "cannot mount a tmpfs (run as root under unshare -m --propagation private)";
  }
  const std::string live = fs + "/device", gone = fs + "/gone", filler = fs + "/filler";
  ASSERT_EQ(mkdir(live.c_str(), 0700), 0);
  ASSERT_TRUE(WriteZeros(filler, FsBytes - FirstDeviceBytes));
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", (live + "/out.raw").c_str(), 1);

  ASSERT_EQ(StartSoundOnly(TONEWELL_DUMP_PATH, Level), 0);
  UseWaveOut(&SdlWaveOut);
  SetStreamCallbacks(ResetChip, RenderFrameNotingBlocks, nullptr, TickCallback);
  ASSERT_EQ(OpenAudioStream(), 0);
  AudioStream& s = App.Stream;
  int32_t lastIndex = 0;
  bool wentBack = false;

  // The first device fills the file system and is lost.
  ASSERT_TRUE(WaitWatching([&] { return s.DeviceLost.load() == 1; }, &lastIndex, &wentBack))
      << "the device was not lost within 60 s";
  ASSERT_EQ(rename(live.c_str(), gone.c_str()), 0);  // from now on no device can be opened
  ASSERT_EQ(s.Reopens.load(), 0) << "the stream reopened before the test took the lost device's folder away";
  const SdlWaveOutTally lost = LastSdlWaveOutTally();
  int64_t starts[8];
  for (int i = 0; i < 8; ++i) starts[i] = BlockStart[i].load(std::memory_order_relaxed);
  const int32_t indexAtLoss = App.Dump.FrameIndex.load();
  // Reopening fails for a while (the waiting decides nothing: ticks must not run however long).
  const auto lostAt = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(App.Dump.FrameIndex.load(), indexAtLoss) << "ticks ran while no device was open";
  EXPECT_EQ(s.DeviceLost.load(), 1);
  std::remove((gone + "/out.raw").c_str());
  std::remove(filler.c_str());
  ASSERT_EQ(rename(gone.c_str(), live.c_str()), 0);  // the device comes back

  ASSERT_TRUE(WaitWatching([&] { return s.Reopens.load() == 1; }, &lastIndex, &wentBack)) << "no reopen within 60 s";
  const double absentMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - lostAt).count();
  const int64_t renderedAtReturn = Rendered.load();
  ASSERT_TRUE(WaitWatching([&] {
    return Rendered.load() >= renderedAtReturn + SecondDeviceFrames || s.DeviceLost.load() == 1;
  }, &lastIndex, &wentBack));
  EXPECT_EQ(s.DeviceLost.load(), 0) << "the second device was lost too";
  StopAudioStream();
  UseWaveOut(nullptr);
  const SdlWaveOutTally found = LastSdlWaveOutTally();
  const std::vector<unsigned char> file = ReadWhole(live + "/out.raw");
  EndSoundOnly();
  std::remove((live + "/out.raw").c_str());
  rmdir(live.c_str());
  umount(fs.c_str());
  rmdir(fs.c_str());
  EXPECT_FALSE(wentBack) << "the shown position went back";

  // The new device's file: SDL's own silence, then the ring from its byte 0, then silence.
  const uint64_t counted = found.SilentBytesBeforeWrite + found.PlayedBytes + found.SilentBytesAfterReset;
  ASSERT_GE(file.size(), counted);
  const uint64_t lead = file.size() - counted + found.SilentBytesBeforeWrite;
  const uint64_t music = found.PlayedBytes;
  ASSERT_GE(music, static_cast<uint64_t>(SecondDeviceFrames - LapFrames) * 4);  // the lead is at most a lap
  // Which block the interrupted one was: the one whose start the new device plays first.
  const int64_t handed = static_cast<int64_t>(lost.PlayedBytes / 4) - LapFrames;  // music frames the lost device took
  const int64_t last = *std::max_element(starts, starts + 8);
  const std::vector<unsigned char> offline = OfflineRender(base, last + BlockFrames + static_cast<int64_t>(music / 4), Level);
  int64_t from = -1;
  for (int64_t start : starts) {
    if (start < 0 || static_cast<uint64_t>(start) * 4 + BlockFrames * 4 > offline.size()) continue;
    if (std::equal(file.begin() + static_cast<std::ptrdiff_t>(lead), file.begin() + static_cast<std::ptrdiff_t>(lead + BlockFrames * 4),
                   offline.begin() + start * 4))
      from = start;
  }
  std::printf("lost after %lld music frames handed over, absent %.0f ms, resumed at rendered frame %lld, "
              "%llu bytes compared after %llu bytes of SDL's silence\n",
              static_cast<long long>(handed), absentMs, static_cast<long long>(from),
              static_cast<unsigned long long>(music), static_cast<unsigned long long>(lead));
  ASSERT_GE(from, 0) << "the new device's first block is none of the ring's blocks";
  ASSERT_LE(static_cast<uint64_t>(from) * 4 + music, offline.size());
  for (uint64_t i = 0; i < music; ++i)
    ASSERT_EQ(file[lead + i], offline[static_cast<size_t>(from) * 4 + i]) << "byte " << i << " after the return";
  for (uint64_t i = lead + music; i < file.size(); ++i) ASSERT_EQ(file[i], 0) << "after the stop, byte " << i;
  // Nothing the lost device had not taken is skipped; at most the interrupted block and what the
  // device took before the pump saw the loss are heard again.
  EXPECT_LE(from, handed);
  EXPECT_LT(handed - from, 3 * BlockFrames);
  rmdir(base.c_str());
}
