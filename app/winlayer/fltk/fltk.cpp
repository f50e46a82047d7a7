// SPDX-License-Identifier: GPL-2.0-or-later
// The window layer over FLTK 1.3 on an X11 display. Windows are double-buffered FLTK windows,
// labels are boxes that draw their text as given, sliders are FLTK horizontal sliders. Input
// reaches WaitEvent through two queues: the deferred events of the shared event record (close
// requests, with its duplicate rule) and the posted events that FLTK's callbacks leave while
// Fl::wait dispatches (slider movements, timer expiries), which come out in arrival order.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Hor_Nice_Slider.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <deque>
#include <list>

#include "app/winlayer/close_signals.h"
#include "app/winlayer/fltk/fltk.h"
#include "app/winlayer/fltk/fltk_placement.h"
#include "app/winlayer/layer_common.h"

namespace {

constexpr int32_t LAYER_FLAG_BITS = WINDOW_SCREEN_CENTRED | WINDOW_PARENT_CENTRED | WINDOW_HIDDEN;

// The layer's GUI font: a condensed sans face whose line fits a 14-pixel label and whose
// "Playing: 32786 / 32787" fits 110 pixels. Where the face is missing, fontconfig substitutes
// the nearest sans face.
constexpr Fl_Font GUI_FONT = FL_FREE_FONT;
constexpr const char* GUI_FONT_NAME = " DejaVu Sans Condensed";  // leading blank: regular style
constexpr Fl_Fontsize GUI_FONT_SIZE = 10;
constexpr Fl_Align LABEL_ALIGN = FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_CLIP;
constexpr double WAIT_FOREVER = 1e20;  // seconds: Fl::wait's "no time limit"
constexpr double MS_PER_SECOND = 1000.0;
constexpr int CLASS_NAME_SIZE = 32;
constexpr std::chrono::milliseconds CLOSE_PEEK_INTERVAL{10};

struct FltkWindow {
  NativeHandle Handle;  // the Fl_Window; null when the entry is free
};

struct FltkControl;

// The operations of one kind of control; an empty one falls back to doing nothing (or 0).
struct ControlKind {
  void (*SetValue)(FltkControl& control, int32_t value) = nullptr;
  int32_t (*GetValue)(const FltkControl& control) = nullptr;
  void (*SetText)(FltkControl& control, const char* text) = nullptr;
};

struct FltkControl {
  NativeHandle Handle;  // the widget; null when the entry is free
  const ControlKind* Kind;
  int32_t Minimum, Maximum;  // a slider's range
};

struct FltkTimer {
  NativeHandle Window;
  int32_t Id;
  double PeriodSeconds;
};

// An event left by a callback during Fl::wait, returned by WaitEvent in arrival order.
struct PostedEvent {
  int32_t Code;
  int32_t Control;
  int32_t Window;
  const FltkTimer* Timer;  // for EVENT_TIMER: at most one expiry per timer waits at a time
};

struct FltkLayer {
  NumberedTable<FltkWindow> Windows{{}, WINDOW_TABLE_GROWTH};
  NumberedTable<FltkControl> Controls{{}, CONTROL_TABLE_GROWTH};
  EventRecord Events{};
  std::deque<PostedEvent> Posted;
  std::list<FltkTimer> Timers;  // a list: FLTK's timeouts hold pointers to the records
  Fl_Window* Parent = nullptr;
  bool WatchingSignals = false;
} Layer;

// The number a window was opened under, kept in its user data; -1 for none.
int32_t WindowNumberOf(const Fl_Window* window) {
  if (!window) return -1;
  return static_cast<int32_t>(reinterpret_cast<intptr_t>(window->user_data()));
}

int32_t FirstWindowNumber() {
  for (int32_t n = 0; n < Layer.Windows.Capacity(); ++n)
    if (Layer.Windows.Find(n)) return n;
  return -1;
}

bool IsLayerWindow(NativeHandle handle) {
  if (!handle) return false;
  for (const FltkWindow& w : Layer.Windows.Entries)
    if (w.Handle == handle) return true;
  return false;
}

// Draws what changed now rather than at the next wait, so a window shows its contents even
// while the caller keeps the main thread busy.
void ShowNow() { Fl::flush(); }

// Close box, window menu, the window manager's close and Alt+F4 come here; Escape, which FLTK
// also routes to a window's callback, does not close. The window stays open.
void OnCloseRequest(Fl_Widget* widget, void*) {
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  DeferEvent(Layer.Events, EVENT_CLOSE, WindowNumberOf(static_cast<Fl_Window*>(widget)));
}

void ShowAgain(void* window);

// A top-level window of the layer. Alt+F4 reaches it only where no window manager takes the key.
// A window without a minimise box that gets minimised all the same (window managers such as
// openbox offer minimising whatever the hints say, and other programs can ask for it) is shown
// again at once, from the next wait.
class LayerWindow : public Fl_Double_Window {
 public:
  LayerWindow(int x, int y, int w, int h) : Fl_Double_Window(x, y, w, h) {}
  void LetManagerPlace() { force_position(0); }
  bool StaysShown = false;  // no minimise box
  int handle(int event) override {
    if ((event == FL_KEYBOARD || event == FL_SHORTCUT) && Fl::event_key() == FL_F + 4 &&
        Fl::event_state(FL_ALT)) {
      DeferEvent(Layer.Events, EVENT_CLOSE, WindowNumberOf(this));
      return 1;
    }
    if (event == FL_HIDE && StaysShown && shown()) Fl::add_timeout(0.0, ShowAgain, this);
    return Fl_Double_Window::handle(event);
  }
};

// Maps a minimised window of the layer again (the window manager then restores it).
void ShowAgain(void* data) {
  auto* window = static_cast<LayerWindow*>(data);
  if (window->shown() && !window->visible()) window->show();
}

// A label: its text drawn as given (no symbol or shortcut codes), left-aligned from the top-left
// corner, on the window's background.
class LabelBox : public Fl_Box {
 public:
  LabelBox(int x, int y, int w, int h) : Fl_Box(x, y, w, h) {
    box(FL_FLAT_BOX);
    color(FL_BACKGROUND_COLOR);
    labelfont(GUI_FONT);
    labelsize(GUI_FONT_SIZE);
    align(LABEL_ALIGN);
  }
  void draw() override {
    draw_box();
    fl_font(labelfont(), labelsize());
    fl_color(active_r() ? labelcolor() : fl_inactive(labelcolor()));
    fl_draw(label() ? label() : "", x(), y(), w(), h(), align(), nullptr, 0);
  }
};

// A slider whose knob ends where the pointer was released. FLTK folds the pointer motions it
// reads in one go into a single move that it dispatches after all of them, so when the last
// motion of a drag and the button's release are read together (a quick drag, or a busy
// program), the release is handled first and that motion then arrives as a plain move: the
// drag would stop short of where the button came up. The release carries the pointer's final
// position, so the slider first drags to it.
class LayerSlider : public Fl_Hor_Nice_Slider {
 public:
  LayerSlider(int x, int y, int w, int h) : Fl_Hor_Nice_Slider(x, y, w, h) {}
  int handle(int event) override {
    if (event == FL_RELEASE && Dragging) Fl_Hor_Nice_Slider::handle(FL_DRAG);
    const int used = Fl_Hor_Nice_Slider::handle(event);
    if (event == FL_PUSH) Dragging = used != 0;
    if (event == FL_RELEASE) Dragging = false;
    return used;
  }

