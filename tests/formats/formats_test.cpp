// SPDX-License-Identifier: GPL-2.0-or-later
// The music readers on files made by make_tunes.py (TONEWELL_TUNES_DIR), the conversion rules
// on hand-made source frames, the dump text, and a PSG -> dump text -> PSG round trip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "formats/pt_tables.h"
#include "formats/tune.h"
#include "platform/whole_file.h"

namespace {

std::string TunesDir() {
  const char* dir = std::getenv("TONEWELL_TUNES_DIR");
  return dir ? dir : "";
}

std::string SharedDir() {
  const char* dir = std::getenv("TONEWELL_SHARED");
  return dir ? dir : TONEWELL_SHARED_DIR;
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
std::vector<std::string> ListFile(const std::string& name) { return Lines(TunesDir() + "/" + name); }

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string why;
  EXPECT_EQ(ReadRegularFile(path.c_str(), MAX_INPUT_BYTES, &bytes, &why), 0) << path << ": " << why;
  return bytes;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

struct Expected {
  std::vector<std::pair<std::string, std::string>> Facts;
  std::vector<std::string> Frames;  // "R0 .. R13 flag" as the generator wrote them
};

Expected ReadExpected(const std::string& name) {
  Expected e;
  std::ifstream in(TunesDir() + "/" + name + ".expect");
  bool data = false;
  for (std::string line; std::getline(in, line);) {
    if (data) {
      e.Frames.push_back(line);
    } else if (line == "data") {
      data = true;
    } else {
      const size_t space = line.find(' ');
      e.Facts.emplace_back(line.substr(0, space), line.substr(space + 1));
    }
  }
  return e;
}

// The bits of each register the chip has.
const uint8_t RegisterWidth[14] = {0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0x1F, 0xFF, 0x1F, 0x1F, 0x1F, 0xFF, 0xFF, 0x0F};

// A reader's frame as the chip takes it: cut to the register widths (which strips the effect
// bits that YM4..YM6 keep in free bits).
std::string FrameLine(const SourceTune& t, size_t f) {
  char text[64];
  std::string line;
  for (int r = 0; r < 14; ++r) {
    std::snprintf(text, sizeof text, r ? " %02X" : "%02X", t.Registers[f * 14 + r] & RegisterWidth[r]);
    line += text;
  }
  return line + (t.ShapeWritten[f] ? " 1" : " 0");
}

// The registers of a frame that writes no shape are compared without R13, whose value the
// format leaves open then (0xFF in YM data, the last state in a PSG log).
std::string WithoutIdleShape(const std::string& line) {
  return line.substr(line.size() - 1) == "0" ? line.substr(0, 39) : line;
}

int32_t ReadNamed(const std::string& name, SourceTune* tune, std::string* why) {
  std::vector<uint8_t> bytes;
  if (ReadRegularFile((TunesDir() + "/" + name).c_str(), MAX_INPUT_BYTES, &bytes, why) != 0) return -1;
  return ReadTune(bytes.data(), bytes.size(), tune, why);
}

std::string Fact(const SourceTune& t, const std::string& key) {
  if (key == "format") return t.Format;
  if (key == "clock") return std::to_string(t.Clock);
  if (key == "rate") return std::to_string(t.Rate);
  if (key == "frames") return std::to_string(t.FrameCount);
  if (key == "loop") return std::to_string(t.LoopFrame);
  if (key == "title") return t.Title;
  if (key == "author") return t.Author;
  if (key == "comment") return t.Comment;
  if (key == "digidrums") return t.DroppedDigidrums ? "1" : "0";
  if (key == "effects") return t.DroppedEffects ? "1" : "0";
  return "?" + key;
}

// Every good file whose name ends in one of the endings: read, and compared fact by fact and
// frame by frame with what the generator wrote into it.
void CheckGoodFiles(std::initializer_list<const char*> endings, const char* list = "good.txt") {
  ASSERT_FALSE(TunesDir().empty()) << "TONEWELL_TUNES_DIR is not set";
  int checked = 0;
  for (const std::string& name : ListFile(list)) {
    bool wanted = false;
    for (const char* ending : endings) wanted |= EndsWith(name, ending);
    if (!wanted) continue;
    SCOPED_TRACE(name);
    SourceTune tune;
    std::string why;
    ASSERT_EQ(ReadNamed(name, &tune, &why), 0) << why;
    const Expected e = ReadExpected(name);
    for (const auto& fact : e.Facts) EXPECT_EQ(Fact(tune, fact.first), fact.second) << fact.first;
    ASSERT_EQ(tune.ShapeWritten.size(), e.Frames.size());
    for (size_t f = 0; f < e.Frames.size(); ++f) {
      ASSERT_EQ(WithoutIdleShape(FrameLine(tune, f)), WithoutIdleShape(e.Frames[f])) << "frame " << f;
    }
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

}  // namespace

TEST(PsgReader, GivesTheLoggedFramesWithStateCarriedOver) { CheckGoodFiles({".psg"}); }
TEST(YmReader, GivesTheFramesOfEveryVersionInterleavedOrNot) {
  CheckGoodFiles({".ym2", ".ym3", ".ym3b", ".ym4", ".ym5", ".ym6"});
}
TEST(VtxReader, GivesTheFramesOfNewAndOldHeadersOfBothChips) { CheckGoodFiles({".vtx"}); }
TEST(LhaReader, UnpacksTheArchivedYmFile) { CheckGoodFiles({"packed3.ym", "packed.ym5", "packed.ym6"}); }

TEST(TrackerModules, PlayTheWorkedExamplesAndEveryCommandAsTheirPlayers) { CheckGoodFiles({".stc", ".asc"}); }

// --- recognition ---------------------------------------------------------------------------

namespace {

const TuneReader* const AllReaders[] = {&PsgReader, &YmReader, &AyReader, &VtxReader, &LhaReader, &Pt3Reader,
                                        &Pt2Reader, &AscReader, &StcReader, &StpReader, &SqtReader};
const TuneReader* const ModuleReaders[] = {&AyReader, &Pt3Reader, &Pt2Reader, &AscReader, &StcReader, &StpReader, &SqtReader};

// The names of the readers whose detection accepts the bytes, joined by spaces.
template <size_t N>
std::string Takers(const TuneReader* const (&readers)[N], const uint8_t* bytes, size_t size) {
  std::string names;
  for (const TuneReader* reader : readers)
    if (reader->Detect(bytes, size)) names += std::string(names.empty() ? "" : " ") + reader->Name;
  return names;
}
std::string Takers(const std::vector<uint8_t>& b) { return Takers(AllReaders, b.data(), b.size()); }

// A file is taken by its own reader and no other: the reader whose name begins the format it
// reads as (LHA for a packed file); a file that is no tune (a dump, a text) by none.
void CheckTakenByItsOwnReaderOnly(const std::string& path, int* tunes) {
  SCOPED_TRACE(path);
  const std::vector<uint8_t> bytes = FileBytes(path);
  SourceTune tune;
  std::string why, want;
  if (ReadTune(bytes.data(), bytes.size(), &tune, &why) == 0) {
    ++*tunes;
    for (const TuneReader* reader : AllReaders)
      if (tune.Format.rfind(reader->Name, 0) == 0) want = reader->Name;
    if (tune.Format.find("LHA") != std::string::npos) want = "LHA";
  }
  EXPECT_EQ(Takers(bytes), want) << tune.Format;
}

}  // namespace

TEST(Recognition, EveryTestFileIsTakenByItsOwnReaderOnly) {
  int tunes = 0;
  for (const char* list : {"good.txt", "modules.txt", "modules_good.txt"})
    for (const std::string& name : ListFile(list)) CheckTakenByItsOwnReaderOnly(TunesDir() + "/" + name, &tunes);
  EXPECT_GE(tunes, 38 + 12 + 37);
  // Damaged modules that are still modules in shape stay with their reader, to be refused there.
  EXPECT_EQ(Takers(FileBytes(TunesDir() + "/orn_first.sqt")), "SQT");
  EXPECT_EQ(Takers(FileBytes(TunesDir() + "/player_sample.stp")), "STP");
  EXPECT_EQ(Takers(FileBytes(TunesDir() + "/cut.stp")), "");
}

// The shared test data: real modules and AY files by their own readers only, dumps by none.
TEST(Recognition, RealFilesAreTakenByTheirOwnReaderOnly) {
  int tunes = 0;
  for (const char* folder : {"trackers2", "trackers", "ay"}) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(SharedDir() + "/testdata/" + folder, error))
      CheckTakenByItsOwnReaderOnly(entry.path().string(), &tunes);
  }
  if (tunes == 0) GTEST_SKIP() << "no shared test data in " << SharedDir() << " (set TONEWELL_SHARED)";
  EXPECT_EQ(tunes, 4 + 10 + 15);
}

// Random bytes are no module: plain noise, noise with an SQT size word, and noise with a PT2
// header's fields in their ranges (PT2 has no magic: only its lists and offsets remain).
TEST(Recognition, RandomBytesAreNoModule) {
  uint32_t seed = 21;
  for (int i = 0; i < 20000; ++i) {
    std::vector<uint8_t> b(16 + (i * 7919) % 20000);
    for (uint8_t& x : b) x = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    ASSERT_EQ(Takers(ModuleReaders, b.data(), b.size()), "") << i;
  }
  std::mt19937 rng(2121);
  for (int i = 0; i < 20000; ++i) {
    std::vector<uint8_t> b(16 + rng() % 4000);
    for (uint8_t& x : b) x = static_cast<uint8_t>(rng());
    if (i % 2) b[0] = static_cast<uint8_t>(b.size()), b[1] = static_cast<uint8_t>(b.size() >> 8);
    ASSERT_EQ(Takers(ModuleReaders, b.data(), b.size()), "") << i;
  }
  seed = 1;
  std::vector<uint8_t> noise(4096);
  for (int32_t round = 0; round < 100000; ++round) {
    for (uint8_t& b : noise) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 23);
    if (round % 2) noise[0] = 6, noise[1] = 1, noise[2] = 0;
    ASSERT_EQ(Takers(ModuleReaders, noise.data(), 133 + round % 3000), "") << "round " << round;
  }
}

