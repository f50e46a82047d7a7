// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/tool_args.h"

#include <cstdio>
#include <cstring>

#include "tonewell_version.h"

bool AnswerStandardOption(const ToolHelp& tool, const char* arg) {
  if (std::strcmp(arg, "--version") == 0) {
    std::printf("%s %s\n", tool.Name, TONEWELL_VERSION);
  } else if (std::strcmp(arg, "--help") == 0) {
    std::printf("usage: %s\n%s\n\n", tool.Usage, tool.Summary);
    if (tool.Options) std::fputs(tool.Options, stdout);
    std::printf("  --help              print this help and exit\n"
                "  --version           print the version and exit\n");
  } else {
    return false;
  }
  std::fflush(stdout);
  return true;
}

int ToolUsageError(const ToolHelp& tool, const char* why) {
  std::fprintf(stderr, "%s: %s\nusage: %s\n", tool.Name, why, tool.Usage);
  return 2;
}

const char* ToolVersion() { return TONEWELL_VERSION; }

DigitsResult ParseDigits(const char* text, long long limit, long long* value) {
  if (!*text) return DIGITS_EMPTY;
  long long sum = 0;
  for (const char* at = text; *at; ++at) {
    if (*at < '0' || *at > '9') return DIGITS_NOT_DIGIT;
    sum = sum * 10 + (*at - '0');
    if (sum > limit) return DIGITS_OVER_LIMIT;
  }
  *value = sum;
  return DIGITS_OK;
}
