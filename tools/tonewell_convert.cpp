// SPDX-License-Identifier: GPL-2.0-or-later
// tonewell-convert: turns a PSG, YM, AY or VTX file (LHA-packed or not), or a PT3, PT2, STC,
// ASC, SQT or STP module, into the player's register dump text.
//
//   tonewell-convert [--song N] [--clock HZ] [--no-rescale] [--layout NAME] IN OUT
//   tonewell-convert --list IN
//
// OUT "-" writes the dump to standard output. Standard error gets one line on the tune, and
// a line each when digidrums or effects were dropped or the tune was cut to the player's
// length. --list prints the file's author, misc text and songs on standard output instead.
// Exit 0 done, 1 bad input or output (nothing left at OUT), 2 usage (a song the file lacks too).
#include <cstdio>
#include <string>

#include "tools/tool_args.h"
#include "tools/tune_input.h"

namespace {

constexpr const char* PROGRAM = "tonewell-convert";

const ToolHelp Help = {
    PROGRAM, "tonewell-convert [--song N] [--clock HZ] [--no-rescale] [--layout NAME] IN OUT | --list IN",
    "Converts a PSG, YM (YM2! to YM6!, LHA-packed or not), AY (ZXAY/EMUL) or VTX file, or a Pro\n"
    "Tracker 3 / Vortex Tracker II (PT3), Pro Tracker 2 (PT2), Sound Tracker (STC), ASC Sound\n"
    "Master (ASC), SQ-Tracker (SQT) or Sound Tracker Pro (STP) module, into the player's register\n"
    "dump text at 50 Hz for a 1750000 Hz chip. OUT - writes the dump to standard output.",
    "  --list              print the file's author, misc text and songs (number, name, length)\n"
    TUNE_OPTION_HELP};

int Usage(const std::string& why) { return ToolUsageError(Help, why.c_str()); }

}  // namespace

int main(int argc, char** argv) {
  ConvertOptions options;
  const char* paths[2] = {nullptr, nullptr};
  int pathCount = 0;
  bool list = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (AnswerStandardOption(Help, argv[i])) return 0;
    std::string bad;
    if (ParseTuneOption(argc, argv, &i, &options, &bad)) {
      if (!bad.empty()) return Usage(bad);
    } else if (arg == "--list") {
      list = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else if (pathCount < 2) {
      paths[pathCount++] = argv[i];
    } else {
      return Usage("too many arguments");
    }
  }
  if (list ? pathCount != 1 : pathCount < 2) return Usage(list ? "--list takes IN alone" : "IN and OUT are required");

  std::vector<uint8_t> bytes;
  std::string text, why;
  int32_t result = ReadInputBytes(paths[0], &bytes, &why);
  if (result == 0)
    result = list ? ListTuneSongs(bytes, &text, &why) : ConvertTuneBytes(PROGRAM, paths[0], bytes, options, &text, &why);
  if (result == TUNE_NO_SUCH_SONG) return Usage(std::string(paths[0]) + ": " + why);
  if (result != 0) {
    std::fprintf(stderr, "%s: %s: %s\n", PROGRAM, paths[0], why.c_str());
    return 1;
  }
  if (list) return std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
  if (WriteOutputText(paths[1], text, &why) != 0) {
    std::fprintf(stderr, "%s: cannot write %s: %s\n", PROGRAM, paths[1], why.c_str());
    return 1;
  }
  return 0;
}
