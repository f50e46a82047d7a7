// tonewell-convert: turns a PSG, YM or VTX file (LHA-packed or not), or a PT3, PT2, STC, ASC,
// SQT or STP module, into the player's register dump text.
//
//   tonewell-convert [--clock HZ] [--no-rescale] [--layout NAME] IN OUT
//
// OUT "-" writes the dump to standard output. Standard error gets one line on the tune, and
// a line each when digidrums or effects were dropped or the tune was cut to the player's
// length. Exit 0 done, 1 bad input or output (nothing left at OUT), 2 usage.
#include <cstdio>
#include <string>

#include "tools/tool_args.h"
#include "tools/tune_input.h"

namespace {

constexpr const char* PROGRAM = "tonewell-convert";

const ToolHelp Help = {
    PROGRAM, "tonewell-convert [--clock HZ] [--no-rescale] [--layout NAME] IN OUT",
    "Converts a PSG, YM (YM2! to YM6!, LHA-packed or not) or VTX file, or a Pro Tracker 3 / Vortex\n"
    "Tracker II (PT3), Pro Tracker 2 (PT2), Sound Tracker (STC), ASC Sound Master (ASC), SQ-Tracker\n"
    "(SQT) or Sound Tracker Pro (STP) module, into the player's register dump text at 50 Hz for a\n"
    "1750000 Hz chip. OUT - writes the dump to standard output.",
    TUNE_OPTION_HELP};

int Usage(const std::string& why) { return ToolUsageError(Help, why.c_str()); }

}  // namespace

int main(int argc, char** argv) {
  ConvertOptions options;
  const char* paths[2] = {nullptr, nullptr};
  int pathCount = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (AnswerStandardOption(Help, argv[i])) return 0;
    bool bad = false;
    if (ParseTuneOption(argc, argv, &i, &options, &bad)) {
      if (bad) return Usage(TuneOptionError(arg));
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else if (pathCount < 2) {
      paths[pathCount++] = argv[i];
    } else {
      return Usage("too many arguments");
    }
  }
  if (pathCount < 2) return Usage("IN and OUT are required");

  std::vector<uint8_t> bytes;
  std::string text, why;
  if (ReadInputBytes(paths[0], &bytes, &why) != 0 ||
      ConvertTuneBytes(PROGRAM, paths[0], bytes, options, &text, &why) != 0) {
    std::fprintf(stderr, "%s: %s: %s\n", PROGRAM, paths[0], why.c_str());
    return 1;
  }
  if (WriteOutputText(paths[1], text, &why) != 0) {
    std::fprintf(stderr, "%s: cannot write %s: %s\n", PROGRAM, paths[1], why.c_str());
    return 1;
  }
  return 0;
}
