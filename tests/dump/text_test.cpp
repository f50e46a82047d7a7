// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "dump/text.h"

TEST(Text, FieldsSplitAtEverySeparator) {
  struct { const char* text; int32_t index; const char* separator; const char* field; } rows[] = {
      {"a b c", 1, " ", "a"}, {"a b c", 2, " ", "b"}, {"a b c", 3, " ", "c"}, {"a b c", 4, " ", ""},
      {"a b c", 0, " ", "a"}, {"a b c", -5, " ", "a"}, {"a  b", 2, " ", ""}, {"a  b", 3, " ", "b"},
      {" a", 1, " ", ""}, {"a ", 2, " ", ""}, {"a ", 3, " ", ""}, {"a b/c", 2, " /", "b/c"},
      {"a b", 1, "", "a b"}, {"a b", 2, "", ""}, {"", 1, " ", ""}, {"", 2, " ", ""},
      {"a\tb c", 1, " ", "a\tb"},
  };
  for (auto& row : rows)
    EXPECT_EQ(TextField(row.text, row.index, row.separator), row.field)
        << '"' << row.text << "\" " << row.index << " \"" << row.separator << '"';
}

TEST(Text, TrimRemovesOnlySpaces) {
  EXPECT_EQ(TrimSpaces("  a b  "), "a b");
  EXPECT_EQ(TrimSpaces("\ta "), "\ta");
  EXPECT_EQ(TrimSpaces(" a\r"), "a\r");
  EXPECT_EQ(TrimSpaces("    "), "");
  EXPECT_EQ(TrimSpaces(""), "");
}

TEST(Text, UpperCaseRaisesAsciiAndTheHighBlock) {
  EXPECT_EQ(UpperCase("a3ff"), "A3FF");
  EXPECT_EQ(UpperCase("az{`@AZ"), "AZ{`@AZ");
  const std::string high = {static_cast<char>(247), static_cast<char>(255), static_cast<char>(224),
                            static_cast<char>(223), static_cast<char>(200)};
  const std::string raised = {static_cast<char>(215), static_cast<char>(223), static_cast<char>(192),
                              static_cast<char>(223), static_cast<char>(200)};
  EXPECT_EQ(UpperCase(high), raised);
}

TEST(Text, LeftRightAndCodesClampAndStayUnsigned) {
  EXPECT_EQ(LeftChars("", 3), "");
  EXPECT_EQ(LeftChars("123", 0), "");
  EXPECT_EQ(LeftChars("123", -2), "");
  EXPECT_EQ(LeftChars("123", 2), "12");
  EXPECT_EQ(LeftChars("123", 9), "123");
  EXPECT_EQ(RightChars("", 1), "");
  EXPECT_EQ(RightChars("123", 0), "");
  EXPECT_EQ(RightChars("123", 1), "3");
  EXPECT_EQ(RightChars("123", 9), "123");
  EXPECT_EQ(CharCode(""), 0);
  EXPECT_EQ(CharCode(std::string(1, static_cast<char>(200)) + "x"), 200);
  EXPECT_EQ(TextLength(""), 0);
  EXPECT_EQ(TextLength("abc"), 3);
}

TEST(Text, NumbersAndJoining) {
  EXPECT_EQ(IntToText(0), "0");
  EXPECT_EQ(IntToText(42), "42");
  EXPECT_EQ(IntToText(-7), "-7");
  EXPECT_EQ(IntToText(INT_MAX), "2147483647");
  EXPECT_EQ(IntToText(INT_MIN), "-2147483648");
  EXPECT_EQ(Concat({"Playing: ", "3", " / ", "7"}), "Playing: 3 / 7");
  EXPECT_EQ(Concat({"", "A: ", ""}), "A: ");
}

TEST(Text, OnePassSplitAgreesWithFieldByField) {
  // Random texts over a small alphabet rich in separators.
  uint32_t seed = 12345;
  const char alphabet[] = {' ', ' ', 'a', 'B', '\t', '0'};
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    seed = seed * 1103515245u + 12345u;
    const int length = static_cast<int>(seed >> 16) % 24;
    for (int i = 0; i < length; ++i) {
      seed = seed * 1103515245u + 12345u;
      text.push_back(alphabet[(seed >> 16) % sizeof alphabet]);
    }
    std::string_view fields[16];
    SplitFields(text, ' ', fields, 16);
    for (int32_t i = 1; i <= 16; ++i) ASSERT_EQ(fields[i - 1], TextField(text, i, " ")) << '"' << text << "\" " << i;
  }
}