void CheckBadFiles(const char* list, size_t atLeast) {
  ASSERT_FALSE(TunesDir().empty());
  const std::vector<std::string> bad = ListFile(list);
  ASSERT_GE(bad.size(), atLeast);
  for (const std::string& line : bad) {
    const size_t tab = line.find('\t');
    const std::string name = line.substr(0, tab), reason = line.substr(tab + 1);
    SCOPED_TRACE(name);
    SourceTune tune;
    std::string why;
    EXPECT_EQ(ReadNamed(name, &tune, &why), -1);
    EXPECT_NE(why.find(reason), std::string::npos) << why;
    EXPECT_EQ(why.find('\n'), std::string::npos);
  }
}

TEST(BadInput, EveryMalformedFileIsRefusedWithItsReason) { CheckBadFiles("bad.txt", 20); }

TEST(BadInput, LongRunsAndHugeCountsStoreNoMoreThanTheDumpShows) {
  SourceTune tune;
  std::string why;
  ASSERT_EQ(ReadNamed("long.psg", &tune, &why), 0) << why;
  EXPECT_EQ(tune.FrameCount, 8 + 40 * 1020);
  EXPECT_EQ(tune.ShapeWritten.size(), static_cast<size_t>(MaxDumpFrames));
  // 1000 x "FE FF" declare 1020000 frames in 2 kB: counted, not stored.
  std::vector<uint8_t> runs = {'P', 'S', 'G', 0x1A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF};
  for (int i = 0; i < 1000; ++i) runs.insert(runs.end(), {0xFE, 0xFF});
  ASSERT_EQ(ReadTune(runs.data(), runs.size(), &tune, &why), 0) << why;
  EXPECT_EQ(tune.FrameCount, 1 + 1000 * 1020);
  EXPECT_EQ(tune.Registers.size(), static_cast<size_t>(MaxDumpFrames) * 14);
}

