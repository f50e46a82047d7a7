// SPDX-License-Identifier: GPL-2.0-or-later
// A stand-in for tonewell and tonewell-convert, so that tonewell-play.exe can be checked
// under Wine without them. Copied under either name; what it does depends on the name:
//   tonewell-convert IN OUT: FAKE_CONVERT=fail prints a message and exits 1, else writes
//     "converted IN" to OUT;
//   tonewell: appends its working directory and the first line of music\dump.txt to the
//     file FAKE_LOG, then exits with FAKE_PLAYER_EXIT (default 0).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const bool converter = std::strstr(self, "tonewell-convert") != nullptr;
  if (converter) {
    const char* mode = std::getenv("FAKE_CONVERT");
    if (argc != 3) return 2;
    if (mode && std::strcmp(mode, "fail") == 0) {
      std::fprintf(stderr, "tonewell-convert: %s: not a music file\n", argv[1]);
      return 1;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) return 1;
    std::fprintf(out, "converted %s\r\n", argv[1]);
    return std::fclose(out) == 0 ? 0 : 1;
  }
  char cwd[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, cwd);
  char line[256] = "";
  if (std::FILE* dump = std::fopen("music\\dump.txt", "rb")) {
    if (!std::fgets(line, sizeof line, dump)) line[0] = '\0';
    std::fclose(dump);
  }
  line[std::strcspn(line, "\r\n")] = '\0';
  if (const char* logName = std::getenv("FAKE_LOG")) {
    if (std::FILE* log = std::fopen(logName, "ab")) {
      std::fprintf(log, "cwd %s\ndump %s\nargs %d\n", cwd, line, argc - 1);
      std::fclose(log);
    }
  }
  const char* code = std::getenv("FAKE_PLAYER_EXIT");
  return code ? std::atoi(code) : 0;
}
