// tonewell-render: renders a register dump offline, exactly as the player sends it to the
// device from the first frame after the stream opens.
//
//   tonewell-render [--frames N] [--level L] [--clock HZ] [--no-rescale] IN OUT
//
// IN is dump text, or a PSG, YM or VTX file (told apart by content), converted in memory to
// the same dump text that tonewell-convert writes and loaded from it.
// OUT ending in ".wav" gets a PCM WAVE file (2 channels, 44100 Hz, 16 bit); OUT "-" gets the
// raw frames (s16le, left then right) on standard output.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/app_context.h"
#include "app/sound_start.h"
#include "audio/audio_stream.h"
#include "dump/dump_loader.h"
#include "dump/frame_sequencer.h"
#include "platform/heap.h"
#include "psg/psg.h"
#include "tools/tune_input.h"

namespace {

constexpr float DefaultLevel = 0.85f;
// WAVE sizes are 32-bit: data may not exceed 2^32 - 1 - 36 bytes.
constexpr long long MaxFrames = (0xFFFFFFFFLL - 36) / 4;

int Usage(const char* why) {
  std::fprintf(stderr, "tonewell-render: %s\nusage: tonewell-render [--frames N] [--level L] [--clock HZ] [--no-rescale] IN OUT\n", why);
  return 2;
}

bool ParseFrames(const char* text, long long* frames) {
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(text, &end, 10);
  if (errno || end == text || *end || value < 0 || value > MaxFrames) return false;
  *frames = value;
  return true;
}

bool ParseLevel(const char* text, float* level) {
  char* end = nullptr;
  float value = std::strtof(text, &end);
  if (end == text || *end) return false;
  *level = value;
  return true;
}

void PutLe(unsigned char* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

void WaveHeaderBytes(unsigned char header[44], uint32_t dataBytes) {
  const AudioStream& s = App.Stream;
  std::memcpy(header, "RIFF", 4);
  PutLe(header + 4, 36 + dataBytes, 4);
  std::memcpy(header + 8, "WAVEfmt ", 8);
  PutLe(header + 16, 16, 4);
  PutLe(header + 20, WAVE_OUT_PCM, 2);
  PutLe(header + 22, static_cast<uint32_t>(s.Channels), 2);
  PutLe(header + 24, static_cast<uint32_t>(s.SampleRate), 4);
  PutLe(header + 28, static_cast<uint32_t>(s.SampleRate * s.FrameBytes), 4);
  PutLe(header + 32, static_cast<uint32_t>(s.FrameBytes), 2);
  PutLe(header + 34, static_cast<uint32_t>(s.BitsPerSample), 2);
  std::memcpy(header + 36, "data", 4);
  PutLe(header + 40, dataBytes, 4);
}

bool EndsWith(const std::string& text, const char* tail) {
  size_t n = std::strlen(tail);
  return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  long long frames = -1;
  float level = DefaultLevel;
  const char* paths[2] = {nullptr, nullptr};
  int pathCount = 0;
  ConvertOptions tuneOptions;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool badTuneOption = false;
    if (ParseTuneOption(argc, argv, &i, &tuneOptions, &badTuneOption)) {
      if (badTuneOption) return Usage("--clock needs a frequency of 1 to 4294967295 Hz");
    } else if (arg == "--frames" || arg == "--level") {
      if (i + 1 >= argc) return Usage(("missing value after " + arg).c_str());
      const char* value = argv[++i];
      if (arg == "--frames" ? !ParseFrames(value, &frames) : !ParseLevel(value, &level))
        return Usage(("bad value for " + arg + ": " + value).c_str());
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else if (pathCount < 2) {
      paths[pathCount++] = argv[i];
    } else {
      return Usage("too many arguments");
    }
  }
  if (pathCount < 2) return Usage("DUMP and OUT are required");

  // A music file is converted to dump text here; anything else is read as dump text.
  std::vector<uint8_t> input;
  std::string why, dumpText;
  if (ReadInputBytes(paths[0], &input, &why) == 0 && FindTuneReader(input.data(), input.size())) {
    if (ConvertTuneBytes("tonewell-render", paths[0], input, tuneOptions, &dumpText, &why) != 0) {
      std::fprintf(stderr, "tonewell-render: %s: %s\n", paths[0], why.c_str());
      return 1;
    }
    if (StartSoundFromText(dumpText.data(), static_cast<int32_t>(dumpText.size()), level) != 0) {
      std::fprintf(stderr, "tonewell-render: %s: out of memory for the dump\n", paths[0]);
      return 1;
    }
  } else if (StartSoundOnly(paths[0], level) != 0) {
    std::fprintf(stderr, "tonewell-render: cannot open dump %s: %s\n", paths[0], std::strerror(errno));
    return 1;
  }
  if (frames < 0) frames = static_cast<long long>(App.Stream.SamplesPerTick) * (App.FrameCount + 1);

  const std::string out = paths[1];
  const bool toStdout = out == "-";
  const std::string temporary = out + ".partial";
  std::FILE* sink = toStdout ? stdout : std::fopen(temporary.c_str(), "wb");
  if (!sink) {
    std::fprintf(stderr, "tonewell-render: cannot write %s: %s\n", out.c_str(), std::strerror(errno));
    return 1;
  }
  const uint32_t dataBytes = static_cast<uint32_t>(frames * App.Stream.FrameBytes);
  bool ok = true;
  if (!toStdout && EndsWith(out, ".wav")) {
    unsigned char header[44];
    WaveHeaderBytes(header, dataBytes);
    ok = std::fwrite(header, sizeof header, 1, sink) == 1;
  }

  // What the stream's open does before the device plays: reset the chip, a silent ring, block 0.
  SetStreamCallbacks(ResetChip, RenderFrame, nullptr, TickCallback);
  App.Stream.ResetCallback();
  AllocateRing();
  ClearRing();
  App.Stream.WriteBlock = 0;
  App.Stream.TickCounter = 0;
  const AudioStream& s = App.Stream;
  for (long long left = frames; ok && left > 0;) {
    const char* block = s.RingBuffer + static_cast<intptr_t>(s.WriteBlock) * s.BlockFrames * s.FrameBytes;
    RenderBlock();
    const long long take = left < s.BlockFrames ? left : s.BlockFrames;
    ok = std::fwrite(block, static_cast<size_t>(take * s.FrameBytes), 1, sink) == 1;
    left -= take;
  }
  ok = (std::fflush(sink) == 0) && ok;
  if (!toStdout) {
    ok = (std::fclose(sink) == 0) && ok;
    // Replaces an existing OUT, also on systems whose rename refuses to.
    std::error_code error;
    if (ok) std::filesystem::rename(temporary, out, error);
    if (error) {
      errno = error.value();
      ok = false;
    }
    if (!ok) std::remove(temporary.c_str());
  }
  if (!ok) {
    std::fprintf(stderr, "tonewell-render: cannot write %s: %s\n", out.c_str(), std::strerror(errno));
    return 1;
  }
  return 0;
}
