// SPDX-License-Identifier: GPL-2.0-or-later
// The Win32 window layer: top-level windows, their window procedure, the event wait and the
// layer's start and end. Controls are in win32_controls.cpp, the sizing tracker in
// win32_tracker.cpp.
#include "app/app_context.h"
#include "platform/heap.h"

#include "app/winlayer/win32/win32_layer.h"

#include <commctrl.h>

#include <cstdio>

const char* const WINDOW_MARK = "TonewellWindowNumber";
const char* const CONTROL_MARK = "TonewellControlNumber";

Win32Layer Layer;

namespace {

constexpr int32_t CENTRING_FLAGS = WINDOW_SCREEN_CENTRED | WINDOW_PARENT_CENTRED;
constexpr int32_t LAYER_FLAGS = CENTRING_FLAGS | WINDOW_HIDDEN;

void ClassName(int32_t window, char (&name)[32]) {
  std::snprintf(name, sizeof name, "WindowClass_%ld", static_cast<long>(window));
}

// Releases window number `window`: activates its owner, removes the mark, destroys it (its
// controls go with it), unregisters its class, drops its accelerators and own brush, and
// frees the entry.
void ReleaseWindow(int32_t window) {
  Win32Window* w = Layer.Windows.Find(window);
  if (!w) return;
  HWND hwnd = static_cast<HWND>(w->Handle);
  if (HWND owner = GetWindow(hwnd, GW_OWNER)) SetActiveWindow(owner);
  RemovePropA(hwnd, WINDOW_MARK);
  DestroyWindow(hwnd);
  char name[32];
  ClassName(window, name);
  UnregisterClassA(name, LayerModule());
  w = Layer.Windows.Find(window);  // the table may have moved while messages ran
  if (!w) return;
  w->AcceleratorEntries[0] = ACCEL{};
  w->AcceleratorEntries[1] = ACCEL{};
  if (w->Accelerators) DestroyAcceleratorTable(w->Accelerators);
  if (w->Background) DeleteObject(w->Background);
  *w = Win32Window{};
}

BOOL CALLBACK PassToChild(HWND child, LPARAM message) {
  SendMessageA(child, static_cast<UINT>(message), 0, 0);
  return TRUE;
}

// Handle of the control a WM_NOTIFY, WM_CTLCOLOR*, scroll or private message is about.
HWND ControlOfMessage(UINT message, LPARAM lParam) {
  if (message == WM_NOTIFY) return lParam ? reinterpret_cast<NMHDR*>(lParam)->hwndFrom : nullptr;
  return reinterpret_cast<HWND>(lParam);
}

LRESULT CALLBACK LayerWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT tracked = 0;
  if (TrackSizing(hwnd, message, wParam, lParam, &tracked)) return tracked;

  EventRecord& events = Layer.Events;
  const int32_t window = WindowNumberOf(hwnd);
  events.EventWindow = window;

