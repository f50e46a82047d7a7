// The terminal window layer: the window shown as a small text panel through ncurses, for a
// player run in a terminal without a display. Labels show their texts, the slider is a bar
// moved by keys or the mouse; q, Escape, Ctrl-C, Ctrl-D and the signals SIGINT, SIGTERM and
// SIGHUP ask to close. The terminal is put back as it was however the program ends: by
// EndWindowLayer, at exit, or from a handler of the fatal signals.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/winlayer/close_signals.h"
#include "app/winlayer/layer_common.h"
#include "app/winlayer/terminal/terminal_layout.h"
#include "app/winlayer/polled_events.h"

#define NCURSES_NOMACROS
#include <curses.h>
#include <term.h>

namespace {

// How long a lone Escape byte waits for the rest of a key sequence before it counts as the
// Escape key.
constexpr int ESCAPE_WAIT_MS = 25;
constexpr int32_t NO_WINDOW = -1;
// Room for the terminal's reset sequences written by the fatal-signal handler.
constexpr size_t RESTORE_BYTES = 512;
// Stack for the fatal-signal handler, so that it also runs after a stack overflow.
constexpr size_t FATAL_STACK_BYTES = 64 * 1024;
// Turns off every mouse-reporting mode a terminal may have been put in.
constexpr char MOUSE_OFF[] = "\033[?1006l\033[?1003l\033[?1002l\033[?1000l";
constexpr char DRAG_REPORTS_ON[] = "\033[?1002h";
constexpr char DRAG_REPORTS_OFF[] = "\033[?1002l";
const int CloseSignals[] = {SIGINT, SIGTERM, SIGHUP};
const int FatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int FATAL_SIGNAL_COUNT = sizeof FatalSignals / sizeof FatalSignals[0];
// Terminfo capabilities that leave the modes the panel set: attributes, cursor, keypad,
// alternate screen.
const char* const RestoreCapabilities[] = {"sgr0", "cnorm", "rmkx", "rmcup"};

struct TermWindow {
  NativeHandle Handle;
  std::string Title;
  int32_t Width, Height;  // client area, pixels
  bool Hidden;
};

struct TermControl {
  NativeHandle Handle;
  int32_t Kind;    // PANEL_LABEL or PANEL_SLIDER
  int32_t Window;  // the window it was created in
  int32_t X, Y, Width, Height;
  std::string Text;
  int32_t Minimum, Maximum, Value;
};

struct TerminalLayer {
  NumberedTable<TermWindow> Windows{{}, WINDOW_TABLE_GROWTH};
  NumberedTable<TermControl> Controls{{}, CONTROL_TABLE_GROWTH};
  int32_t ParentWindow = NO_WINDOW;  // window new controls go into
  int32_t ShownWindow = NO_WINDOW;   // the window on the panel: the last one opened visible
  int32_t DragSlider = 0;            // slider held with the mouse button, 0 when none
  bool InputGone = false;            // the terminal hung up: its input is no longer waited on
  PanelLines Drawn;                  // the panel as last drawn, for mouse positions
  int32_t OriginRow = 0, OriginColumn = 0;
} Layer;

// Terminal state, also read by the signal handlers.
volatile sig_atomic_t TerminalActive = 0;
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

// Handles are the number plus one, so that number 0 still gives a non-null handle.
NativeHandle HandleOf(int32_t number) {
  return reinterpret_cast<NativeHandle>(static_cast<uintptr_t>(number) + 1);
}
int32_t NumberOf(NativeHandle handle) {
  return static_cast<int32_t>(reinterpret_cast<uintptr_t>(handle)) - 1;
}

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

bool TakeResize() {
  bool resized = false;
  char drain[64];
  if (ResizePipe[0] >= 0)
    while (::read(ResizePipe[0], drain, sizeof drain) > 0) resized = true;
  return resized;
}

// Leaves curses and puts the terminal's modes back exactly as they were found.
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

void RestoreAtExit() { StopTerminal(); }

// Starts curses in raw mode (Ctrl-C and Ctrl-D arrive as keys) with keypad keys, mouse
// reports and no visible cursor. Without a terminal nothing starts: the layer then draws
// nothing and reads no keys, but its tables, timers and close signals still work.
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

// Redraws the panel of the shown window, centred on the screen.
void Draw() {
  if (!TerminalActive) return;
  ::erase();
  Layer.Drawn = PanelLines{};
  TermWindow* window = Layer.Windows.Find(Layer.ShownWindow);
  if (window && !window->Hidden) {
    PanelModel model{window->Title, window->Width, window->Height, {}};
    for (int32_t n = 0; n < Layer.Controls.Capacity(); ++n) {
      const TermControl* c = Layer.Controls.Find(n);
      if (!c || c->Window != Layer.ShownWindow) continue;
      model.Controls.push_back(
          PanelControl{n, c->Kind, c->X, c->Y, c->Width, c->Height, c->Text, c->Minimum, c->Maximum, c->Value});
    }
    Layer.Drawn = ComposePanel(model);
    const int32_t height = static_cast<int32_t>(Layer.Drawn.Lines.size());
    const int32_t width = static_cast<int32_t>(Layer.Drawn.Lines.front().size());
    Layer.OriginRow = CentredOrigin(LINES, height);
    Layer.OriginColumn = CentredOrigin(COLS, width);
    for (int32_t i = 0; i < height && Layer.OriginRow + i < LINES; ++i)
      ::mvaddnstr(Layer.OriginRow + i, Layer.OriginColumn, Layer.Drawn.Lines[static_cast<size_t>(i)].c_str(),
                  COLS - Layer.OriginColumn);
  }
  ::refresh();
}

void Resize() {
  if (!TerminalActive) return;
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0)
    ::resize_term(size.ws_row, size.ws_col);
  ::clearok(curscr, TRUE);
  Draw();
}

