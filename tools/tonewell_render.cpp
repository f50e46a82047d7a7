// SPDX-License-Identifier: GPL-2.0-or-later
// tonewell-render: renders a register dump offline, exactly as the player sends it to the
// device from the first frame after the stream opens, and writes it as a sound file.
//
//   tonewell-render [options] IN OUT
//   tonewell-render [options] FILE... -o DIR
//
// IN is dump text, or a PSG, YM, VTX, PT3, PT2, STC, ASC, SQT or STP file (told apart by
// content), converted in memory to the same dump text that tonewell-convert writes and loaded
// from it. A file that is neither a known format nor plausibly dump text (PlausibleDumpText) is
// refused.
// OUT's extension picks the container (audio_export.h): ".wav" a PCM WAVE file (2 channels,
// 44100 Hz, 16 bit), ".flac", ".ogg", ".opus", ".mp3" through libsndfile; "-" and any other
// name get the raw frames (s16le, left then right). --format NAME overrides the extension. A
// device or FIFO as OUT is written directly (render_output.h). The second form renders every
// FILE into DIR as NAME.EXT, several at a time, each in a process of its own (the chip and the
// dump are the process's one record), with a progress bar on a terminal.
// Exit codes: 0 done, 1 a dump could not be read or an output not written, 2 a usage error;
// SIGINT, SIGTERM: no partial file is left, and the process ends by that signal.
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <vector>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#else
#include <io.h>
#endif

#include "app/app_context.h"
#include "app/sound_start.h"
#include "audio/audio_stream.h"
#include "dump/dump_loader.h"
#include "dump/frame_sequencer.h"
#include "platform/heap.h"
#include "platform/whole_file.h"
#include "psg/psg.h"
#include "tools/audio_export.h"
#include "tools/render_output.h"
#include "tools/tool_args.h"
#include "tools/tune_input.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* PROGRAM = "tonewell-render";
// WAVE sizes are 32-bit: data may not exceed 2^32 - 1 - 36 bytes.
constexpr long long MAX_WAVE_FRAMES = (0xFFFFFFFFLL - 36) / 4;
constexpr long long MAX_LOOPS = 1000;
constexpr long long MAX_JOBS = 256;

const ToolHelp Help = {
    PROGRAM, "tonewell-render [options] IN OUT  |  tonewell-render [options] FILE... -o DIR",
    "Renders IN (dump text, or a PSG, YM, VTX, PT3, PT2, STC, ASC, SQT or STP file) offline as the\n"
    "player sends it to the sound device. OUT's extension picks the container: .wav (PCM WAVE),\n"
    ".flac, .ogg (Vorbis), .opus (48000 Hz) or .mp3, with the tune's title and author as tags;\n"
    "OUT - or any other name gets raw s16le frames. With -o DIR every FILE is rendered into DIR\n"
    "as NAME.EXT.",
    "  --frames N          sample frames to render (default: --loops passes over the dump)\n"
    "  --loops N           passes over the dump, 1 to 1000 (default 1):\n"
    "                      882 x (N x frames in the dump + 1) sample frames\n"
    "  --fade S            fade the last S seconds linearly to silence (default 0: none)\n"
    "  --level L           output level 0 to 1 (default 0.85)\n"
    "  --format NAME       wav, raw, flac, ogg, opus or mp3, in place of OUT's extension\n"
    "  --quality Q         compression / VBR level 0 to 1 for flac, ogg, opus, mp3 (0: best\n"
    "                      quality, 1: smallest; default: libsndfile's, FLAC level 5)\n"
    "  -o DIR              render every FILE into DIR as NAME.EXT (EXT from --format, default wav)\n"
    "  -j N                files rendered at once with -o (default: the number of cores)\n" TUNE_OPTION_HELP};

int Usage(const std::string& why) { return ToolUsageError(Help, why.c_str()); }

