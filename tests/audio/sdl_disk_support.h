// SPDX-License-Identifier: GPL-2.0-or-later
// What the SDL disk-driver tests share: reading the driver's file and the offline render that
// the sound it captured must equal. TONEWELL_RENDER_PATH and TONEWELL_DUMP_PATH come from the
// build.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The whole file at path; empty when it cannot be read.
inline std::vector<unsigned char> ReadWhole(const std::string& path) {
  std::vector<unsigned char> bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    unsigned char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(f);
  }
  return bytes;
}

// tonewell-render's raw frames of the bundled dump at level, frames long, made in dir and
// removed again.
inline std::vector<unsigned char> OfflineRender(const std::string& dir, int64_t frames, float level) {
  const std::string out = dir + "/offline.raw";
  char levelText[32];
  std::snprintf(levelText, sizeof levelText, "%.9g", static_cast<double>(level));
  const std::string command = std::string("'") + TONEWELL_RENDER_PATH + "' --frames " + std::to_string(frames) +
                              " --level " + levelText + " '" + TONEWELL_DUMP_PATH + "' '" + out + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::vector<unsigned char> bytes = ReadWhole(out);
  std::remove(out.c_str());
  return bytes;
}