 private:
  bool Dragging = false;  // pressed on this slider and not yet released
};

void SetLabelText(FltkControl& control, const char* text) {
  auto* label = static_cast<LabelBox*>(control.Handle);
  label->copy_label(text);
  label->redraw();
  ShowNow();
}

void SetSliderValue(FltkControl& control, int32_t value) {
  auto* slider = static_cast<Fl_Slider*>(control.Handle);
  slider->value(ClampSliderValue(value, control.Minimum, control.Maximum));
  slider->redraw();
  ShowNow();
}

int32_t GetSliderValue(const FltkControl& control) {
  return static_cast<int32_t>(std::lround(static_cast<Fl_Slider*>(control.Handle)->value()));
}

const ControlKind LabelKind = {.SetText = SetLabelText};
const ControlKind SliderKind = {.SetValue = SetSliderValue, .GetValue = GetSliderValue};

// Every change of a slider's value by the user (drag, click, arrow key) posts one event.
void OnSliderMoved(Fl_Widget* widget, void* number) {
  Layer.Posted.push_back(PostedEvent{EVENT_CONTROL, static_cast<int32_t>(reinterpret_cast<intptr_t>(number)),
                                     WindowNumberOf(widget->window()), nullptr});
}

void OnTimer(void* data) {
  auto* timer = static_cast<FltkTimer*>(data);
  bool waiting = false;
  for (const PostedEvent& e : Layer.Posted) waiting = waiting || e.Timer == timer;
  if (!waiting)
    Layer.Posted.push_back(
        PostedEvent{EVENT_TIMER, 0, WindowNumberOf(static_cast<Fl_Window*>(timer->Window)), timer});
  Fl::repeat_timeout(timer->PeriodSeconds, OnTimer, data);
}

void ForgetPostedTimer(const FltkTimer* timer) {
  for (auto it = Layer.Posted.begin(); it != Layer.Posted.end();)
    it = it->Timer == timer ? Layer.Posted.erase(it) : it + 1;
}

void StopTimersOf(NativeHandle window) {
  for (auto it = Layer.Timers.begin(); it != Layer.Timers.end();) {
    if (it->Window != window) {
      ++it;
      continue;
    }
    Fl::remove_timeout(OnTimer, &*it);
    ForgetPostedTimer(&*it);
    it = Layer.Timers.erase(it);
  }
}

void OnCloseSignal(FL_SOCKET, void*) {
  if (TakeCloseSignal()) DeferEvent(Layer.Events, EVENT_CLOSE, FirstWindowNumber());
}

// Xlib calls this when the connection to the X server breaks; it must not return. Nothing of
// X may be called any more, so the layer cannot release its windows: the program's own routine
// for a lost display ends it.
int OnDisplayLost(Display*) { EndAfterDisplayLost(); }

// What NoteDeleteRequest looks for and what it found.
struct DeleteRequestSearch {
  Atom DeleteWindow;
  bool Found;
};

// For XCheckIfEvent (which allows no Xlib call in here): notes a window manager's close request
// (WM_DELETE_WINDOW) and matches nothing, so every event stays in the queue.
Bool NoteDeleteRequest(Display*, XEvent* event, XPointer data) {
  auto* search = reinterpret_cast<DeleteRequestSearch*>(data);
  if (event->type == ClientMessage && event->xclient.format == 32 &&
      static_cast<Atom>(event->xclient.data.l[0]) == search->DeleteWindow)
    search->Found = true;
  return False;
}

void ReleaseControl(int32_t number) {
  FltkControl* control = Layer.Controls.Find(number);
  if (!control) return;
  auto* widget = static_cast<Fl_Widget*>(control->Handle);
  if (Fl_Group* parent = widget->parent()) parent->remove(widget);
  delete widget;
  *control = FltkControl{};
}

// Destroys the window with its controls and timers; its number and theirs become free.
void ReleaseWindow(int32_t number) {
  FltkWindow* entry = Layer.Windows.Find(number);
  if (!entry) return;
  auto* window = static_cast<Fl_Window*>(entry->Handle);
  for (int32_t n = 0; n < Layer.Controls.Capacity(); ++n) {
    FltkControl* control = Layer.Controls.Find(n);
    if (control && static_cast<Fl_Widget*>(control->Handle)->window() == window) ReleaseControl(n);
  }
  StopTimersOf(window);
  for (auto it = Layer.Posted.begin(); it != Layer.Posted.end();)
    it = it->Window == number ? Layer.Posted.erase(it) : it + 1;
  if (Layer.Parent == window) Layer.Parent = nullptr;
  window->hide();
  Fl::remove_timeout(ShowAgain, window);
  delete window;
  *entry = FltkWindow{};
}

void ReleaseEverything() {
  for (int32_t n = 0; n < Layer.Windows.Capacity(); ++n) ReleaseWindow(n);
  for (int32_t n = 0; n < Layer.Controls.Capacity(); ++n) ReleaseControl(n);
  for (FltkTimer& timer : Layer.Timers) Fl::remove_timeout(OnTimer, &timer);
  Layer.Timers.clear();
  Layer.Posted.clear();
}

bool Available() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  XCloseDisplay(display);
  return true;
}

