// SPDX-License-Identifier: GPL-2.0-or-later
// The Win32 window layer's records, shared by its window, control and tracker files, and the
// few inner routines that the Windows tests call directly. Everything runs on the main thread
// except the brush cache, which has its own lock.
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "app/winlayer/layer_common.h"

// Commands of the Tab and Shift+Tab accelerators: move the focus to the next/previous control.
constexpr int32_t COMMAND_FOCUS_NEXT = 1212;
constexpr int32_t COMMAND_FOCUS_PREVIOUS = 1213;
// A message of the layer that a control kind's handler gets (lParam: the control's handle).
constexpr UINT MSG_CONTROL_PRIVATE = 13120;
constexpr int32_t NO_COLOUR = -1;  // text or background colour: the system's default

// Property names of the marks that lead from a native window or control to its number.
extern const char* const WINDOW_MARK;
extern const char* const CONTROL_MARK;

// What one kind of control does; an empty operation means "the layer's default / nothing".
struct ControlKind {
  const char* Name = nullptr;
  // A message that the parent window got from or about the control. *handled false: the
  // parent's default processing follows.
  LRESULT (*HandleMessage)(int32_t control, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                           bool* handled) = nullptr;
  void (*SetValue)(int32_t control, int32_t value) = nullptr;
  int32_t (*GetValue)(int32_t control) = nullptr;
  void (*SetText)(int32_t control, const char* text) = nullptr;
  void (*SetAttribute)(int32_t control, int32_t attribute, int32_t value) = nullptr;
  int32_t (*GetAttribute)(int32_t control, int32_t attribute) = nullptr;
  void (*SetColour)(int32_t control, int32_t textColour, int32_t backgroundColour) = nullptr;
  int32_t (*GetColour)(int32_t control, int32_t which) = nullptr;  // 0 text, 1 background
  void (*Release)(int32_t control) = nullptr;
};

extern const ControlKind LabelKind;
extern const ControlKind SliderKind;

struct Win32Window {
  NativeHandle Handle;          // HWND; null: the entry is free
  HACCEL Accelerators;          // Tab / Shift+Tab
  ACCEL AcceleratorEntries[2];
  HBRUSH Background;            // own background brush; null: the class brush
  int32_t BackgroundColour;     // NO_COLOUR by default
  HWND MdiClient;               // never used by the program
};

struct Win32Control {
  NativeHandle Handle;          // HWND; null: the entry is free
  const ControlKind* Kind;
  WNDPROC PreviousProc;         // the procedure the control had before it was attached
  int32_t TextColour;           // NO_COLOUR: system default
  int32_t BackgroundColour;
  HBRUSH BackgroundBrush;       // from the brush cache when BackgroundColour is set
};

// One solid brush per colour, shared and counted.
struct CachedBrush {
  COLORREF Colour;
  HBRUSH Brush;
  int32_t References;
};

// Sizing of a resizable window by its border without the system's modal sizing loop, so
// that WaitEvent keeps returning events while the user drags.
struct SizeTracker {
  HWND Window;                  // the window being sized; null when idle
  int32_t Edge;                 // WMSZ_* edge being dragged
  POINT StartCursor;
  RECT StartRect;
};

struct Win32Layer {
  NumberedTable<Win32Window> Windows{{}, WINDOW_TABLE_GROWTH};
  NumberedTable<Win32Control> Controls{{}, CONTROL_TABLE_GROWTH};
  EventRecord Events{};
  void* DropData = nullptr;     // data a drop delivered with the last event (never, here)
  HICON Icon = nullptr;
  HCURSOR Cursor = nullptr;
  SizeTracker Tracker{};
  HWND ControlParent = nullptr; // where new controls go
  HFONT Font = nullptr;         // the font they get
  CRITICAL_SECTION BrushLock;
  bool BrushLockReady = false;
  std::vector<CachedBrush> Brushes;
};

extern Win32Layer Layer;

HINSTANCE LayerModule();
// Marks hwnd with number under mark (the number is kept as number + 1, so 0 is "unmarked").
void MarkNumber(HWND hwnd, const char* mark, int32_t number);
// The number hwnd is marked with, or -1.
int32_t MarkedNumber(HWND hwnd, const char* mark);
// Walks from hwnd up through its parents to the first window marked as a layer window and
// returns that window's number (-1 when none) and, if wanted, its handle.
int32_t WindowNumberOf(HWND hwnd, HWND* top = nullptr);
// The number of an attached control (by its mark, else by the table), or -1.
int32_t ControlNumberOf(HWND hwnd);

// The window layer's own parts, used by the table of operations.
void Win32InitControlLayer();
NativeHandle Win32CreateLabel(int32_t control, int32_t x, int32_t y, int32_t width, int32_t height, const char* text);
NativeHandle Win32CreateSlider(int32_t control, int32_t x, int32_t y, int32_t width, int32_t height,
                               int32_t minimum, int32_t maximum);
void Win32SetControlText(int32_t control, const char* text);
void Win32SetControlValue(int32_t control, int32_t value);
int32_t Win32GetControlValue(int32_t control);
// Hands a message about a control to its kind's handler; false when nobody handled it.
bool OfferToControl(HWND control, HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
// Colours of a control (NO_COLOUR for the default) through its kind; no-op for other kinds.
void SetControlColours(int32_t control, int32_t textColour, int32_t backgroundColour);
int32_t GetControlColour(int32_t control, int32_t which);

// The brush cache: a brush of colour, shared by every holder of that colour; the brush is
// deleted when its last holder releases it.
HBRUSH AcquireBrush(COLORREF colour);
void ReleaseBrush(HBRUSH brush);
int32_t CachedBrushCount();
int32_t CachedBrushReferences(COLORREF colour);

// The moving and sizing tracker: first look at every message of a layer window. True when it
// took the message (its result in *result).
bool TrackSizing(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

// Moves the focus among the enabled, visible WS_TABSTOP children of window, in
// EnumChildWindows order, to the next (forward) or previous one, wrapping around.
void MoveFocus(HWND window, bool forward);
