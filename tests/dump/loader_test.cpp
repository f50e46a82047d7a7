// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/app_context.h"
#include "dump/dump_loader.h"
#include "platform/heap.h"
#include "temp_file.h"

namespace {

class Loader : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearAppContext();
    App.Heaps.Heap = CreatePrivateHeap(4096);
    ConfigureDump();
  }
  void TearDown() override {
    DestroyPrivateHeap(App.Heaps.Heap);
    App.Heaps.Heap = nullptr;  // later suites allocate from App.Heaps.Heap: never from a destroyed heap
  }

  int32_t Load(const std::string& bytes) {
    TempFile temp(bytes);
    return LoadDumpFile(temp.Path.c_str());
  }
  std::vector<int32_t> Frame(int32_t f) {
    std::vector<int32_t> rows;
    for (int32_t r = 0; r < 10; ++r) rows.push_back(App.Dump.RegisterDump[DumpIndex(r, f)]);
    return rows;
  }
};

using Rows = std::vector<int32_t>;

}  // namespace

TEST(HexFields, ReadFirstAndLastCharacterOnly) {
  struct { const char* field; int32_t value; } rows[] = {
      {"0F", 15}, {"ff", 255}, {"FF", 255}, {"3c", 60}, {"7", 119}, {"123", 19}, {"", -816},
      {"G0", 256}, {"z", 35 * 16 + 35}, {" 1", (32 - 48) * 16 + 1}, {"\xE1" "0", (193 - 48 - 7) * 16},
  };
  for (auto& row : rows) EXPECT_EQ(HexByte(row.field), row.value) << '"' << row.field << '"';
  EXPECT_EQ(HexPair("3C", "01"), 0x13C);
  EXPECT_EQ(HexPair("3C", ""), 0x3C);
  EXPECT_EQ(HexPair("", "01"), 256 - 816);
  EXPECT_EQ(HexPair("", ""), -816);
}

TEST_F(Loader, ExampleLineFillsOneFrame) {
  ASSERT_EQ(Load("3C 01 00 02 FE 00 1F 38 0F 0E 10 00 10 FF\n"), 0);
  EXPECT_EQ(App.Dump.FrameCount, 1);
  EXPECT_EQ(Frame(0), (Rows{316, 512, 254, 31, 56, 15, 14, 16, 4096, 255}));
  EXPECT_EQ(App.Dump.RegisterDump[DumpIndex(10, 0)], 0);
  EXPECT_EQ(Frame(1), (Rows(10, 0)));
}

TEST_F(Loader, MalformedLinesAreReadByFixedRules) {
  ASSERT_EQ(Load("   01 02 03 04 05 06 07 08 09 0A 0B 0C 0D   \n"   // 13 fields, padded
                 "\n      \n"                                       // blank lines add no frame
                 "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D  0E\n"     // two spaces push field 14 out
                 "1 a\t 3 \n"                                       // short fields and a tab
                 "00 00 00 00 00 00 00 00 00 00 00 00 00 0F 77 88 99\n"),
            0);
  EXPECT_EQ(App.Dump.FrameCount, 4);
  EXPECT_EQ(Frame(0), (Rows{0x201, 0x403, 0x605, 7, 8, 9, 10, 11, 0xD0C, -816}));
  EXPECT_EQ(Frame(1), (Rows{0x201, 0x403, 0x605, 7, 8, 9, 10, 11, 0xD0C, -816}));
  // Field 1 "1" is 0x11; field 2 "a\t" reads 'A' and a tab; field 3 "3" with no high field.
  EXPECT_EQ(Frame(2)[0], ((10 * 16 + (9 - 48)) * 256) + 0x11);
  EXPECT_EQ(Frame(2)[1], 0x33);
  EXPECT_EQ(Frame(2)[2], -816);
  EXPECT_EQ(Frame(2)[9], -816);
  EXPECT_EQ(Frame(3)[9], 15);
}

