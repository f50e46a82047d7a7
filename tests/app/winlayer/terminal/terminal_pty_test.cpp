// SPDX-License-Identifier: GPL-2.0-or-later
// The terminal layer on a pseudo-terminal. A child process runs the layer with the pty as its
// controlling terminal, standard input and output, and reports what WaitEvent returns over a
// pipe; the test types into the pty's master side as a user would, reads what the child
// draws, and looks at the pty's modes after the child has gone.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/winlayer/terminal/terminal_layout.h"
#include "app/winlayer/winlayer.h"

#define NCURSES_NOMACROS
#include <curses.h>
#include <term.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Rows = 24;
constexpr int Columns = 80;
constexpr int WaitMs = 5000;  // bound on every wait for the child; never reached when all is well
constexpr int32_t MainFlags = 0x00C00000 | 0x00080000 | WINDOW_SCREEN_CENTRED;
constexpr const char* Term = "xterm";

// --- The child: the program side ------------------------------------------------------------

int ReportFd = -1;

void Report(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Report(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::string text = std::string(line) + "\n";
  (void)!::write(ReportFd, text.data(), text.size());
}

// The main window as the program builds it, with the refresh timer.
void BuildPanel() {
  UseWindowLayer(&TerminalWindowLayer);
  InitWindowLayer();
  InitControlLayer();
  NativeHandle window = OpenTopWindow(1, 0, 0, 140, 100, "Tonewell =)", MainFlags);
  UseControlParent(window);
  CreateLabel(1, 10, 10, 110, 20, "Loading...");
  CreateLabel(2, 10, 30, 110, 14, "");
  CreateLabel(3, 10, 43, 110, 14, "");
  CreateLabel(4, 10, 56, 110, 14, "");
  CreateSlider(5, 6, 75, 130, 18, 0, 100);
  SetControlValue(5, 85);
  StartWindowTimer(window, 1, 50);
}

// Reports every event until the close event, then ends the layer: "control N V", "timer K
// ROWSxCOLUMNS" (the size curses knows), "close", "ended".
void EventLoop() {
  int ticks = 0;
  for (;;) {
    const int32_t code = WaitEvent();
    if (code == EVENT_CONTROL) {
      Report("control %d %d", GetEventControl(), GetControlValue(GetEventControl()));
    } else if (code == EVENT_TIMER) {
      ++ticks;
      SetControlText(1, ("Tick " + std::to_string(ticks)).c_str());
      Report("timer %d %dx%d", ticks, LINES, COLS);
    } else if (code == EVENT_CLOSE) {
      Report("close");
      EndWindowLayer();
      Report("ended");
      return;
    } else {
      Report("other %d", code);
    }
  }
}

void PanelScenario() {
  BuildPanel();
  Report("ready");
  EventLoop();
}

// Standard error is the terminal too: what is written to it while the panel shows must not
// reach the screen; after the end it does again.
void NoisyScenario() {
  BuildPanel();
  (void)!::write(STDERR_FILENO, "NOISE-DURING", 12);
  Report("ready");
  EventLoop();
  (void)!::write(STDERR_FILENO, "NOISE-AFTER", 11);
  Report("wrote");
}

int CrashSignal = 0;
void CrashScenario() {
  BuildPanel();
  Report("ready");
  if (CrashSignal == SIGABRT) std::abort();
  ::raise(CrashSignal);
  Report("survived");
}

void ExitScenario() {
  BuildPanel();
  Report("ready");
  std::exit(0);  // no EndWindowLayer: the exit hook restores the terminal
}

void AvailabilityScenario() {
  auto verdict = [] { return TerminalWindowLayer.Available() ? "yes" : "no"; };
  Report("foreground %s", verdict());
  ::setenv("TERM", "dumb", 1);
  Report("dumb %s", verdict());
  ::setenv("TERM", "no-such-terminal-tonewell", 1);
  Report("unknown %s", verdict());
  ::unsetenv("TERM");
  Report("unset %s", verdict());
  ::setenv("TERM", Term, 1);
  const int saved = ::dup(STDIN_FILENO);
  const int null = ::open("/dev/null", O_RDONLY);
  ::dup2(null, STDIN_FILENO);
  Report("stdin-null %s", verdict());
  ::dup2(saved, STDIN_FILENO);
  // A process group of its own is a background job of the terminal.
  const pid_t job = ::fork();
  if (job == 0) {
    ::setpgid(0, 0);
    Report("background %s", verdict());
    ::_exit(0);
  }
  ::waitpid(job, nullptr, 0);
  Report("done");
}

[[noreturn]] void RunChild(const char* slaveName, int report, bool errorToTerminal, void (*scenario)()) {
  ::setsid();
  const int slave = ::open(slaveName, O_RDWR);
  ::ioctl(slave, TIOCSCTTY, 0);
  ::dup2(slave, STDIN_FILENO);
  ::dup2(slave, STDOUT_FILENO);
  if (errorToTerminal) ::dup2(slave, STDERR_FILENO);
  if (slave > STDERR_FILENO) ::close(slave);
  ::setenv("TERM", Term, 1);
  ::unsetenv("LINES");
  ::unsetenv("COLUMNS");
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  ReportFd = report;
  scenario();
  ::_exit(0);
}

// --- The test side: the user at the terminal ------------------------------------------------

// A key's bytes as the terminal sends them, from its terminfo entry.
std::string KeyBytes(const char* capability) {
  int error = 0;
  std::string bytes;
  if (::setupterm(const_cast<char*>(Term), STDERR_FILENO, &error) == OK) {
    const char* s = ::tigetstr(const_cast<char*>(capability));
    if (s && s != reinterpret_cast<char*>(-1)) bytes = s;
    ::del_curterm(cur_term);
  }
  return bytes;
}

struct PanelChild {
  pid_t Pid = -1;
  int Master = -1;
  int Slave = -1;  // kept open to read the pty's modes after the child
  int Reports = -1;
  termios Original{};
  std::string Output;   // everything the child wrote to the terminal
  std::string Pending;  // report text not yet taken as lines
  int Status = -1;

  // Start, then the scenario's "ready".
  bool StartReady(void (*scenario)(), bool errorToTerminal = false) {
    return Start(scenario, errorToTerminal) && Expect("ready");
  }
  bool Start(void (*scenario)(), bool errorToTerminal = false) {
    Master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (Master < 0 || ::grantpt(Master) != 0 || ::unlockpt(Master) != 0) return false;
    const std::string slaveName = ::ptsname(Master);
    winsize size{};
    size.ws_row = Rows;
    size.ws_col = Columns;
    ::ioctl(Master, TIOCSWINSZ, &size);
    Slave = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY);
    if (Slave < 0 || ::tcgetattr(Slave, &Original) != 0) return false;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return false;
    Pid = ::fork();
    if (Pid == 0) {
      ::close(pipeFds[0]);
      ::close(Master);
      ::close(Slave);
      RunChild(slaveName.c_str(), pipeFds[1], errorToTerminal, scenario);
    }
    ::close(pipeFds[1]);
    Reports = pipeFds[0];
    return Pid > 0;
  }

  ~PanelChild() {
    if (Pid > 0 && Status < 0) {
      ::kill(Pid, SIGKILL);
      ::waitpid(Pid, nullptr, 0);
    }
    for (int fd : {Master, Slave, Reports})
      if (fd >= 0) ::close(fd);
  }

  // Reads the terminal output and the reports for up to ms; true once a whole report line
  // starting with prefix has come (it is then *line, and the reports before it are dropped).
  bool Expect(const std::string& prefix, std::string* line = nullptr, int ms = WaitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      for (size_t end; (end = Pending.find('\n')) != std::string::npos;) {
        const std::string got = Pending.substr(0, end);
        Pending.erase(0, end + 1);
        if (got.compare(0, prefix.size(), prefix) == 0) {
          if (line) *line = got;
          return true;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      if (!Pump(static_cast<int>(left))) return false;
    }
  }

  // The next report that is not a timer report, "(nothing)" when none comes in time.
  std::string NextNonTimer() {
    const auto deadline = Clock::now() + std::chrono::milliseconds(WaitMs);
    std::string line;
    while (Clock::now() < deadline && Expect("", &line, WaitMs))
      if (line.compare(0, 6, "timer ") != 0) return line;
    return "(nothing)";
  }

  // The first report other than a timer's within the next two timer reports, "" if none:
  // by the second, the child has read everything typed before the call.
  std::string Quiet() {
    std::string line;
    for (int timers = 0; timers < 2 && Expect("", &line);)
      if (line.compare(0, 6, "timer ") == 0) ++timers;
      else return line;
    return "";
  }

  // One poll over both sides; false when neither can give anything more.
  bool Pump(int ms) {
    pollfd fds[2] = {{Master, POLLIN, 0}, {Reports, POLLIN, 0}};
    if (::poll(fds, 2, ms) < 0) return errno == EINTR;
    char buffer[4096];
    bool any = false;
    if (fds[0].revents & POLLIN) {
      const ssize_t n = ::read(Master, buffer, sizeof buffer);
      if (n > 0) Output.append(buffer, static_cast<size_t>(n)), any = true;
    }
    if (fds[1].revents & (POLLIN | POLLHUP)) {
      const ssize_t n = ::read(Reports, buffer, sizeof buffer);
      if (n > 0) Pending.append(buffer, static_cast<size_t>(n)), any = true;
      if (n == 0) fds[1].fd = -1;
    }
    return any || (fds[1].revents & POLLHUP) == 0;
  }

  void Type(const std::string& bytes) { ASSERT_EQ(::write(Master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }

  // Waits for the child to end, draining its output meanwhile. True when it ended in time.
  bool Finish(int ms = WaitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < deadline) {
      if (::waitpid(Pid, &Status, WNOHANG) == Pid) {
        Pump(0);
        return true;
      }
      Pump(10);
    }
    return false;
  }

  bool ExitedWithZero() const { return WIFEXITED(Status) && WEXITSTATUS(Status) == 0; }

  // After a close request: the child reports the close and the layer's end, then exits with 0
  // and the pty's modes as they were.
  void ExpectCleanEnd() {
    EXPECT_EQ(NextNonTimer(), "close");
    EXPECT_EQ(NextNonTimer(), "ended");
    ASSERT_TRUE(Finish());
    EXPECT_TRUE(ExitedWithZero()) << Status;
    EXPECT_TRUE(ModesRestored());
  }

  // The pty's modes equal those it had before the child started.
  bool ModesRestored() const {
    termios now{};
    if (::tcgetattr(Slave, &now) != 0) return false;
    return now.c_iflag == Original.c_iflag && now.c_oflag == Original.c_oflag && now.c_lflag == Original.c_lflag &&
           now.c_cflag == Original.c_cflag && std::memcmp(now.c_cc, Original.c_cc, sizeof now.c_cc) == 0;
  }
};

// Where the main window's bar is on an 80 x 24 screen: 1-based mouse coordinates of track
// cell `cell` and of the bar's row.
struct BarPlace {
  int X0, Y;
};
BarPlace MainBar() {
  PanelModel m{"Tonewell =)", 140, 100, {}};
  m.Controls.push_back(PanelControl{1, PANEL_LABEL, 10, 10, 110, 20, "Loading...", 0, 0, 0});
  m.Controls.push_back(PanelControl{5, PANEL_SLIDER, 6, 75, 130, 18, "", 0, 100, 85});
  const PanelLines panel = ComposePanel(m);
  const int top = CentredOrigin(Rows, static_cast<int32_t>(panel.Lines.size()));
  const int left = CentredOrigin(Columns, static_cast<int32_t>(panel.Lines[0].size()));
  return BarPlace{left + panel.Sliders[0].TrackColumn + 1, top + panel.Sliders[0].Row + 1};
}

std::string MouseBytes(int button, int x, int y, bool release) {
  return "\033[<" + std::to_string(button) + ";" + std::to_string(x) + ";" + std::to_string(y) + (release ? "m" : "M");
}

// Each test drives one child.
struct TerminalPty : ::testing::Test { PanelChild child; };

// --- Keys and the slider --------------------------------------------------------------------

TEST_F(TerminalPty, SliderKeysGiveOneControlEventPerMovement) {
  ASSERT_TRUE(child.StartReady(PanelScenario));
  const struct {
    const char* Capability;
    const char* Expected;
  } steps[] = {
      {"kcuf1", "control 5 86"}, {"knp", "control 5 96"},   {"knp", "control 5 100"},
      {"knp", nullptr},          {"kcub1", "control 5 99"}, {"khome", "control 5 0"},
      {"kcub1", nullptr},        {"kend", "control 5 100"}, {"kpp", "control 5 90"},
  };
  for (const auto& step : steps) {
    const std::string key = KeyBytes(step.Capability);
    ASSERT_FALSE(key.empty()) << step.Capability;
    child.Type(key);
    // A key that cannot move the slider gives no event: the next step's event comes next.
    if (step.Expected) {
      EXPECT_EQ(child.NextNonTimer(), step.Expected) << step.Capability;
    }
  }
  child.Type("q");
  child.ExpectCleanEnd();
}

TEST_F(TerminalPty, OtherKeysAreIgnored) {
  ASSERT_TRUE(child.StartReady(PanelScenario));
  child.Type("xQ \r");
  child.Type(KeyBytes("kcuu1"));
  child.Type(KeyBytes("kcuf1"));
  EXPECT_EQ(child.NextNonTimer(), "control 5 86");
  child.Type("q");
  EXPECT_EQ(child.NextNonTimer(), "close");
}

TEST_F(TerminalPty, MousePressAndDragOnTheBarSetTheSlider) {
  ASSERT_TRUE(child.StartReady(PanelScenario));
  const BarPlace bar = MainBar();
  const int x = bar.X0, y = bar.Y;
  // Each report is typed alone and taken in before the next, as a hand on a mouse would. A step
  // that wants no event must give none before two timer reports.
  const struct { std::string Bytes; const char* Event; } steps[] = {
      {MouseBytes(0, x + 11, y, false), "control 5 48"},        // press on track cell 11
      {MouseBytes(32, x + 19, y, false), "control 5 83"},       // drag to cell 19
      {MouseBytes(32, x + 40, y + 3, false), "control 5 100"},  // dragged past the end, off the row
      {MouseBytes(0, x + 40, y + 3, true), ""},                 // release where it is: no movement
      {MouseBytes(0, x + 5, y - 5, false), ""},                 // press and release off the bar
      {MouseBytes(0, x + 5, y - 5, true), ""},
      {MouseBytes(0, x - 1, y, false), "control 5 0"},          // press on the left bracket
      {MouseBytes(0, x - 1, y, true), ""},
      {MouseBytes(35, x + 10, y, false), ""},                   // moves with no button drag nothing
      // A quick click whose press and release are read at once (curses may pass on only the
      // release): one movement, and nothing after it.
      {MouseBytes(0, x + 23, y, false) + MouseBytes(0, x + 23, y, true), "control 5 100"},
      {"", ""},                                                 // typing nothing more
      {KeyBytes("kcub1"), "control 5 99"},
      {"q", "close"},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    child.Type(steps[i].Bytes);
    if (*steps[i].Event) EXPECT_EQ(child.NextNonTimer(), steps[i].Event) << "step " << i;
    else EXPECT_EQ(child.Quiet(), "") << "step " << i;
  }
}

// --- Close requests ---------------------------------------------------------------------

struct TerminalCloseKey : ::testing::TestWithParam<const char*> { PanelChild child; };

TEST_P(TerminalCloseKey, EndsTheLoopAndRestoresTheTerminal) {
  ASSERT_TRUE(child.StartReady(PanelScenario));
  child.Type(GetParam());
  child.ExpectCleanEnd();
  // Leaving: mouse and drag reports off, alternate screen left.
  EXPECT_NE(child.Output.find("1000l"), std::string::npos);
  EXPECT_NE(child.Output.find("\033[?1002l"), std::string::npos);
  EXPECT_NE(child.Output.rfind("\033[?1049l"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(QEscapeCtrlCCtrlD, TerminalCloseKey, ::testing::Values("q", "\033", "\003", "\004"));

struct TerminalCloseSignal : ::testing::TestWithParam<int> { PanelChild child; };

TEST_P(TerminalCloseSignal, EndsTheLoopAndRestoresTheTerminal) {
  ASSERT_TRUE(child.StartReady(PanelScenario));
  ASSERT_EQ(::kill(child.Pid, GetParam()), 0);
  child.ExpectCleanEnd();
}

INSTANTIATE_TEST_SUITE_P(IntTermHup, TerminalCloseSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP));

TEST_F(TerminalPty, ATerminalThatHangsUpAsksToClose) {
  ASSERT_TRUE(child.StartReady(PanelScenario));
  ::close(child.Master);
  child.Master = -1;
  EXPECT_TRUE(child.Expect("close"));
  EXPECT_TRUE(child.Expect("ended"));
  ASSERT_TRUE(child.Finish());
  EXPECT_TRUE(child.ExitedWithZero()) << child.Status;
}

// --- Timer, texts, resize ---------------------------------------------------------------

TEST_F(TerminalPty, TimerEventsComeEvery50MsAndTextsReachTheScreen) {
  const auto start = Clock::now();  // before the child, whose timer starts after the fork
  ASSERT_TRUE(child.Start(PanelScenario));
  ASSERT_TRUE(child.Expect("ready"));
  ASSERT_TRUE(child.Expect("timer 4 "));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_NE(child.Output.find("Tonewell =)"), std::string::npos);
  EXPECT_NE(child.Output.find("Loading..."), std::string::npos);
  EXPECT_NE(child.Output.find("Tick 1"), std::string::npos);
  child.Type("q");
  EXPECT_EQ(child.NextNonTimer(), "close");
}

TEST_F(TerminalPty, AResizedTerminalIsRedrawnAtItsNewSize) {
  ASSERT_TRUE(child.StartReady(PanelScenario));
  std::string line;
  ASSERT_TRUE(child.Expect("timer ", &line));
  EXPECT_NE(line.find(" 24x80"), std::string::npos) << line;
  const size_t before = child.Output.size();
  winsize size{};
  size.ws_row = 30;
  size.ws_col = 100;
  ASSERT_EQ(::ioctl(child.Master, TIOCSWINSZ, &size), 0);  // the kernel sends SIGWINCH
  bool resized = false;
  while (!resized && child.Expect("timer ", &line)) resized = line.find(" 30x100") != std::string::npos;
  EXPECT_TRUE(resized);
  ASSERT_TRUE(child.Expect("timer "));
  child.Type("q");
  EXPECT_EQ(child.NextNonTimer(), "close");
  // The panel is drawn afresh after the resize (the title, which never changes, comes again),
  // whether the repaint reached us before or after the timer that reported the new size.
  EXPECT_NE(child.Output.find("Tonewell =)", before), std::string::npos);
}

// --- Standard error, exit and crash -------------------------------------------------------

TEST_F(TerminalPty, StandardErrorOnTheTerminalIsSilencedWhileThePanelShows) {
  ASSERT_TRUE(child.StartReady(NoisyScenario, true));
  child.Type("q");
  ASSERT_TRUE(child.Expect("wrote"));
  ASSERT_TRUE(child.Finish());
  EXPECT_EQ(child.Output.find("NOISE-DURING"), std::string::npos);
  EXPECT_NE(child.Output.find("NOISE-AFTER"), std::string::npos);
}

TEST_F(TerminalPty, ExitWithoutEndingTheLayerStillRestoresTheTerminal) {
  ASSERT_TRUE(child.StartReady(ExitScenario));
  ASSERT_TRUE(child.Finish());
  EXPECT_TRUE(child.ExitedWithZero()) << child.Status;
  EXPECT_TRUE(child.ModesRestored());
  EXPECT_NE(child.Output.rfind("\033[?1049l"), std::string::npos);
}

struct TerminalFatalSignal : ::testing::TestWithParam<int> { PanelChild child; };

TEST_P(TerminalFatalSignal, RestoresTheTerminalAndStillDiesOfTheSignal) {
  CrashSignal = GetParam();
  ASSERT_TRUE(child.StartReady(CrashScenario));
  ASSERT_TRUE(child.Finish());
  EXPECT_TRUE(WIFSIGNALED(child.Status) && WTERMSIG(child.Status) == GetParam()) << child.Status;
  EXPECT_TRUE(child.ModesRestored());
  const size_t panel = child.Output.rfind("Tonewell =)");
  const size_t leave = child.Output.rfind("\033[?1049l");
  ASSERT_NE(panel, std::string::npos);
  ASSERT_NE(leave, std::string::npos);
  EXPECT_GT(leave, panel);
  EXPECT_NE(child.Output.find("\033[?1000l", panel), std::string::npos);
  EXPECT_NE(child.Output.find("\033[?1002l", panel), std::string::npos);
  EXPECT_EQ(child.Pending.find("survived"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(SegvBusFpeAbrt, TerminalFatalSignal, ::testing::Values(SIGSEGV, SIGBUS, SIGFPE, SIGABRT));

// --- Availability ---------------------------------------------------------------------------

TEST_F(TerminalPty, AvailableOnlyToAForegroundJobOnATerminalWithAUsableTerm) {
  ASSERT_TRUE(child.Start(AvailabilityScenario));
  std::string line;
  const char* const expected[] = {"foreground yes", "dumb no",       "unknown no", "unset no",
                                  "stdin-null no",  "background no", "done"};
  for (const char* e : expected) {
    ASSERT_TRUE(child.Expect("", &line)) << e;
    EXPECT_EQ(line, e);
  }
  ASSERT_TRUE(child.Finish());
}

}  // namespace