void Init() {
  ReleaseEverything();
  Layer.Windows = NumberedTable<FltkWindow>{{}, WINDOW_TABLE_GROWTH};
  Layer.Controls = NumberedTable<FltkControl>{{}, CONTROL_TABLE_GROWTH};
  Layer.Events = EventRecord{};
  Layer.Events.EventWindow = -1;
  Layer.Events.EventSubType = -1;
  Layer.Parent = nullptr;
  fl_open_display();
  XSetIOErrorHandler(OnDisplayLost);
  StartCloseSignals();
  if (!Layer.WatchingSignals && CloseSignalFd() >= 0) {
    Fl::add_fd(CloseSignalFd(), FL_READ, OnCloseSignal, nullptr);
    Layer.WatchingSignals = true;
  }
}

void InitControls() {
  Layer.Parent = nullptr;
  Fl::set_font(GUI_FONT, GUI_FONT_NAME);
  Fl::visible_focus(1);
}

void End() {
  ReleaseEverything();
  Layer.Events.Deferred.clear();
  if (Layer.WatchingSignals) Fl::remove_fd(CloseSignalFd());
  Layer.WatchingSignals = false;
  ShowNow();
}

NativeHandle Open(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height, const char* title,
                  int32_t flags) {
  if (!Layer.Windows.Take(number)) return nullptr;
  ReleaseWindow(number);

  int32_t style = flags;
  if ((flags & ~LAYER_FLAG_BITS) == 0) style |= WINDOW_STYLE_CAPTION;
  const bool hidden = (style & WINDOW_HIDDEN) != 0;
  style &= ~(WINDOW_HIDDEN | WINDOW_SCREEN_CENTRED | WINDOW_PARENT_CENTRED);
  const bool resizable = (style & STYLE_THICKFRAME) != 0;

  // The frame's size is known only once the window manager has framed the window: place by
  // the client size first, then again by the outer size.
  int w = width > 0 ? width : 1, h = height > 0 ? height : 1, px = 0, py = 0;
  const bool placed = PlaceWindow(flags, x, y, &w, &h, &px, &py);
  if ((style & WINDOW_STYLE_MAXIMIZE) && !hidden) {
    Fl::screen_work_area(px, py, w, h, 0);
  }

  Fl_Group::current(nullptr);
  auto* window = new LayerWindow(px, py, w, h);
  window->end();
  Fl_Group::current(nullptr);
  if (!placed) window->LetManagerPlace();
  window->copy_label(title);
  char className[CLASS_NAME_SIZE];
  std::snprintf(className, sizeof className, "WindowClass_%ld", static_cast<long>(number));
  window->xclass(className);
  window->user_data(reinterpret_cast<void*>(static_cast<intptr_t>(number)));
  window->callback(OnCloseRequest);
  window->color(FL_BACKGROUND_COLOR);
  window->StaysShown = (style & STYLE_MINIMIZEBOX) == 0;
  if ((style & WINDOW_STYLE_CAPTION) == 0 && !resizable) window->clear_border();
  if (resizable)
    window->size_range(1, 1);
  else
    window->size_range(w, h, w, h);
  Layer.Windows.Take(number)->Handle = window;

  if (!hidden) {
    // Window managers read the frame's hints once, when they take the window on: FLTK creates
    // and maps the X window in one go, so the server is held while the hints go on between
    // the two, and the manager's handling of the map request sees them.
    XGrabServer(fl_display);
    window->show();
    SetFrameHints(window, style);
    XUngrabServer(fl_display);
    XFlush(fl_display);
    window->wait_for_expose();
    if (placed && (flags & (WINDOW_SCREEN_CENTRED | WINDOW_PARENT_CENTRED)))
      PlaceFrame(window, !resizable, flags, x, y, px, py);
    if (style & WINDOW_STYLE_MINIMIZE) window->iconize();
    ShowNow();
  }
  return window;
}

