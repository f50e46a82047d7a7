// SPDX-License-Identifier: GPL-2.0-or-later
// Writes bytes to a fresh file under the test temp directory; removed when it goes out of scope.
#pragma once
#include <cstdio>
#include <string>
#include <unistd.h>

struct TempFile {
  std::string Path;
  explicit TempFile(const std::string& bytes) {
    const char* dir = std::getenv("TMPDIR");
    char pattern[512];
    std::snprintf(pattern, sizeof pattern, "%s/tonewell-XXXXXX", dir && *dir ? dir : "/tmp");
    int fd = ::mkstemp(pattern);
    Path = pattern;
    size_t done = 0;
    while (fd >= 0 && done < bytes.size()) {
      ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (fd >= 0) ::close(fd);
  }
  ~TempFile() { std::remove(Path.c_str()); }
};
