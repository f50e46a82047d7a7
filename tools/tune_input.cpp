#include "tools/tune_input.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/whole_file.h"
#include "tools/render_output.h"

bool ParseTuneOption(int argc, char** argv, int* i, ConvertOptions* options, bool* bad) {
  const std::string arg = argv[*i];
  if (arg == "--no-rescale") {
    options->NoRescale = true;
    return true;
  }
  if (arg != "--clock" && arg != "--layout") return false;
  if (*i + 1 >= argc) {
    *bad = true;
    return true;
  }
  if (arg == "--layout") {
    *bad = !ParseLayout(argv[++*i], options->Layout);
    return true;
  }
  // Decimal digits only: no sign, no blanks, nothing after the number.
  const char* text = argv[++*i];
  long long value = 0;
  for (const char* at = text; *at && !*bad; ++at) {
    if (*at < '0' || *at > '9') *bad = true;
    else value = value * 10 + (*at - '0');
    if (value > 0xFFFFFFFFLL) *bad = true;
  }
  if (!*text || value < 1) *bad = true;
  if (!*bad) options->Clock = value;
  return true;
}

const char* const KNOWN_FORMATS = "dump text, PSG, YM, VTX, LHA, PT3, PT2, STC, ASC, SQT or STP";

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

std::string TuneOptionError(const std::string& option) {
  if (option == "--layout") return "--layout needs one of abc, acb, bac, bca, cab, cba";
  return "--clock needs a frequency of 1 to 4294967295 Hz";
}

int32_t ReadInputBytes(const char* path, std::vector<uint8_t>* bytes, std::string* why) {
  return ReadRegularFile(path, MAX_INPUT_BYTES, bytes, why);
}

int32_t ConvertTuneBytes(const char* program, const char* path, const std::vector<uint8_t>& bytes,
                         const ConvertOptions& options, std::string* text, std::string* why,
                         std::string (*names)[2]) {
  SourceTune tune;
  DumpFrames dump;
  if (ReadTune(bytes.data(), bytes.size(), &tune, why) != 0) return -1;
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
    std::fprintf(stderr, "%s: %s: cut at %d of %lld frames (the player holds %d)\n", program, path, MAX_FRAMES,
                 static_cast<long long>(dump.FullCount), MAX_FRAMES);
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