// What every render of this run shares.
struct RenderSettings {
  long long Frames = -1;              // -1: Loops passes
  long long Loops = 1;
  double FadeSeconds = 0;
  float Level = START_OUTPUT_LEVEL;
  double Quality = -1;                // -1: the encoder's default
  const ExportFormat* Format = nullptr;  // null: from OUT's name
  ConvertOptions Tune;
};

// Set by SIGINT and SIGTERM while a render runs: the render stops and removes its file.
volatile std::sig_atomic_t StopSignal = 0;

void CatchStop(int signal) { StopSignal = signal; }

void CatchStopSignals() {
#if defined(_WIN32)
  std::signal(SIGINT, CatchStop);
  std::signal(SIGTERM, CatchStop);
#else
  struct sigaction action = {};
  action.sa_handler = CatchStop;  // no SA_RESTART: a blocking open or wait returns at once
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
#endif
}

// Ends the process by the signal that stopped it, as a shell expects.
int EndByStopSignal() {
  std::signal(StopSignal, SIG_DFL);
  std::raise(StopSignal);
  return 128 + StopSignal;
}

// Decimal digits only: no sign, no blanks, nothing after the number; at most limit.
bool ParseCount(const char* text, long long limit, const char* unit, long long* count, std::string* why) {
  switch (ParseDigits(text, limit, count)) {
    case DIGITS_OK: return true;
    case DIGITS_EMPTY: return *why = "empty", false;
    case DIGITS_NOT_DIGIT: return *why = std::string("not a whole number of ") + unit, false;
    case DIGITS_OVER_LIMIT: break;
  }
  return *why = "more than " + std::to_string(limit) + " " + unit, false;
}

// A finite decimal number with nothing before or after it.
bool ParseNumber(const char* text, double* number, std::string* why) {
  if (!*text) return *why = "empty", false;
  if (std::isspace(static_cast<unsigned char>(*text))) return *why = "blank before the number", false;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text) return *why = "not a number", false;
  if (*end) return *why = "text after the number", false;
  if (!std::isfinite(value)) return *why = "not a finite number", false;
  *number = value;
  return true;
}

