// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/winlayer/terminal/terminal_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#define NCURSES_NOMACROS
#include <curses.h>
#include <term.h>

volatile sig_atomic_t TerminalActive = 0;

namespace {

// How long a lone Escape byte waits for the rest of a key sequence before it counts as the
// Escape key.
constexpr int ESCAPE_WAIT_MS = 25;
// Room for the terminal's reset sequences written by the fatal-signal handler.
constexpr size_t RESTORE_BYTES = 512;
// Stack for the fatal-signal handler, so that it also runs after a stack overflow.
constexpr size_t FATAL_STACK_BYTES = 64 * 1024;
// Turns off every mouse-reporting mode a terminal may have been put in.
constexpr char MOUSE_OFF[] = "\033[?1006l\033[?1003l\033[?1002l\033[?1000l";
constexpr char DRAG_REPORTS_ON[] = "\033[?1002h";
constexpr char DRAG_REPORTS_OFF[] = "\033[?1002l";
const int FatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int FATAL_SIGNAL_COUNT = sizeof FatalSignals / sizeof FatalSignals[0];
// Terminfo capabilities that leave the modes the panel set: attributes, cursor, keypad,
// alternate screen.
const char* const RestoreCapabilities[] = {"sgr0", "cnorm", "rmkx", "rmcup"};

// Terminal state, also read by the signal handlers.
SCREEN* Screen = nullptr;
termios SavedModes{};
char RestoreSequence[RESTORE_BYTES];
size_t RestoreLength = 0;
int ResizePipe[2] = {-1, -1};
struct sigaction PreviousFatal[FATAL_SIGNAL_COUNT];
struct sigaction PreviousResize;
int SavedErrorFd = -1;  // the terminal's standard error while the panel silences it
bool FatalInstalled = false;
bool ExitHookInstalled = false;
char FatalStack[FATAL_STACK_BYTES];

void WriteAll(int fd, const char* bytes, size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    length -= static_cast<size_t>(n);
  }
}

// True when the terminal reports the mouse in xterm's way.
bool XtermMouse() {
  const char* mouse = ::tigetstr(const_cast<char*>("kmous"));
  return mouse && mouse != reinterpret_cast<char*>(-1);
}

// Appends a capability string, leaving out terminfo padding ("$<5>"), which only tputs obeys.
void AppendRestore(const char* text) {
  for (const char* p = text; *p; ++p) {
    if (p[0] == '$' && p[1] == '<') {
      const char* close = std::strchr(p, '>');
      if (close) {
        p = close;
        continue;
      }
    }
    if (RestoreLength + 1 < RESTORE_BYTES) RestoreSequence[RestoreLength++] = *p;
  }
}

// The bytes that put the terminal's display modes back, written by the fatal-signal handler
// (which may not call into curses).
void BuildRestoreSequence() {
  RestoreLength = 0;
  if (XtermMouse()) AppendRestore(MOUSE_OFF);
  for (const char* name : RestoreCapabilities) {
    const char* text = ::tigetstr(const_cast<char*>(name));
    if (text && text != reinterpret_cast<char*>(-1)) AppendRestore(text);
  }
}

// Messages that libraries write to standard error would scribble over the panel; while it is
// shown, standard error goes to /dev/null when it is the panel's own terminal. A standard error
// sent elsewhere (a file, a pipe) is left alone.
void SilenceErrorOutput() {
  struct stat error {}, output {};
  if (::fstat(STDERR_FILENO, &error) != 0 || ::fstat(STDOUT_FILENO, &output) != 0) return;
  if (!::isatty(STDERR_FILENO) || error.st_rdev != output.st_rdev) return;
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  SavedErrorFd = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
  if (SavedErrorFd >= 0) ::dup2(null, STDERR_FILENO);
  ::close(null);
}

// Async-signal-safe.
void RestoreErrorOutput() {
  if (SavedErrorFd < 0) return;
  ::dup2(SavedErrorFd, STDERR_FILENO);
  ::close(SavedErrorFd);
  SavedErrorFd = -1;
}

