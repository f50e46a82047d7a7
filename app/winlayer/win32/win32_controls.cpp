// SPDX-License-Identifier: GPL-2.0-or-later
// The Win32 window layer's controls: "Static" labels and "msctls_trackbar32" sliders, each
// attached to the layer by a control procedure that chains to the control's own, the tables of
// operations of the two kinds, and the cache of background brushes.
#include "app/winlayer/win32/win32_layer.h"

#include <commctrl.h>

namespace {

// The common controls of the layer's class set: tab, date, extended combo box and internet
// address classes.
constexpr DWORD COMMON_CONTROL_CLASSES = ICC_TAB_CLASSES | ICC_DATE_CLASSES | ICC_USEREX_CLASSES | ICC_INTERNET_CLASSES;
static_assert(COMMON_CONTROL_CLASSES == 0x0B08, "common-control class set");

HWND ControlHandle(int32_t control) {
  const Win32Control* c = Layer.Controls.Find(control);
  return c ? static_cast<HWND>(c->Handle) : nullptr;
}

// Every message of an attached control goes to its previous procedure; when the control is
// gone (WM_NCDESTROY) the layer lets go of it: its kind's release, its mark, its identifier
// and its table entry.
LRESULT CALLBACK LayerControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const int32_t control = ControlNumberOf(hwnd);
  const Win32Control* c = Layer.Controls.Find(control);
  const WNDPROC previous = c ? c->PreviousProc : nullptr;
  const ControlKind* kind = c ? c->Kind : nullptr;
  const LRESULT result = previous ? CallWindowProcA(previous, hwnd, message, wParam, lParam)
                                  : DefWindowProcA(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY && control >= 0) {
    if (kind && kind->Release) kind->Release(control);
    RemovePropA(hwnd, CONTROL_MARK);
    SetWindowLongPtrA(hwnd, GWLP_ID, -1);
    Layer.Controls.Free(control);
  }
  return result;
}

// A control already under the number is destroyed first; its entry is freed by its control
// procedure.
void ReleaseControl(int32_t control) {
  if (HWND old = ControlHandle(control)) DestroyWindow(old);
  Layer.Controls.Free(control);
}

// Table entry, control procedure, identifier, mark and font for a newly created control.
HWND AttachControl(HWND hwnd, int32_t control, const ControlKind* kind) {
  ReleaseControl(control);
  Win32Control* c = Layer.Controls.Take(control);
  if (!c) {
    DestroyWindow(hwnd);
    return nullptr;
  }
  *c = Win32Control{hwnd, kind, nullptr, NO_COLOUR, NO_COLOUR, nullptr};
  c->PreviousProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LayerControlProc)));
  SetWindowLongPtrA(hwnd, GWLP_ID, control);
  MarkNumber(hwnd, CONTROL_MARK, control);
  SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(Layer.Font), TRUE);
  return hwnd;
}

// --- Labels -------------------------------------------------------------------------------

// WM_CTLCOLORSTATIC: the label's own colours where set; with both at the default the parent's
// default processing chooses.
LRESULT LabelMessage(int32_t control, HWND, UINT message, WPARAM wParam, LPARAM, bool* handled) {
  const Win32Control* c = Layer.Controls.Find(control);
  *handled = false;
  if (!c || message != WM_CTLCOLORSTATIC) return 0;
  if (c->TextColour == NO_COLOUR && c->BackgroundColour == NO_COLOUR) return 0;
  HDC dc = reinterpret_cast<HDC>(wParam);
  SetTextColor(dc, c->TextColour != NO_COLOUR ? static_cast<COLORREF>(c->TextColour) : GetSysColor(COLOR_BTNTEXT));
  *handled = true;
  if (c->BackgroundColour != NO_COLOUR && c->BackgroundBrush) {
    SetBkColor(dc, static_cast<COLORREF>(c->BackgroundColour));
    return reinterpret_cast<LRESULT>(c->BackgroundBrush);
  }
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

void LabelSetColour(int32_t control, int32_t textColour, int32_t backgroundColour) {
  Win32Control* c = Layer.Controls.Find(control);
  if (!c) return;
  if (c->BackgroundBrush) ReleaseBrush(c->BackgroundBrush);
  c->BackgroundBrush = nullptr;
  c->TextColour = textColour;
  c->BackgroundColour = backgroundColour;
  if (backgroundColour != NO_COLOUR) c->BackgroundBrush = AcquireBrush(static_cast<COLORREF>(backgroundColour));
  RedrawWindow(static_cast<HWND>(c->Handle), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
}

int32_t LabelGetColour(int32_t control, int32_t which) {
  const Win32Control* c = Layer.Controls.Find(control);
  if (!c) return NO_COLOUR;
  return which == 0 ? c->TextColour : c->BackgroundColour;
}

void LabelRelease(int32_t control) {
  Win32Control* c = Layer.Controls.Find(control);
  if (c && c->BackgroundBrush) {
    ReleaseBrush(c->BackgroundBrush);
    c->BackgroundBrush = nullptr;
  }
}

// --- Sliders ------------------------------------------------------------------------------

bool IsVertical(HWND slider) { return (GetWindowLongPtrA(slider, GWL_STYLE) & TBS_VERT) != 0; }

// A vertical slider is mirrored: its top end is the maximum.
int32_t Mirrored(HWND slider, int32_t value) {
  const auto minimum = static_cast<int32_t>(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0));
  const auto maximum = static_cast<int32_t>(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0));
  return minimum + maximum - value;
}

