// SPDX-License-Identifier: GPL-2.0-or-later
// Converting a 10-minute YM6 (30000 frames, LHA -lh5- packed; written by make_bench_tune.py at
// build time) in-process: unpack, read, convert to 50 Hz dump frames, write the dump text, and
// load that text into the RegisterDump as tonewell-render does.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/sound_start.h"
#include "formats/tune.h"
#include "platform/whole_file.h"

namespace {

std::vector<uint8_t> TenMinuteYm6() {
  std::vector<uint8_t> bytes;
  std::string why;
  if (ReadRegularFile(TONEWELL_BENCH_TUNE, MAX_INPUT_BYTES, &bytes, &why) != 0) bytes.clear();
  return bytes;
}

// File bytes in memory to dump text: what tonewell-convert does between reading and writing.
void BM_ConvertTenMinuteYm6(benchmark::State& state) {
  const std::vector<uint8_t> bytes = TenMinuteYm6();
  if (bytes.empty()) {
    state.SkipWithError("no " TONEWELL_BENCH_TUNE);
    return;
  }
  size_t textBytes = 0;
  for (auto _ : state) {
    SourceTune tune;
    DumpFrames dump;
    std::string why;
    if (ReadTune(bytes.data(), bytes.size(), &tune, &why) != 0 || ConvertTune(tune, ConvertOptions{}, &dump, &why) != 0) {
      state.SkipWithError(why.c_str());
      return;
    }
    const std::string text = DumpText(dump);
    textBytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["dump_bytes"] = static_cast<double>(textBytes);
  state.counters["frames_per_s"] = benchmark::Counter(30000.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ConvertTenMinuteYm6)->Unit(benchmark::kMillisecond);

// A ten-minute tracker module (make_pt_modules.py --bench, make_bench_modules.py,
// make_sqt_stp_modules.py --bench) from its bytes to dump text (whole = true), or only through
// the player's frame loop (ReadTune).
void BM_ConvertTenMinuteModule(benchmark::State& state, const char* path, bool whole) {
  std::vector<uint8_t> bytes;
  std::string why;
  if (ReadRegularFile(path, MAX_INPUT_BYTES, &bytes, &why) != 0) {
    state.SkipWithError(why.c_str());
    return;
  }
  int64_t frames = 0;
  for (auto _ : state) {
    SourceTune tune;
    DumpFrames dump;
    if (ReadTune(bytes.data(), bytes.size(), &tune, &why) != 0 ||
        (whole && ConvertTune(tune, ConvertOptions{}, &dump, &why) != 0)) {
      state.SkipWithError(why.c_str());
      return;
    }
    frames = tune.FrameCount;
    if (whole) benchmark::DoNotOptimize(DumpText(dump).data());
  }
  state.counters["frames"] = static_cast<double>(frames);
}
BENCHMARK_CAPTURE(BM_ConvertTenMinuteModule, pt3, TONEWELL_BENCH_MODULES "/ten_minutes.pt3", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertTenMinuteModule, stc, TONEWELL_BENCH_MODULES "/ten_minutes.stc", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertTenMinuteModule, asc, TONEWELL_BENCH_MODULES "/ten_minutes.asc", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertTenMinuteModule, sqt, TONEWELL_BENCH_MODULES "/ten_minutes.sqt", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertTenMinuteModule, stp, TONEWELL_BENCH_MODULES "/ten_minutes.stp", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertTenMinuteModule, sqt_player, TONEWELL_BENCH_MODULES "/ten_minutes.sqt", false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertTenMinuteModule, stp_player, TONEWELL_BENCH_MODULES "/ten_minutes.stp", false)
    ->Unit(benchmark::kMillisecond);

// The unpacking alone (lhasa's -lh5- decoder and the CRC).
void BM_UnpackOnly(benchmark::State& state) {
  const std::vector<uint8_t> bytes = TenMinuteYm6();
  for (auto _ : state) {
    SourceTune tune;
    std::string why;
    benchmark::DoNotOptimize(LhaReader.Read(bytes.data(), bytes.size(), &tune, &why));
  }
}
BENCHMARK(BM_UnpackOnly)->Unit(benchmark::kMillisecond);

// Conversion plus loading the text through the dump loader's line parsing (tonewell-render's
// start before it renders a sample).
void BM_ConvertAndLoad(benchmark::State& state) {
  const std::vector<uint8_t> bytes = TenMinuteYm6();
  for (auto _ : state) {
    SourceTune tune;
    DumpFrames dump;
    std::string why;
    ReadTune(bytes.data(), bytes.size(), &tune, &why);
    ConvertTune(tune, ConvertOptions{}, &dump, &why);
    const std::string text = DumpText(dump);
    StartSoundFromText(text.data(), static_cast<int32_t>(text.size()), 0.85f);
    benchmark::DoNotOptimize(App.Dump.FrameCount);
    EndSoundOnly();
  }
}
BENCHMARK(BM_ConvertAndLoad)->Unit(benchmark::kMillisecond);

// One song of a real AY file (the shared folder's testdata/ay) from bytes to dump text: the
// file checks, the Z80 run over every frame of the song, the conversion. The counter
// seconds_per_3min scales the time to a 3-minute song (9000 frames).
void BM_ConvertAySong(benchmark::State& state, const char* file, int32_t song) {
  std::vector<uint8_t> bytes;
  std::string why;
  if (ReadRegularFile((std::string(TONEWELL_AY_FILES) + "/" + file).c_str(), MAX_INPUT_BYTES, &bytes, &why) != 0) {
    state.SkipWithError(("no " TONEWELL_AY_FILES "/" + std::string(file) + " (set TONEWELL_SHARED)").c_str());
    return;
  }
  int64_t frames = 0;
  for (auto _ : state) {
    SourceTune tune;
    DumpFrames dump;
    if (ReadTune(bytes.data(), bytes.size(), &tune, &why, song) != 0 || ConvertTune(tune, ConvertOptions{}, &dump, &why) != 0) {
      state.SkipWithError(why.c_str());
      return;
    }
    const std::string text = DumpText(dump);
    frames = dump.Count;
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["frames"] = static_cast<double>(frames);
  state.counters["seconds_per_3min"] = benchmark::Counter(9000.0 / static_cast<double>(frames),
                                                          benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK_CAPTURE(BM_ConvertAySong, TargetRenegade_1, "pay-TargetRenegade.ay", 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertAySong, BatmanCathedral_7, "zxm-matty-batman-cathedral.ay", 7)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertAySong, SongInLines5_3, "zxt-SongInLines5.ay", 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertAySong, AYMD39_1_never_halts, "zxt-AYMD39.ay", 1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