NativeHandle UseParent(NativeHandle window) {
  Layer.Parent = IsLayerWindow(window) ? static_cast<Fl_Window*>(window) : nullptr;
  return window;
}

// Puts a new widget into the control parent under number, releasing the control that had it.
NativeHandle AttachControl(int32_t number, Fl_Widget* widget, const ControlKind* kind, int32_t minimum,
                           int32_t maximum) {
  Layer.Parent->add(widget);
  ReleaseControl(number);
  *Layer.Controls.Take(number) = FltkControl{widget, kind, minimum, maximum};
  widget->redraw();
  return widget;
}

NativeHandle Label(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height, const char* text) {
  if (!Layer.Parent || number < 0) return nullptr;
  Fl_Group::current(nullptr);
  auto* label = new LabelBox(x, y, width, height);
  label->copy_label(text);
  AttachControl(number, label, &LabelKind, 0, 0);
  ShowNow();
  return label;
}

NativeHandle Slider(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height, int32_t minimum,
                    int32_t maximum) {
  if (!Layer.Parent || number < 0) return nullptr;
  if (minimum < 0) minimum = 0;
  if (maximum < 0) maximum = 0;
  Fl_Group::current(nullptr);
  auto* slider = new LayerSlider(x, y, width, height);
  slider->box(FL_FLAT_BOX);
  slider->color(FL_BACKGROUND_COLOR);
  slider->bounds(minimum, maximum);
  slider->step(1);
  slider->callback(OnSliderMoved, reinterpret_cast<void*>(static_cast<intptr_t>(number)));
  slider->when(FL_WHEN_CHANGED);
  AttachControl(number, slider, &SliderKind, minimum, maximum);
  SetSliderValue(*Layer.Controls.Find(number), 0);
  return slider;
}

