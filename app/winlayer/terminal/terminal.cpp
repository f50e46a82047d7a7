// SPDX-License-Identifier: GPL-2.0-or-later
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
#include "app/winlayer/polled_events.h"
#include "app/winlayer/terminal/terminal_layout.h"
#include "app/winlayer/terminal/terminal_session.h"

#define NCURSES_NOMACROS
#include <curses.h>
#include <term.h>

namespace {

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
  if (ResizeSignalFd() >= 0) fds[count++] = pollfd{ResizeSignalFd(), POLLIN, 0};
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
  StartCloseSignals();
  StartTerminal();
}

void End() {
  StopTerminal();
  EndPolledLayer(Layer);
}

NativeHandle Open(int32_t window, int32_t, int32_t, int32_t width, int32_t height, const char* title,
                  int32_t flags) {
  TermWindow* w = Layer.Windows.Take(window);
  if (!w) return nullptr;
  *w = TermWindow{HandleOfNumber(window), title, width, height, (flags & WINDOW_HIDDEN) != 0};
  if (!w->Hidden) Layer.ShownWindow = window;
  Draw();
  return w->Handle;
}

NativeHandle UseParent(NativeHandle window) {
  const int32_t number = NumberOfHandle(window);
  if (Layer.Windows.Find(number) && Layer.Windows.Find(number)->Handle == window) Layer.ParentWindow = number;
  return window;
}

TermControl* NewControl(int32_t control, int32_t kind, int32_t x, int32_t y, int32_t width, int32_t height) {
  TermControl* c = Layer.Controls.Take(control);
  if (!c) return nullptr;
  *c = TermControl{HandleOfNumber(control), kind, Layer.ParentWindow, x, y, width, height, {}, 0, 0, 0};
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

// A close signal asks to close the shown window; a resize redraws before events are looked
// at; keys and mouse input are the input.
int32_t Wait() {
  static const PolledSources sources = {
      .CloseWindow = [] { return Layer.ShownWindow; },
      .BeforeEvents = [] {
        if (TakeResize()) Resize();
      },
      .TakeInput = ReadInput,
      .Sleep = WaitForInput,
  };
  return WaitPolledEvent(sources);
}


}  // namespace

const WindowLayerOps TerminalWindowLayer = {
    .Name = "terminal", .Available = Available, .InitWindowLayer = Init, .EndWindowLayer = End,
    .OpenTopWindow = Open, .UseControlParent = UseParent, .CreateLabel = Label, .CreateSlider = Slider,
    .SetControlText = SetText, .SetControlValue = SetValue, .GetControlValue = GetValue, .WaitEvent = Wait,
    .GetEventControl = PolledEventControl, .StartWindowTimer = PolledStartTimer,
    .StopWindowTimer = PolledStopTimer,
};