// Why a dump that did not load could not be read: its kind when it is no regular file, else
// the system's reason (openError, the errno of the failed open).
std::string DumpProblem(const char* path, int openError) {
  struct stat info;
  if (::stat(path, &info) != 0) return std::strerror(errno);
  if (const char* kind = NotRegularFileReason(path)) return kind;
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

// A loaded dump text gets the layout by its rows: tone periods and volumes move whole, the
// mixer's bits frame by frame (the same rule ApplyLayout follows for a converted tune).
void LayoutLoadedDump(const uint8_t layout[3]) {
  if (layout[0] == 0 && layout[1] == 1 && layout[2] == 2) return;  // the player's own
  int32_t* dump = App.Dump.RegisterDump;
  const std::vector<int32_t> before(dump, dump + DumpRowCount * MaxDumpFrames);
  for (int32_t voice = 0; voice < 3; ++voice)
    for (int32_t row : {GROUP_TONE_A, GROUP_VOLUME_A})
      std::memcpy(dump + DumpIndex(row + voice, 0), &before[DumpIndex(row + layout[voice], 0)],
                  sizeof(int32_t) * MaxDumpFrames);
  for (int32_t frame = 0; frame < App.Dump.FrameCount; ++frame) {
    uint8_t r[SOUND_REGISTERS] = {};
    r[R7] = static_cast<uint8_t>(before[DumpIndex(GROUP_MIXER, frame)]);
    ApplyLayout(r, layout);
    dump[DumpIndex(GROUP_MIXER, frame)] = (before[DumpIndex(GROUP_MIXER, frame)] & ~0x3F) | r[R7];
  }
}

// Loads in (a music file converted in memory, or dump text) into the chip's dump; names gets
// the title and author (the file's name for a title the file does not give). 1 with the
// message printed when it cannot; 2 (the usage printed) for a song the file does not have.
int LoadInput(const char* in, const RenderSettings& settings, std::string (*names)[2]) {
  std::vector<uint8_t> input;
  std::string why, dumpText;
  (*names)[0] = (*names)[1] = "";
  const bool readWhole = ReadInputBytes(in, &input, &why) == 0;
  if (readWhole && !FindTuneReader(input.data(), input.size()) && !PlausibleDumpText(input)) {
    std::fprintf(stderr, "%s: %s: not a known format (%s)\n", PROGRAM, in, KNOWN_FORMATS);
    return 1;
  }
  if (readWhole && FindTuneReader(input.data(), input.size())) {
    const int32_t result = ConvertTuneBytes(PROGRAM, in, input, settings.Tune, &dumpText, &why, names);
    if (result == TUNE_NO_SUCH_SONG) return Usage(std::string(in) + ": " + why);
    if (result != 0) {
      std::fprintf(stderr, "%s: %s: %s\n", PROGRAM, in, why.c_str());
      return 1;
    }
    if (StartSoundFromText(dumpText.data(), static_cast<int32_t>(dumpText.size()), settings.Level) != 0) {
      std::fprintf(stderr, "%s: %s: out of memory for the dump\n", PROGRAM, in);
      return 1;
    }
  } else {
    errno = 0;
    if (StartSoundOnly(in, settings.Level) != 0) {
      const int openError = errno;
      std::fprintf(stderr, "%s: cannot open dump %s: %s\n", PROGRAM, in, DumpProblem(in, openError).c_str());
      return 1;
    }
    LayoutLoadedDump(settings.Tune.Layout);
  }
  if ((*names)[0].empty()) (*names)[0] = fs::path(in).stem().string();
  return 0;
}

// Multiplies the frames [first, first + count) of a render of total frames by the fade's
// gain: 1 before the last fadeFrames, then falling linearly to 0 at the last frame.
void ApplyFade(int16_t* samples, long long first, long long count, long long total, long long fadeFrames) {
  const long long start = total - fadeFrames;
  for (long long n = first < start ? start : first; n < first + count; ++n) {
    const double gain = static_cast<double>(total - 1 - n) / static_cast<double>(fadeFrames);
    for (int channel = 0; channel < 2; ++channel) {
      int16_t& sample = samples[2 * (n - first) + channel];
      sample = static_cast<int16_t>(std::lrint(sample * gain));
    }
  }
}

// Renders in to out (written whole or not at all). 0 done, 1 failed with the message printed.
int RenderOne(const RenderSettings& settings, const char* in, const std::string& out) {
  const ExportFormat& format = settings.Format ? *settings.Format : *ExportFormatOfPath(out);
  std::string why;
  if (!ExportFormatAvailable(format, &why)) {
    std::fprintf(stderr, "%s: cannot write %s: %s\n", PROGRAM, out.c_str(), why.c_str());
    return 1;
  }
  std::string names[2];
  if (const int status = LoadInput(in, settings, &names)) return status;
  const AudioStream& s = App.Stream;
  long long frames = settings.Frames;
  if (frames < 0) frames = static_cast<long long>(s.SamplesPerTick) * (settings.Loops * App.Dump.FrameCount + 1);
  if (frames > MAX_WAVE_FRAMES) {
    std::fprintf(stderr, "%s: %s: %lld passes are more than %lld frames\n", PROGRAM, in, settings.Loops, MAX_WAVE_FRAMES);
    EndSoundOnly();
    return 1;
  }
  long long fadeFrames = std::llround(settings.FadeSeconds * s.SampleRate);
  if (fadeFrames > frames) fadeFrames = frames;

  RenderOutput output;
  if (!OpenRenderOutput(out, &output, &why)) {
    std::fprintf(stderr, "%s: cannot write %s: %s\n", PROGRAM, out.c_str(), why.c_str());
    EndSoundOnly();
    return 1;
  }
  std::FILE* sink = output.Sink;
  bool ok = true;
  Encoder encoder = {};
  if (format.Container != 0) {
    ok = OpenEncoder(sink, format, names[0], names[1], settings.Quality, &encoder, &why);
  } else if (&format == &WaveFormat) {
    unsigned char header[44];
    WaveHeaderBytes(header, static_cast<uint32_t>(frames * s.FrameBytes));
    ok = std::fwrite(header, sizeof header, 1, sink) == 1;
  }

  // What the stream's open does before the device plays: reset the chip, a silent ring, block 0.
  ConnectSoundCallbacks();
  PrepareStream();
  for (long long done = 0; ok && done < frames && !StopSignal;) {
    char* block = const_cast<char*>(NextBlockFrames());
    RenderBlock();
    const long long take = frames - done < s.BlockFrames ? frames - done : s.BlockFrames;
    int16_t* samples = reinterpret_cast<int16_t*>(block);
    if (fadeFrames > 0) ApplyFade(samples, done, take, frames, fadeFrames);
    if (format.Container != 0)
      ok = EncodeFrames(&encoder, samples, static_cast<int32_t>(take), &why);
    else if (!(ok = std::fwrite(block, static_cast<size_t>(take * s.FrameBytes), 1, sink) == 1))
      why = std::strerror(errno);
    done += take;
  }
  if (StopSignal) ok = false, why = "stopped by a signal";
  if (format.Container != 0 && !CloseEncoder(&encoder, ok, &why)) ok = false;
  std::string closeWhy;
  if (!CloseRenderOutput(&output, ok, &closeWhy) && !StopSignal) {
    if (format.Container == 0 || ok) why = closeWhy;
    std::fprintf(stderr, "%s: cannot write %s: %s\n", PROGRAM, out.c_str(), why.c_str());
  }
  EndSoundOnly();
  return ok ? 0 : 1;
}

// --- many files -----------------------------------------------------------------------------

struct Batch {
  std::vector<const char*> Files;
  std::vector<std::string> Outs;  // per file; empty when its name is taken by an earlier file
  long long Jobs = 0;             // 0: the number of cores
  long long Done = 0, Written = 0, Failed = 0;
  bool Terminal = false;          // standard error is a terminal: a progress bar
  std::chrono::steady_clock::time_point Start;
};

void DrawBar(const Batch& batch, const char* current) {
  constexpr int WIDTH = 30;
  const long long total = static_cast<long long>(batch.Files.size());
  const int filled = static_cast<int>(WIDTH * batch.Done / total);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(WIDTH - filled), '.');
  std::string left = "--:--";
  if (batch.Done > 0) {
    const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - batch.Start).count();
    const long long seconds = std::llround(spent * (total - batch.Done) / batch.Done);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    left = text;
  }
  std::fprintf(stderr, "\r\033[K[%s] %lld/%lld %s left  %s", bar.c_str(), batch.Done, total, left.c_str(),
               fs::path(current).filename().string().c_str());
  std::fflush(stderr);
}

