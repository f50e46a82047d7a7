// SPDX-License-Identifier: GPL-2.0-or-later
// Whole-file input over Win32 handles.
#include "platform/whole_file.h"

#include <sys/stat.h>
#include <windows.h>

namespace {

std::string SystemMessage(DWORD code) {
  char text[256];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) --n;
  return n > 0 ? std::string(text, n) : "error " + std::to_string(code);
}

}  // namespace

const char* NotRegularFileReason(const char* path) {
  struct stat info;
  if (::stat(path, &info) != 0) return nullptr;
  if (S_ISDIR(info.st_mode)) return "is a directory";
  return S_ISREG(info.st_mode) ? nullptr : "is not a regular file";
}

int32_t ReadRegularFile(const char* path, int64_t maxBytes, std::vector<uint8_t>* bytes, std::string* why) {
  bytes->clear();
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *why = "is a directory";
    return -1;
  }
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *why = SystemMessage(GetLastError());
    return -1;
  }
  LARGE_INTEGER size;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
    *why = "is not a regular file";
    CloseHandle(file);
    return -1;
  }
  if (size.QuadPart > maxBytes) {
    *why = "is larger than " + std::to_string(maxBytes) + " bytes";
    CloseHandle(file);
    return -1;
  }
  bytes->resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes->size()) {
    DWORD got = 0;
    const size_t left = bytes->size() - done;
    const DWORD ask = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    if (!ReadFile(file, bytes->data() + done, ask, &got, nullptr)) {
      *why = SystemMessage(GetLastError());
      CloseHandle(file);
      bytes->clear();
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  CloseHandle(file);
  bytes->resize(done);
  return 0;
}