void SetText(int32_t number, const char* text) {
  FltkControl* control = Layer.Controls.Find(number);
  if (control && control->Kind->SetText) control->Kind->SetText(*control, text);
}

void SetValue(int32_t number, int32_t value) {
  FltkControl* control = Layer.Controls.Find(number);
  if (control && control->Kind->SetValue) control->Kind->SetValue(*control, value);
}

int32_t GetValue(int32_t number) {
  FltkControl* control = Layer.Controls.Find(number);
  return control && control->Kind->GetValue ? control->Kind->GetValue(*control) : 0;
}

// FLTK runs due timeouts at the start of a wait and then blocks until the next input or
// timeout, so an event that a timeout leaves would sit until then: each round therefore first
// runs what is due without blocking, and blocks only when that left nothing to return.
int32_t Wait() {
  EventRecord& events = Layer.Events;
  events.EventSubType = -1;
  bool polled = false;
  for (;;) {
    int32_t code = 0;
    if (TakeDeferredEvent(events, &code)) return code;
    if (!Layer.Posted.empty()) {
      const PostedEvent posted = Layer.Posted.front();
      Layer.Posted.pop_front();
      events.EventWindow = posted.Window;
      events.PendingCode = 0;
      if (posted.Code == EVENT_CONTROL) {
        events.EventControl = posted.Control;
        events.EventSubType = 0;
      }
      return posted.Code;
    }
    if (!polled) {
      Fl::check();
      polled = true;
    } else {
      Fl::wait(WAIT_FOREVER);
      polled = false;
    }
  }
}