// The header's own size is checked against the file before the bytes it covers are read
// (a level-1 header claiming 200 bytes in a file of 40: found by lha_fuzz).
TEST(LhaReader, AHeaderLongerThanTheFileIsRefused) {
  std::vector<uint8_t> bytes(40, 0);
  bytes[0] = 200;
  const char method[] = "-lh5-";
  for (int i = 0; i < 5; ++i) bytes[2 + i] = static_cast<uint8_t>(method[i]);
  bytes[20] = 1;  // level 1
  bytes[21] = 1;  // name of one byte
  SourceTune tune;
  std::string why;
  EXPECT_EQ(ReadTune(bytes.data(), bytes.size(), &tune, &why), -1);
  EXPECT_NE(why.find("header points past the end"), std::string::npos) << why;
}

// --- conversion ----------------------------------------------------------------------------

namespace {

SourceTune MakeTune(int32_t frames, int32_t rate, int64_t clock) {
  SourceTune t;
  t.Format = "test";
  t.FrameCount = frames;
  t.Rate = rate;
  t.Clock = clock;
  t.Registers.assign(static_cast<size_t>(frames) * 14, 0);
  t.ShapeWritten.assign(static_cast<size_t>(frames), 0);
  return t;
}

void SetShape(SourceTune* t, int32_t frame, uint8_t shape) {
  t->Registers[static_cast<size_t>(frame) * 14 + 13] = shape;
  t->ShapeWritten[static_cast<size_t>(frame)] = 1;
}

DumpFrames Convert(const SourceTune& t, ConvertOptions options = {}) {
  DumpFrames d;
  std::string why;
  EXPECT_EQ(ConvertTune(t, options, &d, &why), 0) << why;
  return d;
}

uint8_t At(const DumpFrames& d, int64_t line, int32_t reg) { return d.Registers[static_cast<size_t>(line) * 14 + reg]; }

}  // namespace