  switch (message) {
    case WM_CLOSE:
    case WM_MOVE:
      DeferEvent(events, static_cast<int32_t>(message), window);
      return 0;
    case WM_SIZE:
      if (MarkedNumber(hwnd, WINDOW_MARK) < 0 || GetParent(hwnd)) return 1;
      if (wParam == SIZE_MINIMIZED) return DefWindowProcA(hwnd, message, wParam, lParam);
      DeferEvent(events, EVENT_SIZE, window);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) DeferEvent(events, EVENT_ACTIVATE, window);
      return 1;
    case WM_ERASEBKGND: {
      LRESULT erased;
      Win32Window* w = Layer.Windows.Find(window);
      if (w && w->Background) {
        RECT client;
        GetClientRect(hwnd, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, w->Background);
        erased = 1;
      } else {
        erased = DefWindowProcA(hwnd, message, wParam, lParam);
      }
      DeferEvent(events, EVENT_REPAINT, window);
      return erased;
    }
    case WM_SYSCOLORCHANGE:
      EnumChildWindows(hwnd, PassToChild, static_cast<LPARAM>(message));
      return DefWindowProcA(hwnd, message, wParam, lParam);
    case WM_COMMAND: {
      if (lParam != 0) {  // from a control
        HWND control = reinterpret_cast<HWND>(lParam);
        LRESULT result = 0;
        if (OfferToControl(control, hwnd, message, wParam, lParam, &result)) return result;
        events.PendingCode = EVENT_CONTROL;
        events.EventControl = static_cast<int32_t>(GetWindowLongPtrA(control, GWLP_ID));
        events.EventSubType = HIWORD(wParam);
        return 0;
      }
      const int32_t command = LOWORD(wParam);  // menu or accelerator
      if (command == COMMAND_FOCUS_NEXT || command == COMMAND_FOCUS_PREVIOUS) {
        MoveFocus(hwnd, command == COMMAND_FOCUS_NEXT);
      } else {
        events.PendingCode = EVENT_MENU;
        events.EventControl = command;
      }
      return 0;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_NOTIFY:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
    case MSG_CONTROL_PRIVATE: {
      LRESULT result = 0;
      if (OfferToControl(ControlOfMessage(message, lParam), hwnd, message, wParam, lParam, &result)) return result;
      return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    case MSG_CONTROL_NOTIFY:
      events.PendingCode = EVENT_CONTROL;
      events.EventControl = static_cast<int32_t>(wParam);
      events.EventSubType = static_cast<int32_t>(lParam);
      return 0;
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

// Tab goes into the text of a writable rich-edit control instead of moving the focus.
bool TabBelongsToFocus() {
  if (GetKeyState(VK_TAB) >= 0 || GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_CONTROL) < 0 ||
      GetKeyState(VK_MENU) < 0)
    return false;
  HWND focus = GetFocus();
  if (!focus) return false;
  char kind[32] = {};
  GetClassNameA(focus, kind, sizeof kind);
  if (_strnicmp(kind, "RichEdit", 8) != 0) return false;
  return (GetWindowLongPtrA(focus, GWL_STYLE) & ES_READONLY) == 0;
}

void Win32InitWindowLayer() {
  Layer.Windows = NumberedTable<Win32Window>{{}, WINDOW_TABLE_GROWTH};
  Layer.Events = EventRecord{};
  Layer.Events.EventWindow = -1;
  Layer.Events.EventSubType = -1;
  Layer.DropData = nullptr;
  Layer.Tracker = SizeTracker{};
  // Icon resource 1 of the program; it carries none, so the system's default icon.
  Layer.Icon = LoadIconA(LayerModule(), MAKEINTRESOURCEA(1));
  if (!Layer.Icon) Layer.Icon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  Layer.Cursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
}

void Win32EndWindowLayer() {
  for (int32_t window = 0; window < Layer.Windows.Capacity(); ++window) ReleaseWindow(window);
  if (Layer.DropData) {
    HeapRelease(App.Heaps.Heap, Layer.DropData);
    Layer.DropData = nullptr;
  }
}

NativeHandle Win32OpenTopWindow(int32_t window, int32_t x, int32_t y, int32_t width, int32_t height,
                                const char* title, int32_t flags) {
  // 1. The table entry; a window already under the number goes first.
  if (window < 0) return nullptr;
  ReleaseWindow(window);
  Win32Window* entry = Layer.Windows.Take(window);

  // 2. The window's own class.
  char name[32];
  ClassName(window, name);
  WNDCLASSA windowClass{};
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = LayerWindowProc;
  windowClass.hInstance = LayerModule();
  windowClass.hIcon = Layer.Icon;
  windowClass.hCursor = Layer.Cursor;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = name;
  RegisterClassA(&windowClass);

  // 3. Style: a title bar when no style bit is given; WINDOW_HIDDEN is the layer's own.
  if ((flags & ~LAYER_FLAGS) == 0) flags |= WS_CAPTION;
  const bool hidden = (flags & WINDOW_HIDDEN) != 0;
  flags &= ~WINDOW_HIDDEN;
  const DWORD style = static_cast<DWORD>(flags & ~CENTRING_FLAGS);

  // 4. Outer size from the client size.
  RECT outer{0, 0, width, height};
  AdjustWindowRect(&outer, style, FALSE);
  int32_t outerWidth = outer.right - outer.left;
  int32_t outerHeight = outer.bottom - outer.top;

  // 5. Position.
  if ((x == WINDOW_DEFAULT_POSITION || y == WINDOW_DEFAULT_POSITION) && !(flags & CENTRING_FLAGS)) {
    x = CW_USEDEFAULT;
    y = CW_USEDEFAULT;
  }
  if (flags & WINDOW_SCREEN_CENTRED) {
    const int32_t screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int32_t screenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (outerWidth > screenWidth) outerWidth = screenWidth;
    if (outerHeight > screenHeight) outerHeight = screenHeight;
    x = (screenWidth - outerWidth) / 2;
    y = (screenHeight - outerHeight) / 2;
  } else if (flags & WINDOW_PARENT_CENTRED) {
    RECT around;
    HWND parent = GetActiveWindow();  // a top-level window has no parent of its own
    if (parent && GetWindowRect(parent, &around)) {
      x = around.left + (around.right - around.left - outerWidth) / 2;
      y = around.top + (around.bottom - around.top - outerHeight) / 2;
      if (x < 0) x = 0;
      if (y < 0) y = 0;
    }
  }

  // 6. The window.
  HWND hwnd = CreateWindowExA(0, name, title, style, x, y, outerWidth, outerHeight, nullptr, nullptr,
                              LayerModule(), nullptr);
  entry = Layer.Windows.Take(window);
  if (!hwnd) {
    UnregisterClassA(name, LayerModule());
    *entry = Win32Window{};
    return nullptr;
  }
  entry->Handle = hwnd;
  entry->BackgroundColour = NO_COLOUR;

  // 7. The mark that leads from the window (and its controls) back to the number.
  MarkNumber(hwnd, WINDOW_MARK, window);

  // 8. Shown unless hidden.
  if (!hidden) {
    int show = SW_SHOWNORMAL;
    if (style & WS_MAXIMIZE)
      show = SW_SHOWMAXIMIZED;
    else if (style & WS_MINIMIZE)
      show = SW_SHOWMINIMIZED;
    ShowWindow(hwnd, show);
  }

  // 9. Tab and Shift+Tab move the focus.
  entry = Layer.Windows.Find(window);
  if (!entry) return hwnd;
  entry->AcceleratorEntries[0] = ACCEL{FVIRTKEY | FNOINVERT, VK_TAB, COMMAND_FOCUS_NEXT};
  entry->AcceleratorEntries[1] = ACCEL{FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, COMMAND_FOCUS_PREVIOUS};
  entry->Accelerators = CreateAcceleratorTableA(entry->AcceleratorEntries, 2);
  return hwnd;
}

NativeHandle Win32UseControlParent(NativeHandle window) {
  Layer.ControlParent = static_cast<HWND>(window);
  return window;
}

int32_t Win32WaitEvent() {
  EventRecord& events = Layer.Events;
  // 1. Data of an earlier drop is not kept past the next wait.
  if (Layer.DropData) {
    HeapRelease(App.Heaps.Heap, Layer.DropData);
    Layer.DropData = nullptr;
  }
  events.EventSubType = -1;

  // 2. Deferred events first, without taking a message.
  int32_t code = 0;
  if (TakeDeferredEvent(events, &code)) return code;

  // 3. The next message of the thread; its result is not examined (a quit comes back raw).
  MSG message{};
  GetMessageA(&message, nullptr, 0, 0);

  // 4-5. Tab and Shift+Tab of the active window; everything else is dispatched.
  HWND active = GetActiveWindow();
  const Win32Window* w = Layer.Windows.Find(WindowNumberOf(active));
  const bool accelerated = w && w->Accelerators && !TabBelongsToFocus() &&
                           TranslateAcceleratorA(active, w->Accelerators, &message);
  if (!accelerated) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }

  // 6. An event that the dispatch produced.
  if (events.PendingCode != 0) {
    code = events.PendingCode;
    events.PendingCode = 0;
    return code;
  }
  // 7. Otherwise the message itself.
  events.WParam = static_cast<intptr_t>(message.wParam);
  events.LParam = static_cast<intptr_t>(message.lParam);
  return static_cast<int32_t>(message.message);
}

int32_t Win32GetEventControl() { return Layer.Events.EventControl; }

// The refresh timer: a system timer of the window; its WM_TIMER (275) comes out of the wait raw.
int32_t Win32StartWindowTimer(NativeHandle window, int32_t id, int32_t periodMs) {
  if (!window || id <= 0 || periodMs <= 0) return 0;
  return SetTimer(static_cast<HWND>(window), static_cast<UINT_PTR>(id), static_cast<UINT>(periodMs), nullptr) ? id : 0;
}

void Win32StopWindowTimer(NativeHandle window, int32_t id) {
  if (window) KillTimer(static_cast<HWND>(window), static_cast<UINT_PTR>(id));
}

}  // namespace