int32_t EventControl() { return Layer.Events.EventControl; }

// A close request already deferred, or one from the window manager read from the connection
// but not yet dispatched. Reading the connection costs a system call, so the queue is looked
// at no more often than every CLOSE_PEEK_INTERVAL; a load asks between every two lines.
bool PeekCloseRequest() {
  for (const DeferredEvent& e : Layer.Events.Deferred)
    if (e.Code == EVENT_CLOSE) return true;
  if (!fl_display) return false;
  static std::chrono::steady_clock::time_point nextPeek{};
  const auto now = std::chrono::steady_clock::now();
  if (now < nextPeek) return false;
  nextPeek = now + CLOSE_PEEK_INTERVAL;
  XEventsQueued(fl_display, QueuedAfterReading);
  DeleteRequestSearch search{XInternAtom(fl_display, "WM_DELETE_WINDOW", False), false};
  XEvent event;
  XCheckIfEvent(fl_display, &event, NoteDeleteRequest, reinterpret_cast<XPointer>(&search));
  return search.Found;
}

int32_t StartTimer(NativeHandle window, int32_t id, int32_t periodMs) {
  if (!IsLayerWindow(window) || id == 0 || periodMs <= 0) return 0;
  for (FltkTimer& timer : Layer.Timers) {
    if (timer.Window != window || timer.Id != id) continue;
    Fl::remove_timeout(OnTimer, &timer);
    timer.PeriodSeconds = periodMs / MS_PER_SECOND;
    Fl::add_timeout(timer.PeriodSeconds, OnTimer, &timer);
    return id;
  }
  Layer.Timers.push_back(FltkTimer{window, id, periodMs / MS_PER_SECOND});
  Fl::add_timeout(Layer.Timers.back().PeriodSeconds, OnTimer, &Layer.Timers.back());
  return id;
}

void StopTimer(NativeHandle window, int32_t id) {
  for (auto it = Layer.Timers.begin(); it != Layer.Timers.end(); ++it) {
    if (it->Window != window || it->Id != id) continue;
    Fl::remove_timeout(OnTimer, &*it);
    ForgetPostedTimer(&*it);
    Layer.Timers.erase(it);
    return;
  }
}

}  // namespace

NativeHandle FltkWindowHandle(int32_t window) {
  const FltkWindow* entry = Layer.Windows.Find(window);
  return entry ? entry->Handle : nullptr;
}

NativeHandle FltkControlHandle(int32_t control) {
  const FltkControl* entry = Layer.Controls.Find(control);
  return entry ? entry->Handle : nullptr;
}

int32_t FltkWindowCapacity() { return Layer.Windows.Capacity(); }
int32_t FltkControlCapacity() { return Layer.Controls.Capacity(); }

const WindowLayerOps FltkWindowLayer = {
    .Name = "fltk", .Available = Available, .InitWindowLayer = Init, .InitControlLayer = InitControls,
    .EndWindowLayer = End, .OpenTopWindow = Open, .UseControlParent = UseParent, .CreateLabel = Label,
    .CreateSlider = Slider, .SetControlText = SetText, .SetControlValue = SetValue, .GetControlValue = GetValue,
    .WaitEvent = Wait, .GetEventControl = EventControl, .StartWindowTimer = StartTimer,
    .StopWindowTimer = StopTimer, .CloseRequested = PeekCloseRequest,
};
