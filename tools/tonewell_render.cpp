// tonewell-render: renders a register dump offline, exactly as the player sends it to the
// device from the first frame after the stream opens.
//
//   tonewell-render [--frames N] [--level L] [--song N] [--clock HZ] [--no-rescale] IN OUT
//
// IN is dump text, or a PSG, YM or VTX file (told apart by content), converted in memory to
// the same dump text that tonewell-convert writes and loaded from it.
// OUT ending in ".wav" gets a PCM WAVE file (2 channels, 44100 Hz, 16 bit); OUT "-" gets the
// raw frames (s16le, left then right) on standard output, and so does any other OUT. A device
// or FIFO as OUT is written directly (render_output.h). Exit codes: 0 done, 1 the dump could not
// be read or OUT not written, 2 a usage error.
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <system_error>

#include "app/app_context.h"
#include "app/sound_start.h"
#include "audio/audio_stream.h"
#include "dump/dump_loader.h"
#include "dump/frame_sequencer.h"
#include "platform/heap.h"
#include "psg/psg.h"
#include "tools/render_output.h"
#include "tools/tool_args.h"
#include "tools/tune_input.h"

namespace {

constexpr float DefaultLevel = 0.85f;
// WAVE sizes are 32-bit: data may not exceed 2^32 - 1 - 36 bytes.
constexpr long long MaxFrames = (0xFFFFFFFFLL - 36) / 4;

const ToolHelp Help = {
    "tonewell-render", "tonewell-render [--frames N] [--level L] [--song N] [--clock HZ] [--no-rescale] IN OUT",
    "Renders IN (dump text, or a PSG, YM or VTX file) offline as the player sends it to the sound\n"
    "device: OUT ending in .wav gets a PCM WAVE file (2 channels, 44100 Hz, 16 bit), OUT - gets\n"
    "raw s16le frames on standard output.",
    "  --frames N          sample frames to render (default: one pass over the dump)\n"
    "  --level L           output level 0 to 1 (default 0.85)\n"
    "  --song N            the song of an AY file (default: the file's first)\n"
    "  --clock HZ          the music file's chip clock (default: the file's own)\n"
    "  --no-rescale        keep the file's periods as they are\n"};

int Usage(const char* why) { return ToolUsageError(Help, why); }

// Decimal digits only: no sign, no blanks, nothing after the number.
bool ParseFrames(const char* text, long long* frames, std::string* why) {
  if (!*text) return *why = "empty", false;
  long long value = 0;
  for (const char* at = text; *at; ++at) {
    if (*at < '0' || *at > '9') return *why = "not a whole number of frames", false;
    value = value * 10 + (*at - '0');
    if (value > MaxFrames) return *why = "more than " + std::to_string(MaxFrames) + " frames", false;
  }
  *frames = value;
  return true;
}

// A finite decimal number with nothing before or after it; outside 0..1 it is clamped.
bool ParseLevel(const char* text, float* level, std::string* why) {
  if (!*text) return *why = "empty", false;
  if (std::isspace(static_cast<unsigned char>(*text))) return *why = "blank before the number", false;
  char* end = nullptr;
  const float value = std::strtof(text, &end);
  if (end == text) return *why = "not a number", false;
  if (*end) return *why = "text after the number", false;
  if (!std::isfinite(value)) return *why = "not a finite number", false;
  *level = value;
  return true;
}

// Why a dump that did not load could not be read: its kind when it is no regular file, else
// the system's reason (openError, the errno of the failed open).
std::string DumpProblem(const char* path, int openError) {
  struct stat info;
  if (::stat(path, &info) != 0) return std::strerror(errno);
  if (S_ISDIR(info.st_mode)) return "is a directory";
#if !defined(_WIN32)
  if (S_ISFIFO(info.st_mode)) return "is a FIFO, not a regular file";
  if (S_ISCHR(info.st_mode)) return "is a character device, not a regular file";
  if (S_ISBLK(info.st_mode)) return "is a block device, not a regular file";
  if (S_ISSOCK(info.st_mode)) return "is a socket, not a regular file";
#endif
  if (!S_ISREG(info.st_mode)) return "is not a regular file";
  return std::strerror(openError ? openError : EIO);
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
    if (AnswerStandardOption(Help, argv[i])) return 0;
    std::string badTuneOption;
    if (ParseTuneOption(argc, argv, &i, &tuneOptions, &badTuneOption)) {
      if (!badTuneOption.empty()) return Usage(badTuneOption.c_str());
    } else if (arg == "--frames" || arg == "--level") {
      if (i + 1 >= argc) return Usage(("missing value after " + arg).c_str());
      const char* value = argv[++i];
      std::string why;
      if (arg == "--frames" ? !ParseFrames(value, &frames, &why) : !ParseLevel(value, &level, &why))
        return Usage(("bad value for " + arg + " \"" + value + "\": " + why).c_str());
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else if (pathCount < 2) {
      paths[pathCount++] = argv[i];
    } else {
      return Usage("too many arguments");
    }
  }
  if (pathCount < 2) return Usage("IN and OUT are required");

  // A music file is converted to dump text here; anything else is read as dump text.
  std::vector<uint8_t> input;
  std::string why, dumpText;
  if (ReadInputBytes(paths[0], &input, &why) == 0 && FindTuneReader(input.data(), input.size())) {
    const int32_t result = ConvertTuneBytes("tonewell-render", paths[0], input, tuneOptions, &dumpText, &why);
    if (result == TUNE_NO_SUCH_SONG) return Usage((std::string(paths[0]) + ": " + why).c_str());
    if (result != 0) {
      std::fprintf(stderr, "tonewell-render: %s: %s\n", paths[0], why.c_str());
      return 1;
    }
    if (StartSoundFromText(dumpText.data(), static_cast<int32_t>(dumpText.size()), level) != 0) {
      std::fprintf(stderr, "tonewell-render: %s: out of memory for the dump\n", paths[0]);
      return 1;
    }
  } else {
    errno = 0;
    if (StartSoundOnly(paths[0], level) != 0) {
      const int openError = errno;
      std::fprintf(stderr, "tonewell-render: cannot open dump %s: %s\n", paths[0],
                   DumpProblem(paths[0], openError).c_str());
      return 1;
    }
  }
  if (frames < 0) frames = static_cast<long long>(App.Stream.SamplesPerTick) * (App.Dump.FrameCount + 1);

  const std::string out = paths[1];
  RenderOutput output;
  if (!OpenRenderOutput(out, &output, &why)) {
    std::fprintf(stderr, "tonewell-render: cannot write %s: %s\n", out.c_str(), why.c_str());
    return 1;
  }
  std::FILE* sink = output.Sink;
  const uint32_t dataBytes = static_cast<uint32_t>(frames * App.Stream.FrameBytes);
  bool ok = true;
  if (!output.ToStdout && EndsWith(out, ".wav")) {
    unsigned char header[44];
    WaveHeaderBytes(header, dataBytes);
    ok = std::fwrite(header, sizeof header, 1, sink) == 1;
  }

  // What the stream's open does before the device plays: reset the chip, a silent ring, block 0.
  ConnectSoundCallbacks();
  PrepareStream();
  const AudioStream& s = App.Stream;
  for (long long left = frames; ok && left > 0;) {
    const char* block = NextBlockFrames();
    RenderBlock();
    const long long take = left < s.BlockFrames ? left : s.BlockFrames;
    ok = std::fwrite(block, static_cast<size_t>(take * s.FrameBytes), 1, sink) == 1;
    left -= take;
  }
  if (!CloseRenderOutput(&output, ok, &why)) {
    std::fprintf(stderr, "tonewell-render: cannot write %s: %s\n", out.c_str(), why.c_str());
    return 1;
  }
  return 0;
}