// Fatal signal: only async-signal-safe calls. Restores the display and the terminal's modes,
// then lets the signal take its default course (the handler was installed to reset itself).
void OnFatalSignal(int signal) {
  const int saved = errno;
  if (TerminalActive) {
    TerminalActive = 0;
    WriteAll(STDOUT_FILENO, RestoreSequence, RestoreLength);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &SavedModes);
    RestoreErrorOutput();
  }
  errno = saved;
  ::raise(signal);
}

void OnResizeSignal(int) {
  const int saved = errno;
  const char byte = 1;
  if (ResizePipe[1] >= 0) (void)!::write(ResizePipe[1], &byte, 1);
  errno = saved;
}

void InstallFatalSignals() {
  stack_t stack{};
  stack.ss_sp = FatalStack;
  stack.ss_size = sizeof FatalStack;
  ::sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_handler = OnFatalSignal;
  action.sa_flags = SA_RESETHAND | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < FATAL_SIGNAL_COUNT; ++i) ::sigaction(FatalSignals[i], &action, &PreviousFatal[i]);
  FatalInstalled = true;
}

void RestoreFatalSignals() {
  if (!FatalInstalled) return;
  for (int i = 0; i < FATAL_SIGNAL_COUNT; ++i) ::sigaction(FatalSignals[i], &PreviousFatal[i], nullptr);
  FatalInstalled = false;
}

// SIGWINCH writes to a pipe that the event wait watches. Installed before curses starts, so
// curses keeps its own handler out and the layer resizes the screen itself.
void InstallResizeSignal() {
  if (ResizePipe[0] < 0 && ::pipe(ResizePipe) == 0) {
    for (int fd : ResizePipe) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  struct sigaction action {};
  action.sa_handler = OnResizeSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGWINCH, &action, &PreviousResize);
}

void RestoreAtExit() { StopTerminal(); }

}  // namespace

int ResizeSignalFd() { return ResizePipe[0]; }

bool TakeResize() {
  bool resized = false;
  char drain[64];
  if (ResizePipe[0] >= 0)
    while (::read(ResizePipe[0], drain, sizeof drain) > 0) resized = true;
  return resized;
}

void StopTerminal() {
  if (!TerminalActive) return;
  TerminalActive = 0;
  RestoreErrorOutput();
  if (XtermMouse()) WriteAll(STDOUT_FILENO, DRAG_REPORTS_OFF, sizeof DRAG_REPORTS_OFF - 1);
  ::mousemask(0, nullptr);
  ::curs_set(1);
  ::endwin();
  ::delscreen(Screen);
  Screen = nullptr;
  ::tcsetattr(STDIN_FILENO, TCSANOW, &SavedModes);
  RestoreFatalSignals();
  ::sigaction(SIGWINCH, &PreviousResize, nullptr);
}


void StartTerminal() {
  if (::tcgetattr(STDIN_FILENO, &SavedModes) != 0) return;
  InstallResizeSignal();
  ::use_tioctl(TRUE);  // the terminal's real size, not LINES/COLUMNS from the environment
  Screen = ::newterm(nullptr, stdout, stdin);
  if (!Screen) {
    ::sigaction(SIGWINCH, &PreviousResize, nullptr);
    return;
  }
  ::set_term(Screen);
  ::raw();
  ::noecho();
  ::nonl();
  ::keypad(stdscr, TRUE);
  ::nodelay(stdscr, TRUE);
  ::curs_set(0);
  ::set_escdelay(ESCAPE_WAIT_MS);
  ::mousemask(BUTTON1_PRESSED | BUTTON1_RELEASED | REPORT_MOUSE_POSITION, nullptr);
  ::mouseinterval(0);
  BuildRestoreSequence();
  // Curses asks an xterm-like terminal for presses and releases only; moves with the button
  // held, for dragging, are a mode of their own, set after curses has sent its own mouse mode.
  if (XtermMouse()) {
    ::refresh();
    WriteAll(STDOUT_FILENO, DRAG_REPORTS_ON, sizeof DRAG_REPORTS_ON - 1);
  }
  SilenceErrorOutput();
  InstallFatalSignals();
  if (!ExitHookInstalled) ExitHookInstalled = std::atexit(RestoreAtExit) == 0;
  TerminalActive = 1;
}
