// SPDX-License-Identifier: GPL-2.0-or-later
#include "dump/text.h"

std::string TrimSpaces(std::string_view text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::string();
  size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

std::string TextField(std::string_view text, int32_t index, std::string_view separator) {
  if (index < 1) index = 1;
  if (separator.empty()) return index == 1 ? std::string(text) : std::string();
  const char mark = separator[0];
  size_t start = 0;
  for (int32_t field = 1;; ++field) {
    size_t end = text.find(mark, start);
    if (field == index) return std::string(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return std::string();
    start = end + 1;
  }
}

void SplitFields(std::string_view text, char separator, std::string_view* fields, int32_t count) {
  size_t start = 0;
  int32_t i = 0;
  for (; i < count && start <= text.size(); ++i) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    fields[i] = text.substr(start, end - start);
    start = end + 1;
  }
  for (; i < count; ++i) fields[i] = std::string_view();
}

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(UpperCode(static_cast<unsigned char>(c)));
  return upper;
}

std::string LeftChars(std::string_view text, int32_t count) {
  if (count < 0) count = 0;
  return std::string(text.substr(0, static_cast<size_t>(count)));
}

std::string RightChars(std::string_view text, int32_t count) {
  if (count < 0) count = 0;
  size_t n = static_cast<size_t>(count) < text.size() ? static_cast<size_t>(count) : text.size();
  return std::string(text.substr(text.size() - n));
}

int32_t CharCode(std::string_view text) {
  return text.empty() ? 0 : static_cast<unsigned char>(text[0]);
}

int32_t TextLength(std::string_view text) { return static_cast<int32_t>(text.size()); }

std::string IntToText(int32_t value) {
  // Through 64 bits, so that -2147483648 has a magnitude.
  int64_t magnitude = value < 0 ? -static_cast<int64_t>(value) : value;
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  std::string text;
  if (value < 0) text.push_back('-');
  while (n) text.push_back(digits[--n]);
  return text;
}

std::string Concat(std::initializer_list<std::string_view> texts) {
  std::string joined;
  for (std::string_view t : texts) joined.append(t);
  return joined;
}
