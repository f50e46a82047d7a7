#include "tools/tune_input.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/whole_file.h"

bool ParseTuneOption(int argc, char** argv, int* i, ConvertOptions* options, bool* bad) {
  const std::string arg = argv[*i];
  if (arg == "--no-rescale") {
    options->NoRescale = true;
    return true;
  }
  if (arg != "--clock") return false;
  if (*i + 1 >= argc) {
    *bad = true;
    return true;
  }
  const char* text = argv[++*i];
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (errno || end == text || *end || value < 1 || value > 0xFFFFFFFFLL)
    *bad = true;
  else
    options->Clock = value;
  return true;
}

int32_t ReadInputBytes(const char* path, std::vector<uint8_t>* bytes, std::string* why) {
  return ReadRegularFile(path, MAX_INPUT_BYTES, bytes, why);
}

int32_t ConvertTuneBytes(const char* program, const char* path, const std::vector<uint8_t>& bytes,
                         const ConvertOptions& options, std::string* text, std::string* why) {
  SourceTune tune;
  DumpFrames dump;
  if (ReadTune(bytes.data(), bytes.size(), &tune, why) != 0) return -1;
  if (ConvertTune(tune, options, &dump, why) != 0) return -1;
  *text = DumpText(dump);
  std::fprintf(stderr, "%s: %s: %s\n", program, path, TuneSummary(tune, options).c_str());
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
  if (path == "-") {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
      *why = std::strerror(errno);
      return -1;
    }
    return 0;
  }
  const std::string temporary = path + ".partial";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) {
    *why = std::strerror(errno);
    return -1;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = std::fflush(file) == 0 && ok;
  int error = errno;
  ok = std::fclose(file) == 0 && ok;
  if (ok) {
    std::error_code renameError;
    std::filesystem::rename(temporary, path, renameError);
    if (renameError) {
      ok = false;
      error = renameError.value();
    }
  } else if (error == 0) {
    error = errno;
  }
  if (!ok) {
    std::remove(temporary.c_str());
    *why = std::strerror(error);
    return -1;
  }
  return 0;
}
