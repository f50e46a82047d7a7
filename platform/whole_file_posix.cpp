// SPDX-License-Identifier: GPL-2.0-or-later
// Whole-file input over POSIX descriptors.
#include "platform/whole_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* ModeProblem(mode_t mode) {
  if (S_ISREG(mode)) return nullptr;
  if (S_ISDIR(mode)) return "is a directory";
  if (S_ISFIFO(mode)) return "is a FIFO, not a regular file";
  if (S_ISCHR(mode)) return "is a character device, not a regular file";
  if (S_ISBLK(mode)) return "is a block device, not a regular file";
  if (S_ISSOCK(mode)) return "is a socket, not a regular file";
  return "is not a regular file";
}

}  // namespace

const char* NotRegularFileReason(const char* path) {
  struct stat info;
  return ::stat(path, &info) == 0 ? ModeProblem(info.st_mode) : nullptr;
}

int32_t ReadRegularFile(const char* path, int64_t maxBytes, std::vector<uint8_t>* bytes, std::string* why) {
  bytes->clear();
  // O_NONBLOCK: a FIFO without a writer would otherwise hold the open forever.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *why = std::strerror(errno);
    return -1;
  }
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    *why = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  if (const char* kind = ModeProblem(info.st_mode)) {
    *why = kind;
    ::close(fd);
    return -1;
  }
  if (info.st_size > maxBytes) {
    *why = "is larger than " + std::to_string(maxBytes) + " bytes";
    ::close(fd);
    return -1;
  }
  bytes->resize(static_cast<size_t>(info.st_size));
  size_t done = 0;
  // A file that grows while it is read is taken up to its size at the fstat.
  while (done < bytes->size()) {
    const ssize_t got = ::read(fd, bytes->data() + done, bytes->size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *why = std::strerror(errno);
      ::close(fd);
      bytes->clear();
      return -1;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  ::close(fd);
  bytes->resize(done);
  return 0;
}
