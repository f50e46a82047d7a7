// SPDX-License-Identifier: GPL-2.0-or-later
// Exporting the 10-minute YM6 (make_bench_tune.py) in-process: the render alone, written as raw
// frames, against the render encoded to FLAC, Ogg Vorbis, Opus and MP3 through libsndfile, each
// into a temporary file. What a user did before the encoders (tonewell-render to WAVE, then
// flac -5) is measured beside tonewell-render OUT.flac by hand (see the README).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/sound_start.h"
#include "audio/audio_stream.h"
#include "formats/tune.h"
#include "platform/whole_file.h"
#include "tools/audio_export.h"

namespace {

// The tune converted to dump text once.
std::string TenMinuteDumpText() {
  std::vector<uint8_t> bytes;
  std::string why;
  SourceTune tune;
  DumpFrames dump;
  if (ReadRegularFile(TONEWELL_BENCH_TUNE, MAX_INPUT_BYTES, &bytes, &why) != 0 ||
      ReadTune(bytes.data(), bytes.size(), &tune, &why) != 0 || ConvertTune(tune, ConvertOptions{}, &dump, &why) != 0)
    return "";
  return DumpText(dump);
}

// Renders one pass over the tune into a temporary file as format (raw: written as it comes).
void BM_Export(benchmark::State& state, const char* name) {
  const ExportFormat& format = *ExportFormatByName(name);
  const std::string text = TenMinuteDumpText();
  if (text.empty()) return state.SkipWithError("no " TONEWELL_BENCH_TUNE);
  long long frames = 0;
  for (auto _ : state) {
    StartSoundFromText(text.data(), static_cast<int32_t>(text.size()), 0.85f);
    ConnectSoundCallbacks();
    PrepareStream();
    const AudioStream& s = App.Stream;
    frames = static_cast<long long>(s.SamplesPerTick) * (App.Dump.FrameCount + 1);
    std::FILE* sink = std::tmpfile();
    Encoder encoder;
    std::string why;
    bool ok = format.Container == 0 || OpenEncoder(sink, format, "Ten minutes", "Bench", -1, &encoder, &why);
    for (long long done = 0; ok && done < frames; done += s.BlockFrames) {
      const char* block = NextBlockFrames();
      RenderBlock();
      const long long take = frames - done < s.BlockFrames ? frames - done : s.BlockFrames;
      ok = format.Container == 0
               ? std::fwrite(block, static_cast<size_t>(take * s.FrameBytes), 1, sink) == 1
               : EncodeFrames(&encoder, reinterpret_cast<const int16_t*>(block), static_cast<int32_t>(take), &why);
    }
    if (format.Container != 0) ok = CloseEncoder(&encoder, ok, &why) && ok;
    std::fclose(sink);
    EndSoundOnly();
    if (!ok) return state.SkipWithError(why.c_str());
  }
  state.counters["audio_s_per_s"] =
      benchmark::Counter(static_cast<double>(frames) / 44100.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_Export, raw, "raw")->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK_CAPTURE(BM_Export, flac, "flac")->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK_CAPTURE(BM_Export, ogg, "ogg")->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK_CAPTURE(BM_Export, opus, "opus")->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK_CAPTURE(BM_Export, mp3, "mp3")->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
