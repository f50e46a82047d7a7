// SPDX-License-Identifier: GPL-2.0-or-later
// File services over Windows file handles. The path is passed as given: a backslash is the
// system's own separator, and relative paths start at the working directory.
#include <windows.h>

#include "platform/file.h"

namespace {

HANDLE Native(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

// Shared for reading only: the open fails while another handle has the file open for writing.
FileHandle OpenFileForReading(const char* path) {
  HANDLE handle = CreateFileA(path ? path : "", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return INVALID_FILE;
  // Only files on disk: a pipe or a character device (NUL, CON, COM1) may never end.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return INVALID_FILE;
  }
  return reinterpret_cast<FileHandle>(handle);
}

// A failed read counts as the end of the file: the byte count is 0 then.
int32_t ReadFileBytes(FileHandle file, void* buffer, int32_t count) {
  if (file == INVALID_FILE || count <= 0) return 0;
  DWORD got = 0;
  if (!ReadFile(Native(file), buffer, static_cast<DWORD>(count), &got, nullptr)) return 0;
  return static_cast<int32_t>(got);
}

// Used only by the unbuffered reader to put one byte back.
void StepFileBack(FileHandle file) {
  if (file != INVALID_FILE) SetFilePointer(Native(file), -1, nullptr, FILE_CURRENT);
}

void CloseFileHandle(FileHandle file) {
  if (file != INVALID_FILE) CloseHandle(Native(file));
}