HINSTANCE LayerModule() {
  return App.ModuleInstance ? static_cast<HINSTANCE>(App.ModuleInstance) : GetModuleHandleA(nullptr);
}

void MarkNumber(HWND hwnd, const char* mark, int32_t number) {
  SetPropA(hwnd, mark, reinterpret_cast<HANDLE>(static_cast<intptr_t>(number) + 1));
}

int32_t MarkedNumber(HWND hwnd, const char* mark) {
  if (!hwnd) return -1;
  const intptr_t value = reinterpret_cast<intptr_t>(GetPropA(hwnd, mark));
  return value ? static_cast<int32_t>(value - 1) : -1;
}

int32_t WindowNumberOf(HWND hwnd, HWND* top) {
  for (HWND at = hwnd; at; at = GetParent(at)) {
    const int32_t number = MarkedNumber(at, WINDOW_MARK);
    if (number >= 0) {
      if (top) *top = at;
      return number;
    }
  }
  if (top) *top = nullptr;
  return -1;
}

namespace {

struct FocusOrder {
  HWND Stops[256];
  int32_t Count;
};

BOOL CALLBACK CollectTabStop(HWND child, LPARAM order) {
  auto* list = reinterpret_cast<FocusOrder*>(order);
  if (list->Count < 256 && IsWindowEnabled(child) && IsWindowVisible(child) &&
      (GetWindowLongPtrA(child, GWL_STYLE) & WS_TABSTOP))
    list->Stops[list->Count++] = child;
  return TRUE;
}

}  // namespace