TEST(ConvertTune, CutsEveryRegisterToItsChipWidth) {
  SourceTune t = MakeTune(1, 50, PLAYER_CHIP_CLOCK_HZ);
  for (int r = 0; r < 14; ++r) t.Registers[r] = 0xFF;
  t.ShapeWritten[0] = 1;
  const DumpFrames d = Convert(t);
  for (int r = 0; r < 14; ++r) EXPECT_EQ(At(d, 0, r), RegisterWidth[r]) << "R" << r;
}

TEST(ConvertTune, RescalesPeriodsRoundingHalfUpAndClamping) {
  struct Case {
    int64_t Clock;
    uint16_t Tone, Env;
    uint8_t Noise;
    uint16_t WantTone, WantEnv;
    uint8_t WantNoise;
  };
  const Case cases[] = {
      {2000000, 1000, 1000, 20, 875, 875, 18},         // 17.5 rounds up to 18
      {2000000, 1, 3, 1, 1, 3, 1},                     // 0.875 -> 1, 2.625 -> 3
      {1000000, 4095, 65535, 31, 4095, 65535, 31},     // doubled, clamped
      {1000000, 2340, 40000, 17, 4095, 65535, 30},     // 4095 exactly at 2340
      {3500000, 3, 5, 0, 2, 3, 0},                     // 1.5 -> 2, 2.5 -> 3, 0 stays 0
      {1773400, 0x123, 0x1234, 9, 287, 4599, 9},      // 4598.51 -> 4599
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Clock);
    SourceTune t = MakeTune(1, 50, c.Clock);
    uint8_t* r = t.Registers.data();
    r[0] = r[2] = r[4] = c.Tone & 0xFF;
    r[1] = r[3] = r[5] = c.Tone >> 8;
    r[6] = c.Noise;
    r[11] = c.Env & 0xFF;
    r[12] = c.Env >> 8;
    const DumpFrames d = Convert(t);
    for (int v = 0; v < 3; ++v) EXPECT_EQ(At(d, 0, 2 * v) | (At(d, 0, 2 * v + 1) << 8), c.WantTone);
    EXPECT_EQ(At(d, 0, 6), c.WantNoise);
    EXPECT_EQ(At(d, 0, 11) | (At(d, 0, 12) << 8), c.WantEnv);
    // --no-rescale and a clock of 1750000 keep the periods.
    EXPECT_EQ(At(Convert(t, ConvertOptions{0, true}), 0, 0), c.Tone & 0xFF);
    EXPECT_EQ(At(Convert(t, ConvertOptions{PLAYER_CHIP_CLOCK_HZ, false}), 0, 0), c.Tone & 0xFF);
  }
}

TEST(ConvertTune, ClockOptionOverridesTheFileAndAZeroClockIsRefused) {
  SourceTune t = MakeTune(1, 50, 0);
  t.Registers[0] = 200;
  DumpFrames d;
  std::string why;
  EXPECT_EQ(ConvertTune(t, ConvertOptions{}, &d, &why), -1);
  EXPECT_NE(why.find("--clock"), std::string::npos);
  EXPECT_EQ(At(Convert(t, ConvertOptions{3500000, false}), 0, 0), 100);
}

