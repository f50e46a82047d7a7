// SPDX-License-Identifier: GPL-2.0-or-later
// Throughput of the renderer through the stream's block routine, and of the dump loader.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "app/app_context.h"
#include "app/sound_start.h"
#include "audio/audio_stream.h"
#include "dump/dump_loader.h"
#include "dump/frame_sequencer.h"
#include "platform/heap.h"
#include "psg/psg.h"

namespace {

void StartRenderer(const char* dump) {
  StartSoundOnly(dump, 0.85f);
  ConnectSoundCallbacks();
  PrepareStream();
}

void StopRenderer() { EndSoundOnly(); }

// Sample frames per second through RenderBlock: one sample callback per frame, a tick every 882.
void BM_RenderBlock(benchmark::State& state) {
  StartRenderer(TONEWELL_SOURCE_DIR "/music/dump.txt");
  for (auto _ : state) {
    RenderBlock();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * App.Stream.BlockFrames);
  StopRenderer();
}
BENCHMARK(BM_RenderBlock)->MinTime(2.0);

// The same frames called directly, without the callback slot, for comparison.
void BM_RenderFrameDirect(benchmark::State& state) {
  StartRenderer(TONEWELL_SOURCE_DIR "/music/dump.txt");
  char* ring = App.Stream.RingBuffer;
  int32_t sinceTick = 0;
  for (auto _ : state) {
    for (int32_t n = 0; n < App.Stream.BlockFrames; ++n) {
      RenderFrame(ring + 4 * n);
      if (++sinceTick == App.Stream.SamplesPerTick) {
        TickCallback();
        sinceTick = 0;
      }
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * App.Stream.BlockFrames);
  StopRenderer();
}
BENCHMARK(BM_RenderFrameDirect)->MinTime(2.0);

// Loading a full 32787-line dump, without the start-up delay.
void BM_DumpLoader(benchmark::State& state) {
  const std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/tonewell-bench-dump.txt";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    for (int32_t i = 0; i < MaxDumpFrames; ++i)
      std::fprintf(f, "%02X %02X 00 02 FE 00 1F 38 0F 0E 10 00 10 %s\r\n", i & 0xFF, (i >> 8) & 0xF,
                   i % 16 ? "FF" : "0E");
    std::fclose(f);
  }
  ClearAppContext();
  App.Heaps.Heap = CreatePrivateHeap(PRIVATE_HEAP_BYTES);
  ConfigureDump();
  for (auto _ : state) {
    App.Dump.FrameCount = 0;
    LoadDumpFile(path.c_str());
  }
  state.counters["frames"] = App.Dump.FrameCount;
  DestroyPrivateHeap(App.Heaps.Heap);
  std::remove(path.c_str());
}
BENCHMARK(BM_DumpLoader)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
