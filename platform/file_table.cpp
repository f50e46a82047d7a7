// SPDX-License-Identifier: GPL-2.0-or-later
// The table of open files. Only the main thread opens and closes files.
#include "platform/file.h"

#include <algorithm>
#include <vector>

namespace {
std::vector<FileHandle> OpenFiles;
}

void StartFileServices() {
  OpenFiles.clear();
  OpenFiles.reserve(16);
}

void RegisterOpenFile(FileHandle file) {
  if (file != INVALID_FILE) OpenFiles.push_back(file);
}

void ForgetOpenFile(FileHandle file) {
  auto at = std::find(OpenFiles.begin(), OpenFiles.end(), file);
  if (at != OpenFiles.end()) OpenFiles.erase(at);
}

void CloseAllOpenFiles() {
  for (FileHandle file : OpenFiles) CloseFileHandle(file);
  OpenFiles.clear();
}