TEST_F(Loader, OnlyBlankLinesOrAnEmptyFileLoadNothing) {
  ASSERT_EQ(Load("\n  \r\n\r   \n"), 0);
  EXPECT_EQ(App.Dump.FrameCount, 0);
  ASSERT_EQ(Load(""), 0);
  EXPECT_EQ(App.Dump.FrameCount, 0);
  EXPECT_EQ(LoadDumpFile("/nonexistent/dump.txt"), -1);
  EXPECT_EQ(App.Dump.FrameCount, 0);
}

TEST_F(Loader, TableFillsExactlyAndLaterLinesAreNotStored) {
  std::string bytes;
  for (int32_t f = 0; f < MaxDumpFrames + 300; ++f) {
    char line[64];
    std::snprintf(line, sizeof line, "%02X %02X 00 00 00 00 00 00 00 00 00 00 00 FF\r\n", f & 0xFF, (f >> 8) & 0xFF);
    bytes += line;
  }
  ASSERT_EQ(Load(bytes), 0);
  EXPECT_EQ(App.Dump.FrameCount, MaxDumpFrames);
  EXPECT_EQ(App.Dump.RegisterDump[DumpIndex(0, MaxDumpFrames - 1)], (MaxDumpFrames - 1) & 0xFFFF);
  // Row 10 is never written, even by lines past the table.
  for (int32_t f = 0; f < MaxDumpFrames; ++f) ASSERT_EQ(App.Dump.RegisterDump[DumpIndex(10, f)], 0) << f;
}

TEST_F(Loader, DumpLoaderReadsTheDefaultNameWithBackslash) {
  char dir[] = "/tmp/tonewell-dir-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string music = std::string(dir) + "/music";
  ASSERT_EQ(::mkdir(music.c_str(), 0700), 0);
  {
    FILE* f = std::fopen((music + "/dump.txt").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("01 00 00 00 00 00 00 00 00 00 00 00 00 FF\n02 00 00 00 00 00 00 00 00 00 00 00 00 FF\n", f);
    std::fclose(f);
  }
  char previous[4096];
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(::chdir(dir), 0);
  EXPECT_STREQ(App.Dump.DumpFileName, "music\\dump.txt");
  EXPECT_EQ(DumpLoader(), 0);
  EXPECT_EQ(App.Dump.FrameCount, 2);
  ASSERT_EQ(::chdir(previous), 0);
  std::remove((music + "/dump.txt").c_str());
  ::rmdir(music.c_str());
  ::rmdir(dir);
}

// Dump text held in memory loads exactly as the same bytes in a file: every line ending, blank
// lines, odd fields, a last line without an ending, and the table's capacity.
TEST_F(Loader, TextInMemoryLoadsAsTheSameFile) {
  std::string capacity;
  for (int32_t i = 0; i < MaxDumpFrames + 5; ++i) capacity += (i % 3 ? "01 02\r\n" : "a3 7\n");
  const std::string texts[] = {
      "3C 01 00 02 FE 00 1F 38 0F 0E 10 00 10 FF\r\n  \r\n0F  0E\r\r\n1 2 3\n",
      std::string("00 11\0" "22 33\r" "44", 14),
      "",
      "no ending 12 34",
      capacity,
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 40));
    ASSERT_EQ(Load(text), 0);
    const int32_t fromFile = App.Dump.FrameCount;
    std::vector<Rows> fileFrames;
    for (int32_t f = 0; f < fromFile + 2 && f < MaxDumpFrames; ++f) fileFrames.push_back(Frame(f));
    TearDown();
    SetUp();
    ASSERT_EQ(LoadDumpText(text.data(), static_cast<int32_t>(text.size())), 0);
    ASSERT_EQ(App.Dump.FrameCount, fromFile);
    for (int32_t f = 0; f < static_cast<int32_t>(fileFrames.size()); ++f) ASSERT_EQ(Frame(f), fileFrames[f]) << f;
    TearDown();
    SetUp();
  }
}
