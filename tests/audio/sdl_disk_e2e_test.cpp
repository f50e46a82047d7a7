// SPDX-License-Identifier: GPL-2.0-or-later
// End to end through SDL's disk driver: the real stream with the real chip plays a dump for a
// few seconds into a file, which must hold one silent lap and then exactly what tonewell-render
// makes of the same dump at the same level. The disk driver paces itself in real time, so a
// machine too busy to keep up shows as an underrun, reported as such.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/app_context.h"
#include "app/sound_start.h"
#include "audio/audio_stream.h"
#include "audio/wave_out.h"
#include "audio/wave_out_sdl.h"
#include "dump/dump_loader.h"
#include "dump/frame_sequencer.h"
#include "platform/heap.h"
#include "psg/psg.h"
#include "tests/audio/sdl_disk_support.h"

namespace {

constexpr int32_t LapFrames = 7072;
constexpr int32_t MusicFrames = 3 * 44100 + 4410;  // at least 3.1 s of music after the silent lap
constexpr float Level = 0.85f;
constexpr int32_t Attempts = 3;

// Kept by the pump thread through the sample callback; read after the stop.
int64_t RenderedFrames = 0;
int64_t LateFrame = -1;           // first rendered frame whose slot the device had passed
int64_t SmallestLead = INT64_MAX;  // frames between the device and the slot of a block's start

// RenderFrame, and once per block a look at how far ahead of the device the block is. Rendered
// frame k is heard at device frame LapFrames + k; once the device has been handed that frame the
// block came too late.
int32_t RenderFrameAndWatchTheLead(void* frame) {
  RenderFrame(frame);
  const int64_t k = RenderedFrames++;
  if (k % 884 == 883) {
    uint32_t played = 0;
    CurrentWaveOut()->GetPositionBytes(App.Stream.Device, &played);
    const int64_t blockStart = k - 883;
    const int64_t lead = LapFrames + blockStart - static_cast<int64_t>(played / 4);
    if (lead < SmallestLead) SmallestLead = lead;
    if (lead < 0 && LateFrame < 0) LateFrame = blockStart;
  }
  return 0;
}

struct Playback {
  bool Opened = false;
  bool Finished = false;      // the device played far enough before the deadline
  SdlWaveOutTally Tally{};
  std::vector<unsigned char> File;
  int64_t LateFrame = -1;
  int64_t SmallestLead = 0;
};

// The player's start-up as far as the sound goes, then play until the device has handed over
// the silent lap and MusicFrames frames of music, then the player's stop.
Playback PlayThroughDiskDriver(const std::string& file) {
  Playback p;
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
  if (StartSoundOnly(TONEWELL_DUMP_PATH, Level) != 0) {
    ADD_FAILURE() << "cannot read " << TONEWELL_DUMP_PATH;
    return p;
  }
  RenderedFrames = 0;
  LateFrame = -1;
  SmallestLead = INT64_MAX;
  UseWaveOut(&SdlWaveOut);
  SetStreamCallbacks(ResetChip, RenderFrameAndWatchTheLead, nullptr, TickCallback);
  const int32_t result = OpenAudioStream();
  p.Opened = result == 0;
  if (p.Opened) {
    const uint32_t wanted = static_cast<uint32_t>(LapFrames + MusicFrames) * 4;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    uint32_t played = 0;
    // This only waits for the device; nothing here decides the result.
    while (played < wanted && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      CurrentWaveOut()->GetPositionBytes(App.Stream.Device, &played);
    }
    p.Finished = played >= wanted;
  } else {
    ADD_FAILURE() << "OpenAudioStream returned " << result << " with SDL_AUDIODRIVER=disk";
  }
  StopAudioStream();
  UseWaveOut(nullptr);
  p.Tally = LastSdlWaveOutTally();
  p.File = ReadWhole(file);
  p.LateFrame = LateFrame;
  p.SmallestLead = SmallestLead;
  EndSoundOnly();
  return p;
}

std::string FrameText(const unsigned char* f) {
  const int left = static_cast<int16_t>(f[0] | f[1] << 8), right = static_cast<int16_t>(f[2] | f[3] << 8);
  return "(" + std::to_string(left) + ", " + std::to_string(right) + ")";
}

// What the file must be: silence until the write, one silent lap, the offline render, silence
// after the stop. Returns "" when it is, else where it is not. Every byte in the file came from
// the device's callback except the silence SDL wrote itself before the first callback, whose
// length is what the tally does not account for.
std::string Compare(const Playback& p, const std::vector<unsigned char>& offline) {
  const uint64_t counted = p.Tally.SilentBytesBeforeWrite + p.Tally.PlayedBytes + p.Tally.SilentBytesAfterReset;
  if (p.File.size() < counted) return "the file is shorter than what the device was handed";
  const uint64_t lead = p.File.size() - counted + p.Tally.SilentBytesBeforeWrite;
  const uint64_t lap = static_cast<uint64_t>(LapFrames) * 4;
  const uint64_t played = p.Tally.PlayedBytes;
  const uint64_t music = played - lap;
  if (offline.size() != music) return "the offline render has " + std::to_string(offline.size()) + " bytes, not " + std::to_string(music);
  for (uint64_t i = 0; i < lead + lap; ++i)
    if (p.File[i] != 0) return "byte " + std::to_string(i) + " of the silence before the music is not 0 (frame " + std::to_string((i - lead) / 4) + " after the write)";
  for (uint64_t i = 0; i < music; ++i)
    if (p.File[lead + lap + i] != offline[i]) {
      const uint64_t frame = i / 4;
      return "music frame " + std::to_string(frame) + " is " + FrameText(&p.File[lead + lap + frame * 4]) +
             ", the offline render has " + FrameText(&offline[frame * 4]) + " (file byte " + std::to_string(lead + lap + i) + ")";
    }
  if (p.File.size() != lead + played + p.Tally.SilentBytesAfterReset) return "the file's length does not add up";
  for (uint64_t i = lead + played; i < p.File.size(); ++i)
    if (p.File[i] != 0) return "byte " + std::to_string(i) + " after the stop is not silence";
  return "";
}

}  // namespace