TEST(ConvertTune, SlowRatesRepeatFramesWithoutRepeatingShapes) {
  SourceTune t = MakeTune(3, 25, PLAYER_CHIP_CLOCK_HZ);
  for (int f = 0; f < 3; ++f) t.Registers[static_cast<size_t>(f) * 14] = static_cast<uint8_t>(10 + f);
  SetShape(&t, 0, 4);
  SetShape(&t, 2, 9);
  const DumpFrames d = Convert(t);
  ASSERT_EQ(d.Count, 6);
  const uint8_t tone[6] = {10, 10, 11, 11, 12, 12}, shape[6] = {4, 0xFF, 0xFF, 0xFF, 9, 0xFF};
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(At(d, k, 0), tone[k]) << k;
    EXPECT_EQ(At(d, k, 13), shape[k]) << k;
  }
}

TEST(ConvertTune, FastRatesKeepTheLastShapeOfTheSkippedFrames) {
  // 60 Hz: line k shows source frame floor(6k/5): 0 1 2 3 4 6 7 8 9 10 12 ...
  SourceTune t = MakeTune(12, 60, PLAYER_CHIP_CLOCK_HZ);
  for (int f = 0; f < 12; ++f) t.Registers[static_cast<size_t>(f) * 14] = static_cast<uint8_t>(f);
  SetShape(&t, 5, 1);   // skipped: carried by the line showing frame 6
  SetShape(&t, 6, 2);   // ... but frame 6's own write is the later one
  SetShape(&t, 11, 3);  // skipped, and no line after it: dropped
  SetShape(&t, 7, 8);
  const DumpFrames d = Convert(t);
  ASSERT_EQ(d.Count, 10);  // ceil(12 * 50 / 60)
  const uint8_t shown[10] = {0, 1, 2, 3, 4, 6, 7, 8, 9, 10};
  for (int k = 0; k < 10; ++k) EXPECT_EQ(At(d, k, 0), shown[k]) << k;
  EXPECT_EQ(At(d, 5, 13), 2);
  EXPECT_EQ(At(d, 6, 13), 8);
  EXPECT_EQ(At(d, 9, 13), 0xFF);
  SourceTune u = MakeTune(12, 60, PLAYER_CHIP_CLOCK_HZ);
  SetShape(&u, 5, 1);
  EXPECT_EQ(At(Convert(u), 5, 13), 1);
}

TEST(ConvertTune, CutsAtTheDumpCapacity) {
  const SourceTune t = MakeTune(MaxDumpFrames + 10, 50, PLAYER_CHIP_CLOCK_HZ);
  const DumpFrames d = Convert(t);
  EXPECT_EQ(d.Count, MaxDumpFrames);
  EXPECT_EQ(d.FullCount, MaxDumpFrames + 10);
  const DumpFrames exact = Convert(MakeTune(MaxDumpFrames, 50, PLAYER_CHIP_CLOCK_HZ));
  EXPECT_EQ(exact.Count, exact.FullCount);
}

TEST(DumpText, WritesUpperCaseHexWithCrLfAndFfForNoShape) {
  DumpFrames d;
  d.Count = 2;
  d.Registers = {0x3C, 0x01, 0x00, 0x02, 0xFE, 0x00, 0x1F, 0x38, 0x0F, 0x0E, 0x10, 0x00, 0x10, 0xFF,
                 0xab, 0x0c, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A};
  EXPECT_EQ(DumpText(d),
            "3C 01 00 02 FE 00 1F 38 0F 0E 10 00 10 FF\r\n"
            "AB 0C 01 00 00 00 00 00 00 00 00 00 00 0A\r\n");
}

// --- round trip -----------------------------------------------------------------------------

namespace {

uint8_t HexValue(const std::string& text, size_t at) { return static_cast<uint8_t>(std::stoi(text.substr(at, 2), nullptr, 16)); }

// A PSG log of the dump text's lines: every register each frame, R13 where the field is not FF.
std::vector<uint8_t> PsgOfDumpText(const std::string& text) {
  std::vector<uint8_t> psg = {'P', 'S', 'G', 0x1A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    EXPECT_EQ(line.size(), 42u);
    EXPECT_EQ(line.back(), '\r');
    psg.push_back(0xFF);
    for (uint8_t r = 0; r < 13; ++r) psg.insert(psg.end(), {r, HexValue(line, r * 3u)});
    if (line.substr(39, 2) != "FF") psg.insert(psg.end(), {13, HexValue(line, 39)});
  }
  return psg;
}

}  // namespace