// Notes one file's end: a line of its own without a terminal, the bar redrawn on one.
void Report(Batch* batch, size_t index, int status, const std::string& messages) {
  ++batch->Done;
  (status == 0 ? batch->Written : batch->Failed)++;
  std::string line;
  if (status != 0) {
    // The file's last message names it and says what is wrong.
    std::string text = messages;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    line = "failed: " + text.substr(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
    if (text.empty()) line = std::string("failed: ") + batch->Files[index];
  } else {
    line = "written: " + batch->Outs[index];
  }
  if (batch->Terminal) {
    if (status != 0) std::fprintf(stderr, "\r\033[K%s\n", line.c_str());
    DrawBar(*batch, batch->Files[index]);
  } else {
    std::fprintf(stderr, "[%lld/%zu] %s\n", batch->Done, batch->Files.size(), line.c_str());
  }
}

#if !defined(_WIN32)

struct Running {
  pid_t Process;
  int Messages;  // read end of the child's standard error
  size_t Index;
};

// Starts the render of file index in a child process whose standard error goes to a pipe.
bool StartJob(const RenderSettings& settings, const Batch& batch, size_t index, Running* job) {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  if (child == 0) {
    ::close(fds[0]);
    ::dup2(fds[1], 2);
    ::close(fds[1]);
    const int status = RenderOne(settings, batch.Files[index], batch.Outs[index]);
    std::fflush(nullptr);
    ::_exit(StopSignal ? 128 + StopSignal : status);
  }
  ::close(fds[1]);
  *job = Running{child, fds[0], index};
  return true;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
    else if (n == 0 || errno != EINTR) break;
  }
  ::close(fd);
  return text;
}