void RequestClose() { DeferEvent(Polled().Events, EVENT_CLOSE, Layer.ShownWindow); }

// The slider that keys move: the lowest-numbered slider of the shown window, 0 when none.
int32_t FocusSlider() {
  for (int32_t n = 0; n < Layer.Controls.Capacity(); ++n) {
    const TermControl* c = Layer.Controls.Find(n);
    if (c && c->Kind == PANEL_SLIDER && c->Window == Layer.ShownWindow) return n;
  }
  return 0;
}

// Moves slider to target. A real movement redraws and yields EVENT_CONTROL for the slider.
bool MoveSlider(int32_t slider, int32_t target, int32_t* code) {
  TermControl* c = Layer.Controls.Find(slider);
  if (!c || c->Kind != PANEL_SLIDER) return false;
  target = ClampSliderValue(target, c->Minimum, c->Maximum);
  if (target == c->Value) return false;
  c->Value = target;
  Draw();
  Polled().Events.EventControl = slider;
  Polled().Events.EventWindow = c->Window;
  Polled().Events.EventSubType = 0;
  *code = EVENT_CONTROL;
  return true;
}

const SliderHitArea* SliderArea(int32_t slider) {
  for (const SliderHitArea& area : Layer.Drawn.Sliders)
    if (area.Number == slider) return &area;
  return nullptr;
}

// A press on a slider's bar (brackets included) sets it there and holds it; moves with the
// button held drag it, clamped to its ends; the release sets it a last time and lets it go.
bool TakeMouse(int32_t* code) {
  MEVENT mouse{};
  if (::getmouse(&mouse) != OK) return false;
  const int32_t row = mouse.y - Layer.OriginRow;
  const int32_t column = mouse.x - Layer.OriginColumn;
  const bool press = (mouse.bstate & BUTTON1_PRESSED) != 0;
  const bool release = (mouse.bstate & BUTTON1_RELEASED) != 0;
  // Curses passes on only the last of several reports read at once, so a quick click may
  // come as a release alone: a release with no slider held counts as a click where it is.
  if (press || (release && !Layer.DragSlider)) {
    Layer.DragSlider = 0;
    for (const SliderHitArea& area : Layer.Drawn.Sliders) {
      if (row == area.Row && column >= area.TrackColumn - 1 && column <= area.TrackColumn + area.TrackCells) {
        Layer.DragSlider = area.Number;
        break;
      }
    }
  }
  const int32_t slider = Layer.DragSlider;
  if (release) Layer.DragSlider = 0;
  const SliderHitArea* area = SliderArea(slider);
  if (!area) return false;
  if (!(mouse.bstate & (BUTTON1_PRESSED | BUTTON1_RELEASED | REPORT_MOUSE_POSITION))) return false;
  const int32_t target = SliderValueAtCell(column - area->TrackColumn, area->Minimum, area->Maximum, area->TrackCells);
  return MoveSlider(slider, target, code);
}

// Reads the keys that are waiting until one of them yields an event.
bool ReadInput(int32_t* code) {
  if (!TerminalActive || Layer.InputGone) return false;
  for (;;) {
    const int key = ::wgetch(stdscr);
    if (key == ERR) return false;
    if (key == KEY_RESIZE) {
      Resize();
      continue;
    }
    if (key == KEY_MOUSE) {
      if (TakeMouse(code)) return true;
      continue;
    }
    if (IsCloseKey(key)) {
      RequestClose();
      return TakeDeferredEvent(Polled().Events, code);
    }
    const int32_t slider = FocusSlider();
    const TermControl* c = Layer.Controls.Find(slider);
    if (!c) continue;
    bool moves = false;
    const int32_t target = SliderTargetForKey(key, c->Value, c->Minimum, c->Maximum, &moves);
    if (moves && MoveSlider(slider, target, code)) return true;
  }
}

// Sleeps until a key, a close signal, a resize or the next timer deadline (timeoutMs; -1 for
// none). A terminal that hangs up counts as a close request.
void WaitForInput(int timeoutMs) {
  pollfd fds[3];
  nfds_t count = 0;
  const bool watchInput = TerminalActive && !Layer.InputGone;
  if (watchInput) fds[count++] = pollfd{STDIN_FILENO, POLLIN, 0};
  if (CloseSignalFd() >= 0) fds[count++] = pollfd{CloseSignalFd(), POLLIN, 0};
  if (ResizePipe[0] >= 0) fds[count++] = pollfd{ResizePipe[0], POLLIN, 0};
  if (::poll(fds, count, timeoutMs) <= 0) return;
  if (watchInput && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
    Layer.InputGone = true;
    RequestClose();
  }
}

