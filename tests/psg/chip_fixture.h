// SPDX-License-Identifier: GPL-2.0-or-later
// A freshly configured chip, reset, at full gain.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "app/app_context.h"
#include "psg/psg.h"

struct Frame {
  int16_t Left, Right;
  bool operator==(const Frame& o) const { return Left == o.Left && Right == o.Right; }
};

inline std::ostream& operator<<(std::ostream& os, const Frame& f) {
  return os << "(" << f.Left << ", " << f.Right << ")";
}

inline Frame RenderOne() {
  unsigned char bytes[4];
  RenderFrame(bytes);
  return Frame{static_cast<int16_t>(bytes[0] | bytes[1] << 8), static_cast<int16_t>(bytes[2] | bytes[3] << 8)};
}

inline std::vector<Frame> Render(int n) {
  std::vector<Frame> frames;
  for (int i = 0; i < n; ++i) frames.push_back(RenderOne());
  return frames;
}

inline uint32_t FloatBits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return bits;
}

class ChipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearAppContext();
    ConfigureChip(44100);
    ResetChip();
  }
  void FilterOff() { App.Chip.FilterEnabled = 0; }
  void Write(std::initializer_list<std::pair<int32_t, int32_t>> writes) {
    for (auto& w : writes) WriteGroup(w.first, w.second);
  }
};