void RunJobs(const RenderSettings& settings, Batch* batch) {
  std::vector<Running> running;
  size_t next = 0;
  bool forwarded = false;
  while (next < batch->Files.size() || !running.empty()) {
    while (!StopSignal && next < batch->Files.size() && static_cast<long long>(running.size()) < batch->Jobs) {
      const size_t index = next++;
      Running job;
      if (batch->Outs[index].empty()) {
        Report(batch, index, 1, std::string(PROGRAM) + ": " + batch->Files[index] +
                                    ": its output name is that of an earlier file");
      } else if (!StartJob(settings, *batch, index, &job)) {
        Report(batch, index, 1, std::string(PROGRAM) + ": " + batch->Files[index] + ": cannot start: " +
                                    std::strerror(errno));
      } else {
        running.push_back(job);
        if (batch->Terminal) DrawBar(*batch, batch->Files[index]);
      }
    }
    if (StopSignal && !forwarded) {
      // A signal sent to this process alone reaches the renders too; each removes its file.
      for (const Running& job : running) ::kill(job.Process, StopSignal);
      forwarded = true;
    }
    if (running.empty()) break;
    int status = 0;
    const pid_t ended = ::waitpid(-1, &status, 0);
    if (ended < 0) continue;  // EINTR: a signal came
    for (size_t k = 0; k < running.size(); ++k) {
      if (running[k].Process != ended) continue;
      const std::string messages = ReadAll(running[k].Messages);
      const bool stopped = WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) > 128);
      if (!stopped || !StopSignal) Report(batch, running[k].Index, WIFEXITED(status) ? WEXITSTATUS(status) : 1, messages);
      running.erase(running.begin() + static_cast<long>(k));
      break;
    }
  }
}

long long Cores() {
  const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
  return cores > 0 ? cores : 1;
}

#else  // Windows: one file after the other, in this process.

void RunJobs(const RenderSettings& settings, Batch* batch) {
  for (size_t index = 0; index < batch->Files.size() && !StopSignal; ++index) {
    if (batch->Terminal) DrawBar(*batch, batch->Files[index]);
    const int status = batch->Outs[index].empty() ? 1 : RenderOne(settings, batch->Files[index], batch->Outs[index]);
    if (!StopSignal) Report(batch, index, status, "");
  }
}

long long Cores() { return 1; }

#endif

