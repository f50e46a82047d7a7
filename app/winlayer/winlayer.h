// SPDX-License-Identifier: GPL-2.0-or-later
// The window and control layer: top-level windows and the controls in them are addressed by
// small numbers of the caller's choosing; input arrives as integer codes from WaitEvent.
// Every backend (Win32, FLTK, terminal, display-less) fills one WindowLayerOps table in its
// own file; SelectWindowLayer picks one at start-up and the routines below call through it.
// All routines run on the main thread.
#pragma once
#include <cstdint>

using NativeHandle = void*;  // a backend's own window or control handle; null on failure

// Event codes returned by WaitEvent. The program acts on CONTROL, TIMER and CLOSE only.
constexpr int32_t EVENT_CONTROL = 13100;   // a control was used: GetEventControl tells which
constexpr int32_t EVENT_MENU = 13101;
constexpr int32_t EVENT_ACTIVATE = 13104;
constexpr int32_t EVENT_CLOSE = 16;        // the user asks to close a window; it stays open
constexpr int32_t EVENT_MOVE = 3;
constexpr int32_t EVENT_SIZE = 5;
constexpr int32_t EVENT_REPAINT = 15;
constexpr int32_t EVENT_TIMER = 275;       // a window timer expired
constexpr int32_t MSG_CONTROL_NOTIFY = 13103;  // posted by a slider for each movement

// OpenTopWindow flags; other bits are window style bits and pass through.
constexpr int32_t WINDOW_SCREEN_CENTRED = 1;
constexpr int32_t WINDOW_PARENT_CENTRED = 2;
constexpr int32_t WINDOW_HIDDEN = 0x10000000;
constexpr int32_t WINDOW_STYLE_MAXIMIZE = 0x01000000;
constexpr int32_t WINDOW_STYLE_MINIMIZE = 0x20000000;
constexpr int32_t WINDOW_STYLE_CAPTION = 0x00C00000;   // title bar; added when no style is given
constexpr int32_t WINDOW_STYLE_SYSMENU = 0x00080000;   // window menu and close box
constexpr int32_t WINDOW_DEFAULT_POSITION = -65535;    // x or y: let the system place it

struct WindowLayerOps {
  const char* Name = nullptr;
  // True when this backend can run here (a display opens, a terminal is attached, ...).
  bool (*Available)() = nullptr;
  void (*InitWindowLayer)() = nullptr;
  void (*InitControlLayer)() = nullptr;
  void (*EndWindowLayer)() = nullptr;
  NativeHandle (*OpenTopWindow)(int32_t window, int32_t x, int32_t y, int32_t width, int32_t height,
                                const char* title, int32_t flags) = nullptr;
  NativeHandle (*UseControlParent)(NativeHandle window) = nullptr;
  NativeHandle (*CreateLabel)(int32_t control, int32_t x, int32_t y, int32_t width, int32_t height,
                              const char* text) = nullptr;
  NativeHandle (*CreateSlider)(int32_t control, int32_t x, int32_t y, int32_t width, int32_t height,
                               int32_t minimum, int32_t maximum) = nullptr;
  void (*SetControlText)(int32_t control, const char* text) = nullptr;
  void (*SetControlValue)(int32_t control, int32_t value) = nullptr;
  int32_t (*GetControlValue)(int32_t control) = nullptr;
  int32_t (*WaitEvent)() = nullptr;
  int32_t (*GetEventControl)() = nullptr;
  // A periodic timer bound to window, identified by id; its expiries come out of WaitEvent as
  // EVENT_TIMER. Starting an id that runs restarts it. Returns id, 0 on failure.
  int32_t (*StartWindowTimer)(NativeHandle window, int32_t id, int32_t periodMs) = nullptr;
  void (*StopWindowTimer)(NativeHandle window, int32_t id) = nullptr;
  // True when a close request of a window waits that WaitEvent has not returned yet; looks
  // without taking or dispatching any event (the caller is not in the event loop).
  bool (*CloseRequested)() = nullptr;
};

// Picks the backend once, at start-up: on Windows the Win32 layer; elsewhere FLTK when a
// display opens, else the terminal when standard input and output are terminals, else the
// display-less layer. Silent. Returns the chosen table.
const WindowLayerOps* SelectWindowLayer();
// Makes ops the current backend, giving every operation it lacks a do-nothing default.
const WindowLayerOps* UseWindowLayer(const WindowLayerOps* ops);
const WindowLayerOps* CurrentWindowLayer();

// The layer's operations, through the current backend. Numbers that name nothing are ignored
// and read as 0; texts may be null (empty).
void InitWindowLayer();
void InitControlLayer();
void EndWindowLayer();
// Client area width x height pixels; flags as above. Returns the native window or null.
NativeHandle OpenTopWindow(int32_t window, int32_t x, int32_t y, int32_t width, int32_t height,
                           const char* title, int32_t flags);
// New controls go into window. Returns window.
NativeHandle UseControlParent(NativeHandle window);
NativeHandle CreateLabel(int32_t control, int32_t x, int32_t y, int32_t width, int32_t height,
                         const char* text);
// A horizontal slider from minimum to maximum (negative bounds count as 0), at 0.
NativeHandle CreateSlider(int32_t control, int32_t x, int32_t y, int32_t width, int32_t height,
                          int32_t minimum, int32_t maximum);
void SetControlText(int32_t control, const char* text);
void SetControlValue(int32_t control, int32_t value);
int32_t GetControlValue(int32_t control);
// Blocks until the next event and returns its code; deferred events come first.
int32_t WaitEvent();
// The control of the last EVENT_CONTROL.
int32_t GetEventControl();
int32_t StartWindowTimer(NativeHandle window, int32_t id, int32_t periodMs);
void StopWindowTimer(NativeHandle window, int32_t id);
// True when a window's close request waits in the input not yet taken (false where the backend
// cannot tell without taking events).
bool CloseRequested();

// The display went away for good (the X server ended): nothing of the window system can be
// called any more. The program's routine for this runs the steps of its shutdown that need no
// window; then the process ends with code 0. Null: it just ends.
using DisplayLostRoutine = void (*)();
void SetDisplayLostRoutine(DisplayLostRoutine routine);
// Called by a backend that has lost its display: the routine, then the end of the process.
[[noreturn]] void EndAfterDisplayLost();

// Backends compiled into this build.
#if defined(_WIN32)
extern const WindowLayerOps Win32WindowLayer;
#endif
#if defined(TONEWELL_HAVE_FLTK)
extern const WindowLayerOps FltkWindowLayer;
#endif
#if defined(TONEWELL_HAVE_CURSES)
extern const WindowLayerOps TerminalWindowLayer;
#endif
#if !defined(_WIN32)
extern const WindowLayerOps HeadlessWindowLayer;
#endif
