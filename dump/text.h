// SPDX-License-Identifier: GPL-2.0-or-later
// Text operations for the dump parser and the status texts. A text is a string of 8-bit codes
// 1..255; an empty std::string stands for a missing text.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

// Removes every space (code 32) at both ends; tabs, CR and LF stay.
std::string TrimSpaces(std::string_view text);
// Field number index (below 1 counts as 1) of text split at every occurrence of the first
// character of separator; empty when there are fewer fields. An empty separator: text is field 1.
std::string TextField(std::string_view text, int32_t index, std::string_view separator);
// Fields 1..count of text split at separator, as TextField numbers them, in one pass:
// fields[i - 1] is field i (empty past the last field). They view into text.
void SplitFields(std::string_view text, char separator, std::string_view* fields, int32_t count);
// Lowers codes 97..122 and 224..255 by 32; every other code stays.
std::string UpperCase(std::string_view text);
// UpperCase of a single code 0..255.
inline int32_t UpperCode(int32_t code) { return (code >= 97 && code <= 122) || code >= 224 ? code - 32 : code; }
// The first / last count characters; count is clamped to 0..length.
std::string LeftChars(std::string_view text, int32_t count);
std::string RightChars(std::string_view text, int32_t count);
// Code of the first character, 0..255; 0 for the empty text.
int32_t CharCode(std::string_view text);
int32_t TextLength(std::string_view text);
// Plain decimal, "-" before negatives, "0" for zero.
std::string IntToText(int32_t value);
// The texts joined in order.
std::string Concat(std::initializer_list<std::string_view> texts);