TEST(SdlDiskStream, PlaysOneSilentLapThenExactlyTheOfflineRender) {
  char dirTemplate[] = "/tmp/tonewell-disk-XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  const std::string dir = dirTemplate;
  std::string underruns;
  bool passed = false;
  for (int32_t attempt = 1; attempt <= Attempts && !passed; ++attempt) {
    const std::string file = dir + "/sdlaudio.raw";
    std::remove(file.c_str());
    const Playback p = PlayThroughDiskDriver(file);
    ASSERT_TRUE(p.Opened);
    ASSERT_STREQ(p.Tally.Driver, "disk");
    ASSERT_TRUE(p.Finished) << "the disk driver did not play " << LapFrames + MusicFrames << " frames within 60 s";
    ASSERT_EQ(p.Tally.PlayedBytes % 4, 0u);
    const int64_t musicFrames = static_cast<int64_t>(p.Tally.PlayedBytes / 4) - LapFrames;
    ASSERT_GE(musicFrames, MusicFrames);
    const std::vector<unsigned char> offline = OfflineRender(dir, musicFrames, Level);
    const std::string mismatch = Compare(p, offline);
    std::printf("attempt %d: %lld frames of music compared after %llu bytes of silence before the write, device buffer %d frames, "
                "smallest lead %lld frames, %s\n",
                attempt, static_cast<long long>(musicFrames),
                static_cast<unsigned long long>(p.File.size() - p.Tally.PlayedBytes - p.Tally.SilentBytesAfterReset),
                p.Tally.DeviceFrames, static_cast<long long>(p.SmallestLead), mismatch.empty() ? "identical" : mismatch.c_str());
    if (mismatch.empty()) {
      passed = true;
    } else if (p.LateFrame >= 0) {
      // Rendered too late for the device: the machine did not keep up. Try again.
      underruns += "\n  attempt " + std::to_string(attempt) + ": UNDERRUN, the block at music frame " +
                   std::to_string(p.LateFrame) + " was rendered after the device had passed it (" + mismatch + ")";
    } else {
      FAIL() << "no underrun, yet the file is wrong: " << mismatch;
    }
  }
  std::remove((dir + "/sdlaudio.raw").c_str());
  std::remove((dir + "/offline.raw").c_str());
  rmdir(dir.c_str());
  EXPECT_TRUE(passed) << "UNDERRUN on every attempt: the machine could not keep up with the device" << underruns;
}
