// SPDX-License-Identifier: GPL-2.0-or-later
// tonewell-play: plays a music file with the player, which itself takes no arguments and reads
// music/dump.txt from its working directory.
//
//   tonewell-play [--song N] [--clock HZ] [--no-rescale] [--layout NAME] [FILE]
//
// Makes a private temporary folder, writes FILE converted by tonewell-convert into it as
// music/dump.txt (without FILE: a copy of the installed demo tune), runs tonewell with the
// folder as its working directory, removes the folder however the player ends, and ends with
// the player's exit status (128 + N when signal N ended it). SIGINT, SIGTERM and SIGHUP are
// passed on to the converter or the player while it runs. --song, --clock, --no-rescale and
// --layout are checked here and passed on to the converter; its usage error (a song the file
// lacks) ends this program with 2 as well.
//
// tonewell and tonewell-convert are taken from the folder of this program. The demo tune lies
// at TONEWELL_TUNE_FROM_BINDIR from that folder (../share/tonewell/dump.txt on Linux,
// music\dump.txt on Windows). The copy built in the build tree uses the build tree's player and
// the source tree's music/dump.txt instead, so it runs before anything is installed.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/play_process.h"
#include "tools/tool_args.h"
#include "tools/tune_input.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
const char* const ExeSuffix = ".exe";
#else
const char* const ExeSuffix = "";
#endif

const ToolHelp Help = {
    "tonewell-play", "tonewell-play [--song N] [--clock HZ] [--no-rescale] [--layout NAME] [FILE]",
    "Plays FILE (PSG, YM, AY, VTX, PT3, PT2, STC, ASC, SQT or STP, converted by tonewell-convert)\n"
    "with the player tonewell; without FILE plays the demo tune. Ends with the player's exit status.",
    TUNE_OPTION_HELP};

struct Programs {
  fs::path Player;
  fs::path Converter;
  fs::path DemoTune;
};

#ifdef TONEWELL_BUILD_TREE_DIR
bool SameFolder(const fs::path& a, const char* b) {
  std::error_code error;
  return fs::equivalent(a, fs::path(b), error);
}
#endif

Programs FindPrograms() {
  fs::path here = ExecutableFolder();
#ifdef TONEWELL_INSTALL_BINDIR
  if (here.empty()) here = TONEWELL_INSTALL_BINDIR;
#endif
  Programs p;
  p.Player = here / (std::string("tonewell") + ExeSuffix);
  p.Converter = here / (std::string("tonewell-convert") + ExeSuffix);
  p.DemoTune = (here / TONEWELL_TUNE_FROM_BINDIR).lexically_normal();
#ifdef TONEWELL_BUILD_TREE_DIR
  if (SameFolder(here, TONEWELL_BUILD_TREE_DIR)) {
    p.Player = TONEWELL_BUILD_TREE_PLAYER;
    p.DemoTune = TONEWELL_SOURCE_TUNE;
  }
#endif
  return p;
}

// Removes the folder and says so when it cannot; returns status unchanged.
int RemoveFolder(const fs::path& folder, int status) {
  std::error_code error;
  fs::remove_all(folder, error);
  if (error)
    std::fprintf(stderr, "tonewell-play: cannot remove %s: %s\n", folder.string().c_str(), error.message().c_str());
  FolderGone();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const char* file = nullptr;
  bool options = true;
  std::vector<std::string> convert = {"tonewell-convert"};
  ConvertOptions tuneOptions;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options && AnswerStandardOption(Help, argv[i])) return 0;
    const int first = i;
    std::string bad;
    if (options && ParseTuneOption(argc, argv, &i, &tuneOptions, &bad)) {
      if (!bad.empty()) return ToolUsageError(Help, bad.c_str());
      convert.insert(convert.end(), argv + first, argv + i + 1);
    } else if (options && arg == "--") {
      options = false;
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      return ToolUsageError(Help, ("unknown option " + arg).c_str());
    } else if (!file) {
      file = argv[i];
    } else {
      return ToolUsageError(Help, "too many arguments");
    }
  }

  if (tuneOptions.Song && !file) return ToolUsageError(Help, "--song needs a FILE");
  const Programs programs = FindPrograms();
  CatchEndRequests();
  std::string error;
  const fs::path folder = MakePrivateFolder(&error);
  if (folder.empty()) {
    std::fprintf(stderr, "tonewell-play: %s\n", error.c_str());
    return 1;
  }
  const fs::path music = folder / "music";
  const fs::path dump = music / "dump.txt";
  std::error_code fsError;
  fs::create_directory(music, fsError);
  if (fsError) {
    std::fprintf(stderr, "tonewell-play: cannot make %s: %s\n", music.string().c_str(), fsError.message().c_str());
    return RemoveFolder(folder, 1);
  }

  if (file) {
    // A relative name that starts with '-' goes to the converter as "./-name", which no
    // option parser takes for an option. The converter says what is wrong with FILE itself.
    const std::string in = file[0] == '-' ? std::string("./") + file : std::string(file);
    convert.insert(convert.end(), {in, dump.string()});
    const int status = RunToEnd(programs.Converter, convert, fs::path(), &error);
    if (status < 0) std::fprintf(stderr, "tonewell-play: %s\n", error.c_str());
    if (EndRequest()) return RemoveFolder(folder, EndRequest());
    if (status != 0) return RemoveFolder(folder, status == 2 ? 2 : 1);
  } else {
    fs::copy_file(programs.DemoTune, dump, fsError);
    if (fsError) {
      std::fprintf(stderr, "tonewell-play: cannot copy the demo tune %s: %s\n", programs.DemoTune.string().c_str(),
                   fsError.message().c_str());
      return RemoveFolder(folder, 1);
    }
  }
  if (EndRequest()) return RemoveFolder(folder, EndRequest());

  const int status = RunToEnd(programs.Player, {"tonewell"}, folder, &error);
  if (status < 0) {
    std::fprintf(stderr, "tonewell-play: %s\n", error.c_str());
    return RemoveFolder(folder, 1);
  }
  return RemoveFolder(folder, status);
}