int RenderAll(const RenderSettings& settings, Batch* batch, const std::string& folder) {
  const ExportFormat& format = settings.Format ? *settings.Format : WaveFormat;
  std::string why;
  if (!ExportFormatAvailable(format, &why)) {
    std::fprintf(stderr, "%s: %s\n", PROGRAM, why.c_str());
    return 1;
  }
  std::error_code code;
  fs::create_directories(folder, code);
  if (!fs::is_directory(folder, code)) {
    std::fprintf(stderr, "%s: cannot write into %s: %s\n", PROGRAM, folder.c_str(),
                 code ? code.message().c_str() : "not a directory");
    return 1;
  }
  std::set<std::string> taken;
  for (const char* file : batch->Files) {
    const std::string out = (fs::path(folder) / (fs::path(file).stem().string() + format.Extension)).string();
    batch->Outs.push_back(taken.insert(out).second ? out : std::string());
  }
  if (batch->Jobs == 0) batch->Jobs = Cores();
#if defined(_WIN32)
  batch->Terminal = _isatty(_fileno(stderr));
#else
  batch->Terminal = ::isatty(2);
#endif
  batch->Start = std::chrono::steady_clock::now();
  RunJobs(settings, batch);
  const long long total = static_cast<long long>(batch->Files.size());
  if (batch->Terminal) std::fprintf(stderr, "\r\033[K");
  std::fprintf(stderr, "%s: %lld written, %lld failed", PROGRAM, batch->Written, batch->Failed);
  if (batch->Done < total) std::fprintf(stderr, ", %lld not done (stopped)", total - batch->Done);
  std::fprintf(stderr, "\n");
  if (StopSignal) return EndByStopSignal();
  return batch->Failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  RenderSettings settings;
  std::vector<const char*> paths;
  const char* folder = nullptr;
  Batch batch;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (AnswerStandardOption(Help, argv[i])) return 0;
    std::string badTuneOption;
    if (ParseTuneOption(argc, argv, &i, &settings.Tune, &badTuneOption)) {
      if (!badTuneOption.empty()) return Usage(badTuneOption);
    } else if (arg == "--frames" || arg == "--level" || arg == "--loops" || arg == "--fade" || arg == "--quality" ||
               arg == "--format" || arg == "-o" || arg == "-j") {
      if (i + 1 >= argc) return Usage("missing value after " + arg);
      const char* value = argv[++i];
      std::string why;
      double number = 0;
      bool good = true;
      if (arg == "--frames") {
        good = ParseCount(value, MAX_WAVE_FRAMES, "frames", &settings.Frames, &why);
      } else if (arg == "--loops") {
        good = ParseCount(value, MAX_LOOPS, "passes", &settings.Loops, &why);
        if (good && settings.Loops < 1) good = false, why = "at least 1 pass";
      } else if (arg == "-j") {
        good = ParseCount(value, MAX_JOBS, "files at once", &batch.Jobs, &why);
        if (good && batch.Jobs < 1) good = false, why = "at least 1";
      } else if (arg == "--level") {
        good = ParseNumber(value, &number, &why);
        settings.Level = std::strtof(value, nullptr);  // clamped by the chip
      } else if (arg == "--fade") {
        good = ParseNumber(value, &number, &why) && (number >= 0 || (why = "negative", false));
        settings.FadeSeconds = number;
      } else if (arg == "--quality") {
        good = ParseNumber(value, &number, &why) && ((number >= 0 && number <= 1) || (why = "not 0 to 1", false));
        settings.Quality = number;
      } else if (arg == "--format") {
        settings.Format = ExportFormatByName(value);
        if (!settings.Format) good = false, why = "not one of " + ExportFormatNames();
      } else {
        folder = value;
      }
      if (!good) return Usage("bad value for " + arg + " \"" + value + "\": " + why);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else {
      paths.push_back(argv[i]);
    }
  }
  if (settings.Frames >= 0 && settings.Loops != 1) return Usage("--frames and --loops exclude each other");
  CatchStopSignals();
  if (folder) {
    if (paths.empty()) return Usage("FILE... is required with -o");
    batch.Files = paths;
    return RenderAll(settings, &batch, folder);
  }
  if (batch.Jobs) return Usage("-j needs -o DIR");
  if (paths.size() < 2) return Usage("IN and OUT are required");
  if (paths.size() > 2) return Usage("too many arguments (several files need -o DIR)");
  const int status = RenderOne(settings, paths[0], paths[1]);
  return StopSignal ? EndByStopSignal() : status;
}
