// SPDX-License-Identifier: GPL-2.0-or-later
// SQ-Tracker and Sound Tracker Pro: the modules make_sqt_stp_modules.py writes (frames worked out by
// hand from the players' rules; the tracker document's worked examples), and recognition: each
// module by its own reader only, no other format's file or random bytes by these two.
#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "formats/tune.h"
#include "platform/whole_file.h"

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<uint8_t> Bytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string why;
  EXPECT_EQ(ReadRegularFile(path.c_str(), MAX_INPUT_BYTES, &bytes, &why), 0) << why;
  return bytes;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Reads the module and compares its frame count, loop frame and the frames NAME.want lists.
void CheckModule(const std::string& name) {
  SCOPED_TRACE(name);
  const std::string dir = Env("TONEWELL_TUNES_DIR") + "/";
  const std::vector<uint8_t> bytes = Bytes(dir + name);
  SourceTune tune;
  std::string why;
  ASSERT_EQ(ReadTune(bytes.data(), bytes.size(), &tune, &why), 0) << why;
  EXPECT_EQ(tune.Format, EndsWith(name, ".sqt") ? "SQT" : "STP");
  std::vector<std::string> text[2];  // --no-rescale, clock rule
  for (int rescale = 0; rescale < 2; ++rescale) {
    DumpFrames dump;
    ASSERT_EQ(ConvertTune(tune, ConvertOptions{0, rescale == 0}, &dump, &why), 0);
    std::istringstream in(DumpText(dump));
    for (std::string line; std::getline(in, line);) text[rescale].push_back(line.substr(0, line.size() - 1));
  }
  for (const std::string& want : Lines(dir + name + ".want")) {
    std::istringstream fields(want);
    std::string key, mode;
    int64_t k;
    fields >> key;
    if (key == "frames" || key == "loop") {
      fields >> k;
      EXPECT_EQ(key == "frames" ? tune.FrameCount : tune.LoopFrame, k) << key;
      continue;
    }
    k = std::stoll(key);
    fields >> mode;
    const std::vector<std::string>& got = text[mode == "d"];
    ASSERT_LT(static_cast<size_t>(k), got.size());
    EXPECT_EQ(got[k], want.substr(want.size() - 41)) << "frame " << k << (mode == "d" ? " (clock rule)" : "");
  }
}

TEST(TrackerModules, PlayEveryCommandAsWorkedOutByHand) {
  int checked = 0;
  for (const std::string& name : Lines(Env("TONEWELL_TUNES_DIR") + "/modules.txt"))
    if (name.rfind("worked_", 0) != 0) CheckModule(name), ++checked;
  EXPECT_GE(checked, 12);
}

TEST(TrackerModules, WorkedExamplesOfTheTrackerDocument) {
  if (Lines(Env("TONEWELL_TUNES_DIR") + "/worked.txt").empty())
    GTEST_SKIP() << "trackers2.md not found (set TONEWELL_SHARED to the shared folder)";
  int checked = 0;
  for (const std::string& name : Lines(Env("TONEWELL_TUNES_DIR") + "/modules.txt"))
    if (name.rfind("worked_", 0) == 0) CheckModule(name), ++checked;
  EXPECT_EQ(checked, 4);
}

// Which of the readers take the bytes, as "PSG YM ..." in table order.
std::string Takers(const std::vector<uint8_t>& b) {
  const TuneReader* all[] = {&PsgReader, &YmReader, &VtxReader, &LhaReader, &StpReader, &SqtReader};
  std::string names;
  for (const TuneReader* r : all)
    if (r->Detect(b.data(), b.size())) names += std::string(names.empty() ? "" : " ") + r->Name;
  return names;
}

// A module is taken by its own reader only; any other file by neither STP nor SQT.
void CheckRecognition(const std::string& path, int* modules) {
  SCOPED_TRACE(path);
  const std::vector<uint8_t> b = Bytes(path);
  if (EndsWith(path, ".sqt") || EndsWith(path, ".stp")) {
    EXPECT_EQ(Takers(b), EndsWith(path, ".sqt") ? "SQT" : "STP");
    ++*modules;
  } else {
    EXPECT_FALSE(StpReader.Detect(b.data(), b.size()) || SqtReader.Detect(b.data(), b.size())) << Takers(b);
  }
}

std::vector<std::string> Folder(const std::string& dir) {
  std::vector<std::string> paths;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') paths.push_back(dir + "/" + e->d_name);
    closedir(d);
  }
  return paths;
}

TEST(TrackerModules, GeneratedFilesOfEveryFormatAreTakenByTheirOwnReaderOnly) {
  const std::string dir = Env("TONEWELL_TUNES_DIR");
  int modules = 0;
  for (const std::string& name : Lines(dir + "/good.txt")) CheckRecognition(dir + "/" + name, &modules);
  for (const std::string& name : Lines(dir + "/modules.txt")) CheckRecognition(dir + "/" + name, &modules);
  EXPECT_GE(modules, 12);
  // Damaged modules that are still modules in shape stay with their reader, to be refused there.
  EXPECT_EQ(Takers(Bytes(dir + "/orn_first.sqt")), "SQT");
  EXPECT_EQ(Takers(Bytes(dir + "/player_sample.stp")), "STP");
  EXPECT_EQ(Takers(Bytes(dir + "/cut.stp")), "");
}

TEST(TrackerModules, RealFilesOfEveryFormatAreTakenByTheirOwnReaderOnly) {
  const std::string shared = (Env("TONEWELL_SHARED").empty() ? TONEWELL_SHARED_DIR : Env("TONEWELL_SHARED")) + "/testdata";
  std::vector<std::string> paths;
  for (const char* sub : {"/trackers2", "/trackers", "/ay"})
    for (const std::string& path : Folder(shared + sub)) paths.push_back(path);
  if (paths.empty()) GTEST_SKIP() << "no real modules in " << shared << " (set TONEWELL_SHARED)";
  int modules = 0;
  for (const std::string& path : paths) CheckRecognition(path, &modules);
  EXPECT_GE(modules, 7);
}

TEST(TrackerModules, RandomBytesAreNeitherModule) {
  std::mt19937 rng(2121);
  for (int i = 0; i < 20000; ++i) {
    std::vector<uint8_t> b(16 + rng() % 4000);
    for (uint8_t& x : b) x = static_cast<uint8_t>(rng());
    if (i % 2) b[0] = static_cast<uint8_t>(b.size()), b[1] = static_cast<uint8_t>(b.size() >> 8);  // an SQT size word
    ASSERT_FALSE(StpReader.Detect(b.data(), b.size()) || SqtReader.Detect(b.data(), b.size())) << i;
  }
}

}  // namespace
