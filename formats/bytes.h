// SPDX-License-Identifier: GPL-2.0-or-later
// Bounded byte reads for the readers: every field is read through these, after a size check.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

inline uint32_t Le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t Be16(const uint8_t* p) { return (p[0] << 8) | p[1]; }
inline uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

// Reads the NUL-terminated string at *at into text and moves *at past its NUL. False (and
// *at unchanged) when no NUL comes before size.
inline bool ReadCString(const uint8_t* bytes, size_t size, size_t* at, std::string* text) {
  for (size_t i = *at; i < size; ++i) {
    if (bytes[i] == 0) {
      text->assign(reinterpret_cast<const char*>(bytes + *at), i - *at);
      *at = i + 1;
      return true;
    }
  }
  return false;
}
