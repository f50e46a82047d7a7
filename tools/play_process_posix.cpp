// SPDX-License-Identifier: GPL-2.0-or-later
// tonewell-play's process pieces on POSIX: /proc/self/exe, mkdtemp, fork/exec/waitpid, and
// SIGINT / SIGTERM / SIGHUP passed on to the running child.
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "tools/play_process.h"

namespace {

const int EndSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The running child (0: none) and the last end signal taken; written by the handler.
volatile sig_atomic_t ChildPid = 0;
volatile sig_atomic_t EndSignal = 0;

void OnEndSignal(int signal) {
  const int saved = errno;
  EndSignal = signal;
  const pid_t child = ChildPid;
  if (child > 0) ::kill(child, signal);
  errno = saved;
}

void BlockEndSignals(int how, sigset_t* old) {
  sigset_t set;
  sigemptyset(&set);
  for (int s : EndSignals) sigaddset(&set, s);
  ::sigprocmask(how, &set, old);
}

std::string SystemError(const std::string& what, int code) { return what + ": " + std::strerror(code); }

}  // namespace

std::filesystem::path ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  buffer[n] = '\0';
  return std::filesystem::path(buffer).parent_path();
}

std::filesystem::path MakePrivateFolder(std::string* error) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (base && *base ? std::string(base) : std::string("/tmp")) + "/tonewell-play-XXXXXX";
  // mkdtemp creates the folder with mode 0700.
  if (!::mkdtemp(pattern.data())) {
    *error = SystemError("cannot make a temporary folder " + pattern, errno);
    return {};
  }
  return pattern;
}

void CatchEndRequests() {
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  for (int s : EndSignals) sigaddset(&action.sa_mask, s);
  for (int s : EndSignals) ::sigaction(s, &action, nullptr);
}

int EndRequest() { return EndSignal ? 128 + EndSignal : 0; }

int RunToEnd(const std::filesystem::path& program, const std::vector<std::string>& args,
             const std::filesystem::path& folder, std::string* error) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const std::string path = program.string();
  const std::string dir = folder.string();

  // The child reports a failed chdir or exec through this pipe; a successful exec closes it.
  int report[2];
  if (::pipe(report) != 0) {
    *error = SystemError("cannot run " + path, errno);
    return -1;
  }
  ::fcntl(report[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(report[1], F_SETFD, FD_CLOEXEC);

  // Signals stay blocked from the fork until ChildPid is set, so none is lost in between:
  // one that comes meanwhile is handled (and passed on) right after the unblock.
  sigset_t old;
  BlockEndSignals(SIG_BLOCK, &old);
  if (EndSignal) {
    // Asked to end before the program started: it is not started at all.
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    ::close(report[0]);
    ::close(report[1]);
    return EndRequest();
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    struct sigaction original {};
    original.sa_handler = SIG_DFL;
    sigemptyset(&original.sa_mask);
    for (int s : EndSignals) ::sigaction(s, &original, nullptr);
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    int code = 0;
    if (!dir.empty() && ::chdir(dir.c_str()) != 0) {
      code = errno;
    } else {
      ::execv(path.c_str(), argv.data());
      code = errno;
    }
    (void)!::write(report[1], &code, sizeof code);
    ::_exit(127);
  }
  const int forkError = errno;
  if (pid > 0) ChildPid = pid;
  ::sigprocmask(SIG_SETMASK, &old, nullptr);
  ::close(report[1]);
  if (pid < 0) {
    ::close(report[0]);
    *error = SystemError("cannot run " + path, forkError);
    return -1;
  }

  int childError = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);

  int status = 0;
  pid_t done;
  do {
    done = ::waitpid(pid, &status, 0);
  } while (done < 0 && errno == EINTR);
  ChildPid = 0;
  if (got == static_cast<ssize_t>(sizeof childError)) {
    *error = SystemError("cannot run " + path + (dir.empty() ? "" : " in " + dir), childError);
    return -1;
  }
  if (done < 0) {
    *error = SystemError("lost " + path, errno);
    return -1;
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

void FolderGone() {}
