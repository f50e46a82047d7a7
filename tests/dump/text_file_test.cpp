// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_context.h"
#include "dump/text_file.h"
#include "temp_file.h"

namespace {

// All lines of bytes read the way the loader reads them, with the given buffer size.
std::vector<std::string> Lines(const std::string& bytes, int32_t bufferSize = TEXT_FILE_BUFFER_SIZE) {
  TempFile temp(bytes);
  TextFile* file = OpenTextFileBuffered(temp.Path.c_str(), bufferSize);
  EXPECT_NE(file, nullptr);
  std::vector<std::string> lines;
  while (file && !AtEndOfFile(file)) lines.push_back(ReadLine(file));
  if (file) {
    EXPECT_EQ(ReadLine(file), "");
    CloseTextFile(file);
  }
  return lines;
}

using L = std::vector<std::string>;

}  // namespace

TEST(TextFile, EveryLineEndingSplitsAndAFinalOneAddsNoLine) {
  const std::string nul(1, '\0');
  struct { std::string bytes; L lines; } rows[] = {
      {"A\r\nB", {"A", "B"}}, {"A\nB", {"A", "B"}}, {"A\rB", {"A", "B"}}, {"A" + nul + "B", {"A", "B"}},
      {"A\nB\n", {"A", "B"}}, {"A\n\rB", {"A", "", "B"}}, {"A\r\r\nB", {"A", "", "B"}}, {"A\rB\r", {"A", "B"}},
      {"", {}}, {"\n", {""}}, {"\r\n\r\n", {"", ""}}, {"x\xC8\xFF\tz", {"x\xC8\xFF\tz"}},
  };
  for (int32_t size : {TEXT_FILE_BUFFER_SIZE, 1, 2, 3, 0})
    for (auto& row : rows) EXPECT_EQ(Lines(row.bytes, size), row.lines) << "buffer " << size;
}

TEST(TextFile, LongLinesAndRefillBoundaries) {
  const std::string long_line(10000, 'x');
  EXPECT_EQ(Lines(long_line), L{long_line});
  // A CR LF pair split across the 4096-byte refill, and a line straddling it.
  const std::string head(4095, 'a');
  EXPECT_EQ(Lines(head + "\r\nB"), (L{head, "B"}));
  EXPECT_EQ(Lines(head + "\rB"), (L{head, "B"}));
  EXPECT_EQ(Lines(std::string(4000, 'c') + "\n" + std::string(200, 'd') + "\nE"),
            (L{std::string(4000, 'c'), std::string(200, 'd'), "E"}));
  EXPECT_EQ(Lines(head + "\r"), L{head});
}

TEST(TextFile, MissingFileOrDirectoryDoesNotOpen) {
  EXPECT_EQ(OpenTextFile("/nonexistent/tonewell/dump.txt"), nullptr);
  EXPECT_EQ(OpenTextFile("/tmp"), nullptr);
  EXPECT_EQ(OpenTextFile(""), nullptr);
}