TEST(RoundTrip, PsgThroughDumpTextGivesTheSameFrames) {
  for (const char* name : {"runs.psg", "prewrite.psg", "short.psg"}) {
    SCOPED_TRACE(name);
    SourceTune first, second;
    std::string why;
    ASSERT_EQ(ReadNamed(name, &first, &why), 0) << why;
    const ConvertOptions keep{0, true};
    DumpFrames d1, d2;
    ASSERT_EQ(ConvertTune(first, keep, &d1, &why), 0);
    const std::string text = DumpText(d1);
    const std::vector<uint8_t> psg = PsgOfDumpText(text);
    ASSERT_EQ(ReadTune(psg.data(), psg.size(), &second, &why), 0) << why;
    ASSERT_EQ(second.FrameCount, first.FrameCount);
    for (size_t f = 0; f < first.ShapeWritten.size(); ++f) {
      ASSERT_EQ(second.ShapeWritten[f], first.ShapeWritten[f]) << f;
      // The dump holds the registers cut to the chip's widths.
      for (int r = 0; r < 13; ++r) ASSERT_EQ(second.Registers[f * 14 + r], first.Registers[f * 14 + r] & RegisterWidth[r]);
    }
    ASSERT_EQ(ConvertTune(second, keep, &d2, &why), 0);
    EXPECT_EQ(DumpText(d2), text);
  }
}

// --- SQ-Tracker and Sound Tracker Pro (make_sqt_stp_modules.py) ------------------------------------

namespace {

// Reads the module and compares its frame count, loop frame and the frames NAME.want lists
// ("N f" for the --no-rescale dump, "N d" for the clock rule's).
void CheckWantedFrames(const std::string& name) {
  SCOPED_TRACE(name);
  const std::vector<uint8_t> bytes = FileBytes(TunesDir() + "/" + name);
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
  for (const std::string& want : ListFile(name + ".want")) {
    std::istringstream fields(want);
    std::string key, mode;
    fields >> key;
    if (key == "frames" || key == "loop") {
      int64_t k;
      fields >> k;
      EXPECT_EQ(key == "frames" ? tune.FrameCount : tune.LoopFrame, k) << key;
      continue;
    }
    const size_t k = std::stoul(key);
    fields >> mode;
    const std::vector<std::string>& got = text[mode == "d"];
    ASSERT_LT(k, got.size());
    EXPECT_EQ(got[k], want.substr(want.size() - 41)) << "frame " << k << (mode == "d" ? " (clock rule)" : "");
  }
}

int32_t CheckWantedFrames(bool worked) {
  int32_t checked = 0;
  for (const std::string& name : ListFile("modules.txt"))
    if ((name.rfind("worked_", 0) == 0) == worked) CheckWantedFrames(name), ++checked;
  return checked;
}

}  // namespace

TEST(TrackerModules, PlayEveryCommandAsWorkedOutByHand) { EXPECT_GE(CheckWantedFrames(false), 12); }

TEST(TrackerModules, WorkedExamplesOfTheTrackerDocument) {
  if (ListFile("worked.txt").empty()) GTEST_SKIP() << "trackers2.md not found (set TONEWELL_SHARED to the shared folder)";
  EXPECT_EQ(CheckWantedFrames(true), 4);
}

// --- Pro Tracker modules (make_pt_modules.py) ------------------------------------------------------

TEST(TrackerModules, WorkedExamplesAndGeneratedModulesGiveTheirFrames) {
  CheckGoodFiles({".pt3", ".pt2"}, "modules_good.txt");
}
TEST(TrackerModules, DamagedModulesAreRefusedWithTheirReason) { CheckBadFiles("modules_bad.txt", 12); }