void SliderSetValue(int32_t control, int32_t value) {
  HWND slider = ControlHandle(control);
  if (!slider) return;
  if (IsVertical(slider)) value = Mirrored(slider, value);
  SendMessageA(slider, TBM_SETPOS, TRUE, value);
}

int32_t SliderGetValue(int32_t control) {
  HWND slider = ControlHandle(control);
  if (!slider) return 0;
  const auto position = static_cast<int32_t>(SendMessageA(slider, TBM_GETPOS, 0, 0));
  return IsVertical(slider) ? Mirrored(slider, position) : position;
}

// Every scroll notification (drag, keys, clicks, end of tracking) becomes one
// MSG_CONTROL_NOTIFY posted to the top-level window, so that each movement comes out of
// WaitEvent as exactly one EVENT_CONTROL, in order with the other input.
LRESULT SliderMessage(int32_t control, HWND window, UINT message, WPARAM, LPARAM, bool* handled) {
  *handled = false;
  if (message != WM_HSCROLL && message != WM_VSCROLL) return 0;
  HWND top = nullptr;
  WindowNumberOf(window, &top);
  if (top) PostMessageA(top, MSG_CONTROL_NOTIFY, static_cast<WPARAM>(control), 0);
  *handled = true;
  return 0;
}

}  // namespace

const ControlKind LabelKind = {
    .Name = "label", .HandleMessage = LabelMessage, .SetColour = LabelSetColour, .GetColour = LabelGetColour,
    .Release = LabelRelease,
};

const ControlKind SliderKind = {
    .Name = "slider", .HandleMessage = SliderMessage, .SetValue = SliderSetValue, .GetValue = SliderGetValue,
};

int32_t ControlNumberOf(HWND hwnd) {
  if (!hwnd) return -1;
  const int32_t marked = MarkedNumber(hwnd, CONTROL_MARK);
  if (marked >= 0) return marked;
  // Between attaching the procedure and setting the mark.
  for (int32_t control = 0; control < Layer.Controls.Capacity(); ++control)
    if (ControlHandle(control) == hwnd) return control;
  return -1;
}

void Win32InitControlLayer() {
  if (!Layer.BrushLockReady) {
    InitializeCriticalSection(&Layer.BrushLock);
    Layer.BrushLockReady = true;
  }
  Layer.Font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  Layer.Controls = NumberedTable<Win32Control>{{}, CONTROL_TABLE_GROWTH};
  Layer.ControlParent = nullptr;
  INITCOMMONCONTROLSEX classes{};
  classes.dwSize = 8;
  classes.dwICC = COMMON_CONTROL_CLASSES;
  InitCommonControlsEx(&classes);
}

NativeHandle Win32CreateLabel(int32_t control, int32_t x, int32_t y, int32_t width, int32_t height, const char* text) {
  if (control < 0) return nullptr;
  HWND hwnd = CreateWindowExA(0, "Static", text, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, x, y, width, height,
                              Layer.ControlParent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(-1)), LayerModule(),
                              nullptr);
  if (!hwnd) return nullptr;
  return AttachControl(hwnd, control, &LabelKind);
}

