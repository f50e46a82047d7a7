// SPDX-License-Identifier: GPL-2.0-or-later
#include "chip_fixture.h"

namespace {

// Table indices returned by the first n steps of shape after a shape write.
std::vector<int32_t> Steps(int32_t shape, int n) {
  WriteGroup(9, shape);
  std::vector<int32_t> indices;
  for (int i = 0; i < n; ++i) {
    float level = App.Chip.EnvelopeStepper();
    EXPECT_GE(App.Chip.EnvelopeIndex, 0);
    EXPECT_LE(App.Chip.EnvelopeIndex, 31);
    EXPECT_EQ(level, App.Chip.VolumeTable[App.Chip.EnvelopeIndex]);
    indices.push_back(App.Chip.EnvelopeIndex);
  }
  return indices;
}

std::vector<int32_t> Ramp(int32_t from, int32_t to) {
  std::vector<int32_t> r;
  for (int32_t i = from; from <= to ? i <= to : i >= to; i += from <= to ? 1 : -1) r.push_back(i);
  return r;
}

std::vector<int32_t> Join(std::initializer_list<std::vector<int32_t>> parts) {
  std::vector<int32_t> all;
  for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace

using Envelope = ChipTest;

TEST_F(Envelope, VolumeTableHoldsTheBuiltInLevels) {
  const float expected[32] = {0,    30,   190,  286,  375,   470,   560,   664,   866,   1130,  1515,
                              1803, 2253, 2848, 3351, 3862,  4844,  6058,  7290,  8559,  10474, 12878,
                              15297, 17787, 21500, 26172, 30866, 35676, 42664, 50986, 58842, 65535};
  for (int i = 0; i < 32; ++i) EXPECT_EQ(App.Chip.VolumeTable[i], expected[i]) << i;
}

TEST_F(Envelope, EveryShapeWalksItsSequence) {
  const auto down = Ramp(31, 0), up = Ramp(0, 31);
  struct { std::vector<int32_t> shapes; std::vector<int32_t> walk; } rows[] = {
      {{0, 1, 2, 3, 9}, Join({down, {0, 0, 0}})},
      {{4, 5, 6, 7, 15}, Join({up, {0, 0, 0}})},
      {{8}, Join({down, down, {31}})},
      {{10}, Join({down, up, down, {0, 1}})},
      {{11}, Join({down, {31, 31, 31}})},
      {{12}, Join({up, up, {0}})},
      {{13}, Join({up, {31, 31, 31}})},
      {{14}, Join({up, down, up, {31, 30}})},
  };
  for (auto& row : rows)
    for (int32_t shape : row.shapes)
      EXPECT_EQ(Steps(shape, static_cast<int>(row.walk.size())), row.walk) << "shape " << shape;
}

TEST_F(Envelope, HighBitsOfTheShapeAreIgnoredAndRewritingRestarts) {
  EXPECT_EQ(Steps(0xF8, 3), (std::vector<int32_t>{31, 30, 29}));
  EXPECT_EQ(Steps(8, 2), (std::vector<int32_t>{31, 30}));
}

TEST_F(Envelope, TrianglesNeverLeaveTheTable) {
  for (int32_t shape : {10, 14}) {
    auto walk = Steps(shape, 64 * 50 + 1);
    for (size_t i = 64; i < walk.size(); ++i) ASSERT_EQ(walk[i], walk[i - 64]) << shape;
  }
}
