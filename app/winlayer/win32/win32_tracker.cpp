// SPDX-License-Identifier: GPL-2.0-or-later
// The moving and sizing tracker of the Win32 window layer. The system's own sizing loop is
// modal: while the user drags a border, the thread stays inside DefWindowProcA and WaitEvent
// returns nothing. With full-window dragging switched on, the tracker sizes a resizable window
// itself instead: it captures the mouse at the system command SC_SIZE and moves the dragged
// edges with every mouse movement until the button is released, so the event loop runs on.
#define OEMRESOURCE  // the system cursor numbers (OCR_*)
#include "app/winlayer/win32/win32_layer.h"

namespace {

bool FullWindowDragging() {
  BOOL full = FALSE;
  return SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &full, 0) && full;
}

// The cursor shape of the dragged edge, from the system's shared cursors.
void ShowSizingCursor(int32_t edge) {
  WORD shape = OCR_SIZEALL;
  switch (edge) {
    case WMSZ_LEFT: case WMSZ_RIGHT: shape = OCR_SIZEWE; break;
    case WMSZ_TOP: case WMSZ_BOTTOM: shape = OCR_SIZENS; break;
    case WMSZ_TOPLEFT: case WMSZ_BOTTOMRIGHT: shape = OCR_SIZENWSE; break;
    case WMSZ_TOPRIGHT: case WMSZ_BOTTOMLEFT: shape = OCR_SIZENESW; break;
  }
  HANDLE cursor = LoadImageA(nullptr, MAKEINTRESOURCEA(shape), IMAGE_CURSOR, 0, 0, LR_SHARED | LR_DEFAULTSIZE);
  if (cursor) SetCursor(static_cast<HCURSOR>(cursor));
}

// The start rectangle with the dragged edges moved by the cursor's travel, in the
// coordinates of the window's parent (the screen for a top-level window).
RECT SizedRect(const SizeTracker& t, POINT cursor) {
  RECT r = t.StartRect;
  const LONG dx = cursor.x - t.StartCursor.x;
  const LONG dy = cursor.y - t.StartCursor.y;
  const int32_t e = t.Edge;
  if (e == WMSZ_LEFT || e == WMSZ_TOPLEFT || e == WMSZ_BOTTOMLEFT) r.left += dx;
  if (e == WMSZ_RIGHT || e == WMSZ_TOPRIGHT || e == WMSZ_BOTTOMRIGHT) r.right += dx;
  if (e == WMSZ_TOP || e == WMSZ_TOPLEFT || e == WMSZ_TOPRIGHT) r.top += dy;
  if (e == WMSZ_BOTTOM || e == WMSZ_BOTTOMLEFT || e == WMSZ_BOTTOMRIGHT) r.bottom += dy;
  const LONG minWidth = GetSystemMetrics(SM_CXMINTRACK);
  const LONG minHeight = GetSystemMetrics(SM_CYMINTRACK);
  if (r.right - r.left < minWidth) {
    if (r.left != t.StartRect.left) r.left = r.right - minWidth; else r.right = r.left + minWidth;
  }
  if (r.bottom - r.top < minHeight) {
    if (r.top != t.StartRect.top) r.top = r.bottom - minHeight; else r.bottom = r.top + minHeight;
  }
  return r;
}

void StopTracking(SizeTracker& t) {
  t = SizeTracker{};
  if (GetCapture()) ReleaseCapture();
}

}  // namespace

bool TrackSizing(HWND hwnd, UINT message, WPARAM wParam, LPARAM, LRESULT* result) {
  SizeTracker& t = Layer.Tracker;
  if (!t.Window) {
    if (message != WM_SYSCOMMAND || (wParam & 0xFFF0) != SC_SIZE) return false;
    const auto edge = static_cast<int32_t>(wParam & 0x0F);
    if (edge < WMSZ_LEFT || edge > WMSZ_BOTTOMRIGHT) return false;  // sizing by keyboard
    if (!(GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_THICKFRAME) || !FullWindowDragging()) return false;
    t.Window = hwnd;
    t.Edge = edge;
    GetCursorPos(&t.StartCursor);
    GetWindowRect(hwnd, &t.StartRect);
    if (HWND parent = GetParent(hwnd)) MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&t.StartRect), 2);
    SetCapture(hwnd);
    ShowSizingCursor(edge);
    *result = 0;
    return true;
  }
  if (hwnd != t.Window) return false;
  switch (message) {
    case WM_MOUSEMOVE: {
      POINT cursor;
      GetCursorPos(&cursor);
      const RECT r = SizedRect(t, cursor);
      ShowSizingCursor(t.Edge);
      MoveWindow(hwnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
      *result = 0;
      return true;
    }
    case WM_LBUTTONUP:
      StopTracking(t);
      *result = 0;
      return true;
    case WM_CAPTURECHANGED:
    case WM_CANCELMODE:
    case WM_NCDESTROY:
      t = SizeTracker{};
      return false;
    default:
      return false;
  }
}