NativeHandle Win32CreateSlider(int32_t control, int32_t x, int32_t y, int32_t width, int32_t height, int32_t minimum,
                               int32_t maximum) {
  if (control < 0) return nullptr;
  HWND hwnd = CreateWindowExA(0, TRACKBAR_CLASSA, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBS_HORZ, x, y, width,
                              height, Layer.ControlParent, nullptr, LayerModule(), nullptr);
  if (!hwnd) return nullptr;
  if (!AttachControl(hwnd, control, &SliderKind)) return nullptr;
  SendMessageA(hwnd, TBM_SETRANGEMIN, FALSE, minimum < 0 ? 0 : minimum);
  SendMessageA(hwnd, TBM_SETRANGEMAX, FALSE, maximum < 0 ? 0 : maximum);
  Win32SetControlValue(control, 0);
  return hwnd;
}

// A kind's own text operation where it has one, else the window text (shown at once).
void Win32SetControlText(int32_t control, const char* text) {
  const Win32Control* c = Layer.Controls.Find(control);
  if (!c) return;
  if (c->Kind && c->Kind->SetText)
    c->Kind->SetText(control, text);
  else
    SetWindowTextA(static_cast<HWND>(c->Handle), text);
}

void Win32SetControlValue(int32_t control, int32_t value) {
  const Win32Control* c = Layer.Controls.Find(control);
  if (c && c->Kind && c->Kind->SetValue) c->Kind->SetValue(control, value);
}

int32_t Win32GetControlValue(int32_t control) {
  const Win32Control* c = Layer.Controls.Find(control);
  return c && c->Kind && c->Kind->GetValue ? c->Kind->GetValue(control) : 0;
}

bool OfferToControl(HWND control, HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  const int32_t number = ControlNumberOf(control);
  const Win32Control* c = Layer.Controls.Find(number);
  if (!c || !c->Kind || !c->Kind->HandleMessage) return false;
  bool handled = false;
  *result = c->Kind->HandleMessage(number, window, message, wParam, lParam, &handled);
  return handled;
}

void SetControlColours(int32_t control, int32_t textColour, int32_t backgroundColour) {
  const Win32Control* c = Layer.Controls.Find(control);
  if (c && c->Kind && c->Kind->SetColour) c->Kind->SetColour(control, textColour, backgroundColour);
}

int32_t GetControlColour(int32_t control, int32_t which) {
  const Win32Control* c = Layer.Controls.Find(control);
  return c && c->Kind && c->Kind->GetColour ? c->Kind->GetColour(control, which) : NO_COLOUR;
}

// --- The brush cache ----------------------------------------------------------------------

HBRUSH AcquireBrush(COLORREF colour) {
  if (!Layer.BrushLockReady) return nullptr;
  EnterCriticalSection(&Layer.BrushLock);
  HBRUSH brush = nullptr;
  for (CachedBrush& cached : Layer.Brushes)
    if (cached.Colour == colour) {
      ++cached.References;
      brush = cached.Brush;
      break;
    }
  if (!brush) {
    brush = CreateSolidBrush(colour);
    if (brush) Layer.Brushes.push_back(CachedBrush{colour, brush, 1});
  }
  LeaveCriticalSection(&Layer.BrushLock);
  return brush;
}

void ReleaseBrush(HBRUSH brush) {
  if (!brush || !Layer.BrushLockReady) return;
  EnterCriticalSection(&Layer.BrushLock);
  for (size_t i = 0; i < Layer.Brushes.size(); ++i) {
    if (Layer.Brushes[i].Brush != brush) continue;
    if (--Layer.Brushes[i].References <= 0) {
      DeleteObject(brush);
      Layer.Brushes.erase(Layer.Brushes.begin() + static_cast<std::ptrdiff_t>(i));
    }
    break;
  }
  LeaveCriticalSection(&Layer.BrushLock);
}

int32_t CachedBrushCount() {
  if (!Layer.BrushLockReady) return 0;
  EnterCriticalSection(&Layer.BrushLock);
  const auto count = static_cast<int32_t>(Layer.Brushes.size());
  LeaveCriticalSection(&Layer.BrushLock);
  return count;
}

int32_t CachedBrushReferences(COLORREF colour) {
  if (!Layer.BrushLockReady) return 0;
  EnterCriticalSection(&Layer.BrushLock);
  int32_t references = 0;
  for (const CachedBrush& cached : Layer.Brushes)
    if (cached.Colour == colour) references = cached.References;
  LeaveCriticalSection(&Layer.BrushLock);
  return references;
}
