// SPDX-License-Identifier: GPL-2.0-or-later
// File services over POSIX descriptors.
#include "platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

FileHandle OpenFileForReading(const char* path) {
  std::string native = path ? path : "";
  for (char& c : native)
    if (c == '\\') c = '/';
  // O_NONBLOCK: a FIFO without a writer would otherwise hold the open until one comes. Only
  // regular files are read: a FIFO, a terminal or a device such as /dev/zero may never end or
  // block every read, so they count as files that cannot be opened (errno says why).
  int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return INVALID_FILE;
  struct stat info;
  const bool known = ::fstat(fd, &info) == 0;
  if (!known || !S_ISREG(info.st_mode)) {
    const int why = !known ? errno : S_ISDIR(info.st_mode) ? EISDIR : ENODEV;
    ::close(fd);
    errno = why;
    return INVALID_FILE;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

int32_t ReadFileBytes(FileHandle file, void* buffer, int32_t count) {
  if (file == INVALID_FILE || count <= 0) return 0;
  for (;;) {
    ssize_t got = ::read(static_cast<int>(file), buffer, static_cast<size_t>(count));
    if (got >= 0) return static_cast<int32_t>(got);
    if (errno != EINTR) return 0;
  }
}

void StepFileBack(FileHandle file) {
  if (file != INVALID_FILE) ::lseek(static_cast<int>(file), -1, SEEK_CUR);
}

void CloseFileHandle(FileHandle file) {
  if (file != INVALID_FILE) ::close(static_cast<int>(file));
}
