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
  int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return INVALID_FILE;
  struct stat info;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return INVALID_FILE;
  }
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