bool Available() {
  if (!::isatty(STDIN_FILENO) || !::isatty(STDOUT_FILENO)) return false;
  // A background job would be stopped by its first change of the terminal's modes.
  if (::tcgetpgrp(STDIN_FILENO) != ::getpgrp() || ::tcgetpgrp(STDOUT_FILENO) != ::getpgrp()) return false;
  const char* term = std::getenv("TERM");
  if (!term || !*term || std::strcmp(term, "dumb") == 0) return false;
  int error = 0;
  if (::setupterm(term, STDOUT_FILENO, &error) != OK) return false;
  const char* move = ::tigetstr(const_cast<char*>("cup"));
  const bool canMove = move && move != reinterpret_cast<char*>(-1);
  ::del_curterm(cur_term);
  return canMove;
}

void Init() {
  StopTerminal();
  Layer = TerminalLayer{};
  ResetPolledEvents();
  InstallCloseSignals(CloseSignals, sizeof CloseSignals / sizeof CloseSignals[0]);
  StartTerminal();
}

void End() {
  StopTerminal();
  Polled().Timers.clear();
  Layer.Windows.Entries.clear();
  Layer.Controls.Entries.clear();
  Layer.ShownWindow = Layer.ParentWindow = NO_WINDOW;
}

NativeHandle Open(int32_t window, int32_t, int32_t, int32_t width, int32_t height, const char* title,
                  int32_t flags) {
  TermWindow* w = Layer.Windows.Take(window);
  if (!w) return nullptr;
  *w = TermWindow{HandleOf(window), title, width, height, (flags & WINDOW_HIDDEN) != 0};
  if (!w->Hidden) Layer.ShownWindow = window;
  Draw();
  return w->Handle;
}

NativeHandle UseParent(NativeHandle window) {
  const int32_t number = NumberOf(window);
  if (Layer.Windows.Find(number) && Layer.Windows.Find(number)->Handle == window) Layer.ParentWindow = number;
  return window;
}

TermControl* NewControl(int32_t control, int32_t kind, int32_t x, int32_t y, int32_t width, int32_t height) {
  TermControl* c = Layer.Controls.Take(control);
  if (!c) return nullptr;
  *c = TermControl{HandleOf(control), kind, Layer.ParentWindow, x, y, width, height, {}, 0, 0, 0};
  return c;
}

NativeHandle Label(int32_t control, int32_t x, int32_t y, int32_t width, int32_t height, const char* text) {
  TermControl* c = NewControl(control, PANEL_LABEL, x, y, width, height);
  if (!c) return nullptr;
  c->Text = text;
  Draw();
  return c->Handle;
}

NativeHandle Slider(int32_t control, int32_t x, int32_t y, int32_t width, int32_t height, int32_t minimum,
                    int32_t maximum) {
  TermControl* c = NewControl(control, PANEL_SLIDER, x, y, width, height);
  if (!c) return nullptr;
  c->Minimum = minimum < 0 ? 0 : minimum;
  c->Maximum = maximum < 0 ? 0 : maximum;
  c->Value = ClampSliderValue(0, c->Minimum, c->Maximum);
  Draw();
  return c->Handle;
}

void SetText(int32_t control, const char* text) {
  TermControl* c = Layer.Controls.Find(control);
  if (!c) return;
  c->Text = text;
  if (c->Kind == PANEL_LABEL) Draw();
}

void SetValue(int32_t control, int32_t value) {
  TermControl* c = Layer.Controls.Find(control);
  if (!c || c->Kind != PANEL_SLIDER) return;
  c->Value = ClampSliderValue(value, c->Minimum, c->Maximum);
  Draw();
}

int32_t GetValue(int32_t control) {
  const TermControl* c = Layer.Controls.Find(control);
  return c && c->Kind == PANEL_SLIDER ? c->Value : 0;
}

// Deferred events first; then close signals, a resize, keys and mouse input, and last the
// timers (as a window system makes timer messages only when nothing else waits).
int32_t Wait() {
  EventRecord& events = Polled().Events;
  events.EventSubType = -1;
  int32_t code = 0;
  if (TakeDeferredEvent(events, &code)) return code;
  for (;;) {
    if (TakeCloseSignal()) RequestClose();
    if (TakeResize()) Resize();
    if (TakeDeferredEvent(events, &code)) return code;
    if (ReadInput(&code)) return code;
    if (TakeExpiredTimer(Polled().Timers, TimerClock::now())) return EVENT_TIMER;
    WaitForInput(MsUntilNextTimer(Polled().Timers, TimerClock::now()));
  }
}


}  // namespace

const WindowLayerOps TerminalWindowLayer = {
    "terminal", Available, Init,     nullptr, End,          Open,       UseParent, Label,
    Slider,     SetText,   SetValue, GetValue, Wait,        PolledEventControl, PolledStartTimer, PolledStopTimer,
};
