// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/render_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#endif

namespace fs = std::filesystem;

namespace {

bool Fail(std::string* error, const std::string& why) {
  *error = why;
  return false;
}

bool EndsWithSeparator(const std::string& path) {
  if (path.empty()) return false;
  const char last = path.back();
#if defined(_WIN32)
  return last == '/' || last == '\\';
#else
  return last == '/';
#endif
}

// Follows a chain of symbolic links to the path they finally name, whether that exists or not
// (a dangling link names where its target would be created). Gives up after 40 links, as the
// system does.
bool ResolveLinks(fs::path path, fs::path* resolved, std::string* error) {
  for (int depth = 0; depth < 40; ++depth) {
    std::error_code code;
    const fs::file_status status = fs::symlink_status(path, code);
    if (code || !fs::is_symlink(status)) {
      *resolved = path;
      return true;
    }
    fs::path next = fs::read_symlink(path, code);
    if (code) return Fail(error, code.message());
    *resolved = next.is_absolute() ? next : path.parent_path() / next;
    path = *resolved;
  }
  return Fail(error, std::strerror(ELOOP));
}

// The mode a newly created OUT gets: an existing file's own, else what the umask leaves of 0666.
void CopyMode(int fd, const fs::path& target) {
#if defined(_WIN32)
  (void)fd;
  (void)target;
#else
  struct stat info;
  mode_t mode;
  if (::stat(target.c_str(), &info) == 0) {
    mode = info.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
#endif
}

}  // namespace

bool OpenRenderOutput(const std::string& out, RenderOutput* output, std::string* error) {
  *output = RenderOutput{};
  if (out == "-") {
    output->Sink = stdout;
    output->ToStdout = true;
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return true;
  }
  if (out.empty()) return Fail(error, "the output path is empty");
  if (EndsWithSeparator(out)) return Fail(error, "names a directory, not a file");

  std::error_code code;
  const fs::file_status status = fs::status(out, code);  // follows links
  if (fs::is_directory(status)) return Fail(error, "is a directory");
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    // A device, FIFO or socket (or a link to one): written in place, never replaced. Opening a
    // FIFO waits for its reader, as the shell's redirection does.
    output->Target = out;
    output->Sink = std::fopen(out.c_str(), "wb");
    if (!output->Sink) return Fail(error, std::strerror(errno));
    return true;
  }
  if (code && code != std::errc::no_such_file_or_directory) return Fail(error, code.message());

  fs::path target;
  if (!ResolveLinks(out, &target, error)) return false;
  output->Target = target.string();
  // ".NAME.XXXXXX" next to the target: the same folder, so the rename never crosses file systems,
  // and a name of its own, so neither another run nor an existing file is overwritten.
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return Fail(error, std::strerror(errno));
#if defined(_WIN32)
  _setmode(fd, _O_BINARY);
#endif
  output->Temporary = name.data();
  CopyMode(fd, target);
  output->Sink = ::fdopen(fd, "wb");
  if (!output->Sink) {
    const int why = errno;
    ::close(fd);
    std::remove(output->Temporary.c_str());
    return Fail(error, std::strerror(why));
  }
  return true;
}

bool CloseRenderOutput(RenderOutput* output, bool ok, std::string* error) {
  int why = ok ? 0 : errno;
  if (std::fflush(output->Sink) != 0 && why == 0) why = errno;
  if (!output->ToStdout && std::fclose(output->Sink) != 0 && why == 0) why = errno;
  output->Sink = nullptr;
  if (!output->Temporary.empty()) {
    if (why == 0) {
      // Replaces an existing target, also on systems whose rename refuses to.
      std::error_code code;
      fs::rename(output->Temporary, output->Target, code);
      if (code) why = code.value();
    }
    if (why != 0) std::remove(output->Temporary.c_str());
  }
  if (why == 0 && !ok) why = EIO;
  if (why != 0) return Fail(error, std::strerror(why));
  return true;
}
