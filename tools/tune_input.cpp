// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/tune_input.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/whole_file.h"
#include "tools/render_output.h"
#include "tools/tool_args.h"

bool ParseTuneOption(int argc, char** argv, int* i, ConvertOptions* options, std::string* bad) {
  const std::string arg = argv[*i];
  if (arg == "--no-rescale") {
    options->NoRescale = true;
    return true;
  }
  const bool clock = arg == "--clock";
  if (!clock && arg != "--song" && arg != "--layout") return false;
  const std::string problem = clock              ? "--clock needs a frequency of 1 to 4294967295 Hz"
                              : arg == "--song" ? "--song needs a song number of 1 to 65535"
                                                : "--layout needs one of abc, acb, bac, bca, cab, cba";
  if (*i + 1 >= argc) {
    *bad = problem;
    return true;
  }
  if (arg == "--layout") {
    if (!ParseLayout(argv[++*i], options->Layout)) *bad = problem;
    return true;
  }
  long long value = 0;
  if (ParseDigits(argv[++*i], clock ? 0xFFFFFFFFLL : 65535, &value) != DIGITS_OK || value < 1) *bad = problem;
  else if (clock) options->Clock = value;
  else options->Song = static_cast<int32_t>(value);
  return true;
}

const char* const KNOWN_FORMATS = "dump text, PSG, YM, AY, VTX, LHA, PT3, PT2, STC, ASC, SQT or STP";

bool PlausibleDumpText(const std::vector<uint8_t>& bytes) {
  constexpr size_t LOOK = 4096;
  const size_t n = bytes.size() < LOOK ? bytes.size() : LOOK;
  size_t texty = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = bytes[i];
    texty += std::isxdigit(b) || b == ' ' || b == '\t' || b == '\r' || b == '\n';
  }
  return 2 * texty >= n;
}

int32_t ReadInputBytes(const char* path, std::vector<uint8_t>* bytes, std::string* why) {
  return ReadRegularFile(path, MAX_INPUT_BYTES, bytes, why);
}

int32_t ConvertTuneBytes(const char* program, const char* path, const std::vector<uint8_t>& bytes,
                         const ConvertOptions& options, std::string* text, std::string* why,
                         std::string (*names)[2]) {
  SourceTune tune;
  DumpFrames dump;
  const int32_t result = ReadTune(bytes.data(), bytes.size(), &tune, why, options.Song);
  if (result != 0) return result;
  if (names) {
    (*names)[0] = tune.Title;
    (*names)[1] = tune.Author;
  }
  if (ConvertTune(tune, options, &dump, why) != 0) return -1;
  *text = DumpText(dump);
  std::fprintf(stderr, "%s: %s: %s\n", program, path, TuneSummary(tune, options).c_str());
  for (const std::string& notice : tune.Notices) std::fprintf(stderr, "%s: %s: %s\n", program, path, notice.c_str());
  if (tune.DroppedDigidrums || tune.DroppedEffects)
    std::fprintf(stderr, "%s: %s: dropped %s: the chip has no such path\n", program, path,
                 tune.DroppedDigidrums && tune.DroppedEffects ? "digidrums and effects"
                 : tune.DroppedDigidrums                      ? "digidrums"
                                                              : "effects");
  if (dump.Count < dump.FullCount)
    std::fprintf(stderr, "%s: %s: cut at %d of %lld frames (the player holds %d)\n", program, path, MaxDumpFrames,
                 static_cast<long long>(dump.FullCount), MaxDumpFrames);
  return 0;
}

int32_t ListTuneSongs(const std::vector<uint8_t>& bytes, std::string* text, std::string* why) {
  SourceTune tune;
  const int32_t result = ReadTune(bytes.data(), bytes.size(), &tune, why, 0, true);
  if (result != 0) return result;
  *text = tune.Format + "\nauthor: " + tune.Author + "\nmisc: " + tune.Comment + "\n";
  if (tune.Songs.empty()) tune.Songs.push_back(TuneSong{tune.Title, tune.FrameCount});
  for (size_t n = 0; n < tune.Songs.size(); ++n) {
    const int64_t frames = tune.Songs[n].Frames;
    *text += std::to_string(n + 1) + "\t" + tune.Songs[n].Name + "\t" +
             (frames < 0 ? "? (its record lies outside the file)" : frames == 0 ? "unknown length" : std::to_string(frames) + " frames") +
             (n + 1 == static_cast<size_t>(tune.Song > 0 ? tune.Song : 1) ? "\tfirst\n" : "\n");
  }
  return 0;
}

int32_t WriteOutputText(const std::string& path, const std::string& text, std::string* why) {
  RenderOutput output;
  if (!OpenRenderOutput(path, &output, why)) return -1;
  const bool ok = std::fwrite(text.data(), 1, text.size(), output.Sink) == text.size();
  if (!ok) *why = std::strerror(errno);
  std::string closeWhy;
  if (!CloseRenderOutput(&output, ok, &closeWhy)) {
    if (ok) *why = closeWhy;
    return -1;
  }
  return 0;
}