// Every byte of these modules (but example 2's last three) is read while they play, so every
// shorter file is refused; a flipped byte gives a module that plays or is refused, never a read outside (ASan build).
TEST(TrackerModules, EveryTruncationIsRefusedAndEveryFlippedByteStaysInside) {
  int32_t cuts = 0;
  for (const std::string& name : ListFile("modules_good.txt")) {
    if (name.find("two_modules") != std::string::npos || name == "endless.pt3") continue;
    const std::vector<uint8_t> bytes = FileBytes(TunesDir() + "/" + name);
    std::string why;
    const size_t unread = name.rfind("ex2", 0) == 0 ? 3 : 0;  // example 2's ornament 0 is never selected
    for (size_t size = 1; size < bytes.size() - unread; ++size, ++cuts) {
      SourceTune tune;
      ASSERT_EQ(ReadTune(bytes.data(), size, &tune, &why), -1) << name << " cut to " << size;
      ASSERT_FALSE(why.empty());
    }
    for (size_t at = 0; name.rfind("ex", 0) == 0 && at < bytes.size(); ++at) {
      std::vector<uint8_t> flipped = bytes;
      flipped[at] ^= 0xFF;
      SourceTune tune;
      if (ReadTune(flipped.data(), flipped.size(), &tune, &why) != 0) {
        EXPECT_EQ(why.find('\n'), std::string::npos);
      }
    }
  }
  EXPECT_GT(cuts, 5000);
}

// PT2 has no magic: its structural checks turn down the dump text of every other format.
TEST(Pt2Reader, TurnsDownDumpText) {
  int32_t checked = 0;
  for (const std::string& name : ListFile("good.txt")) {
    SourceTune tune;
    std::string why;
    ASSERT_EQ(ReadNamed(name, &tune, &why), 0);
    DumpFrames dump;
    ASSERT_EQ(ConvertTune(tune, ConvertOptions{}, &dump, &why), 0);
    const std::string text = DumpText(dump);
    EXPECT_FALSE(Pt2Reader.Detect(reinterpret_cast<const uint8_t*>(text.data()), text.size())) << name << " as dump";
    ++checked;
  }
  EXPECT_GT(checked, 20);
}

// The note tables (5.3) and volume tables (6) as the tracker document prints them, read from
// TONEWELL_SHARED/trackers.md (the environment's, else the build's).
TEST(TrackerTables, EqualTheTablesOfTheTrackerDocument) {
  const std::string shared = SharedDir();
  std::ifstream in(shared + "/trackers.md");
  if (!in) GTEST_SKIP() << "no trackers.md in " << shared << " (set TONEWELL_SHARED)";
  struct Heading { const char* Text; int32_t Table; bool Old; bool Volume; };
  const Heading headings[] = {{"#### T0-old", 0, true, false}, {"#### T0-new", 0, false, false}, {"#### T1:", 1, false, false},
                              {"#### T2-old", 2, true, false}, {"#### T2-new", 2, false, false}, {"#### T3-old", 3, true, false},
                              {"#### T3-new", 3, false, false}, {"#### VOL-OLD", 0, true, true}, {"#### VOL-NEW", 0, false, true}};
  const Heading* current = nullptr;
  std::vector<uint32_t> values;
  int32_t compared = 0;
  auto finish = [&] {
    if (!current) return;
    SCOPED_TRACE(current->Text);
    if (current->Volume) {
      uint8_t vol[16][16];
      BuildVolumeTable(current->Old, vol);
      ASSERT_EQ(values.size(), 256u);
      for (size_t i = 0; i < 256; ++i) EXPECT_EQ(vol[i / 16][i % 16], values[i]) << "volume " << i / 16 << " level " << i % 16;
    } else {
      uint16_t notes[PT_NOTES];
      BuildNoteTable(current->Table, current->Old, notes);
      ASSERT_EQ(values.size(), static_cast<size_t>(PT_NOTES));
      for (int32_t n = 0; n < PT_NOTES; ++n) EXPECT_EQ(notes[n], values[n]) << "note " << n;
    }
    ++compared;
  };
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("#", 0) == 0) {
      finish();
      current = nullptr;
      values.clear();
      for (const Heading& h : headings)
        if (line.rfind(h.Text, 0) == 0) current = &h;
      continue;
    }
    // Table rows: "| first cell | v | v | ..." with the first cell a row label.
    if (!current || line.rfind("| ", 0) != 0 || line.find("---") != std::string::npos || line.find("+0") != std::string::npos ||
        line.find("level") != std::string::npos)
      continue;
    std::stringstream cells(line.substr(line.find('|', 1) + 1));
    for (std::string cell; std::getline(cells, cell, '|');)
      if (cell.find_first_not_of(' ') != std::string::npos) values.push_back(std::stoul(cell, nullptr, current->Volume ? 10 : 16));
  }
  finish();
  EXPECT_EQ(compared, 9);
}