void MoveFocus(HWND window, bool forward) {
  FocusOrder order{};
  EnumChildWindows(window, CollectTabStop, reinterpret_cast<LPARAM>(&order));
  if (order.Count == 0) return;
  HWND focus = GetFocus();
  int32_t at = -1;
  for (int32_t i = 0; i < order.Count; ++i)
    if (order.Stops[i] == focus || IsChild(order.Stops[i], focus)) at = i;
  int32_t next;
  if (at < 0)
    next = forward ? 0 : order.Count - 1;
  else
    next = forward ? (at + 1) % order.Count : (at + order.Count - 1) % order.Count;
  SetFocus(order.Stops[next]);
}

// Always available on Windows; close requests are seen only by the event loop.
const WindowLayerOps Win32WindowLayer = {
    .Name = "win32", .InitWindowLayer = Win32InitWindowLayer, .InitControlLayer = Win32InitControlLayer,
    .EndWindowLayer = Win32EndWindowLayer, .OpenTopWindow = Win32OpenTopWindow,
    .UseControlParent = Win32UseControlParent, .CreateLabel = Win32CreateLabel,
    .CreateSlider = Win32CreateSlider, .SetControlText = Win32SetControlText,
    .SetControlValue = Win32SetControlValue, .GetControlValue = Win32GetControlValue,
    .WaitEvent = Win32WaitEvent, .GetEventControl = Win32GetEventControl,
    .StartWindowTimer = Win32StartWindowTimer, .StopWindowTimer = Win32StopWindowTimer,
};
