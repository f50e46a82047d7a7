// SPDX-License-Identifier: GPL-2.0-or-later
// What the audio pump costs: CPU seconds of the pump thread per second of audio played, with the
// real chip playing the bundled dump.
//
//   audio_pump_bench [--benchmark_filter=...]
//
// BM_PumpPlaying/chip:1 opens the real stream on SDL (the disk driver writing to /dev/null unless
// SDL_AUDIODRIVER names another, so it runs anywhere and paces itself like a device) and reads
// the pump thread's own CPU clock from the idle callback. BM_RenderBlock times one block of 884
// frames with its ticks, which is the pump's work per 20 ms in steady state.
#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/app_context.h"
#include "audio/audio_stream.h"
#include "audio/wave_out.h"
#if defined(TONEWELL_HAVE_SDL2)
#include "audio/wave_out_sdl.h"
#endif
#include "dump/dump_loader.h"
#include "app/sound_start.h"
#include "dump/frame_sequencer.h"
#include "platform/heap.h"
#include "psg/psg.h"

namespace {

bool StartPlayer() { return StartSoundOnly(TONEWELL_DUMP_PATH, 0.85f) == 0; }

void EndPlayer() { EndSoundOnly(); }

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_RenderBlock(benchmark::State& state) {
  if (!StartPlayer()) return state.SkipWithError("cannot read the dump");
  ConnectSoundCallbacks();
  PrepareStream();
  for (auto _ : state) {
    RenderBlock();
    benchmark::ClobberMemory();
  }
  const double blockSeconds = static_cast<double>(App.Stream.BlockFrames) / App.Stream.SampleRate;
  state.counters["cpu_s_per_audio_s"] =
      benchmark::Counter(blockSeconds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  ReleaseRing();
  EndPlayer();
}
BENCHMARK(BM_RenderBlock)->Unit(benchmark::kMicrosecond);

#if defined(TONEWELL_HAVE_SDL2)
std::atomic<double> PumpCpuSeconds{0};

int32_t NotePumpCpu() {
  PumpCpuSeconds.store(ThreadCpuSeconds(), std::memory_order_relaxed);
  return 0;
}

// One iteration plays state.range(0) seconds of audio after the silent lap; state.range(1) 0
// leaves out the chip (no sample or tick callback), which shows what the polling alone costs.
void BM_PumpPlaying(benchmark::State& state) {
  setenv("SDL_AUDIODRIVER", "disk", 0);
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 0);
  double cpu = 0, audio = 0;
  for (auto _ : state) {
    if (!StartPlayer()) return state.SkipWithError("cannot read the dump");
    UseWaveOut(&SdlWaveOut);
    if (state.range(1))
      SetStreamCallbacks(ResetChip, RenderFrame, NotePumpCpu, TickCallback);
    else
      SetStreamCallbacks(ResetChip, nullptr, NotePumpCpu, nullptr);
    PumpCpuSeconds.store(0);
    if (OpenAudioStream() != 0) {
      StopAudioStream();
      EndPlayer();
      return state.SkipWithError("no SDL audio device opened");
    }
    const uint32_t wanted = static_cast<uint32_t>((7072 + state.range(0) * 44100) * 4);
    uint32_t played = 0;
    while (played < wanted) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      CurrentWaveOut()->GetPositionBytes(App.Stream.Device, &played);
    }
    StopAudioStream();
    UseWaveOut(nullptr);
    cpu += PumpCpuSeconds.load();
    audio += static_cast<double>(LastSdlWaveOutTally().PlayedBytes) / (4.0 * 44100);
    EndPlayer();
  }
  state.counters["pump_cpu_s"] = cpu;
  state.counters["audio_s"] = audio;
  state.counters["cpu_s_per_audio_s"] = audio > 0 ? cpu / audio : 0;
  state.counters["percent_of_core"] = audio > 0 ? 100 * cpu / audio : 0;
  state.SetLabel(LastSdlWaveOutTally().Driver);
}
BENCHMARK(BM_PumpPlaying)
    ->ArgNames({"seconds", "chip"})
    ->Args({10, 1})
    ->Args({10, 0})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
#endif

}  // namespace

BENCHMARK_MAIN();
