// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/winlayer/fltk/fltk_placement.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "app/winlayer/winlayer.h"

namespace {

// Motif window-manager hints (_MOTIF_WM_HINTS): which functions and decorations the frame offers.
constexpr long MWM_HINTS_FUNCTIONS = 1;
constexpr long MWM_HINTS_DECORATIONS = 2;
constexpr long MWM_FUNC_RESIZE = 2;
constexpr long MWM_FUNC_MOVE = 4;
constexpr long MWM_FUNC_MINIMIZE = 8;
constexpr long MWM_FUNC_MAXIMIZE = 16;
constexpr long MWM_FUNC_CLOSE = 32;
constexpr long MWM_DECOR_BORDER = 2;
constexpr long MWM_DECOR_RESIZEH = 4;
constexpr long MWM_DECOR_TITLE = 8;
constexpr long MWM_DECOR_MENU = 16;
constexpr long MWM_DECOR_MINIMIZE = 32;
constexpr long MWM_DECOR_MAXIMIZE = 64;
constexpr int MWM_HINT_WORDS = 5;

// The window manager's frame around a shown window: the ancestor just below the root window,
// its position on the root and its outer size. False when the window has no frame.
bool FrameGeometry(Fl_Window* window, int* x, int* y, int* w, int* h) {
  Window current = fl_xid(window), root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  for (;;) {
    if (!XQueryTree(fl_display, current, &root, &parent, &children, &count)) return false;
    if (children) XFree(children);
    if (parent == root || parent == 0) break;
    current = parent;
  }
  if (current == fl_xid(window)) return false;
  XWindowAttributes frame;
  if (!XGetWindowAttributes(fl_display, current, &frame)) return false;
  *x = frame.x;
  *y = frame.y;
  *w = frame.width + 2 * frame.border_width;
  *h = frame.height + 2 * frame.border_width;
  return true;
}

}  // namespace

// Tells the window manager which functions and decorations the frame has, from the style bits.
void SetFrameHints(Fl_Window* window, int32_t style) {
  long functions = MWM_FUNC_MOVE, decorations = MWM_DECOR_BORDER;
  if ((style & WINDOW_STYLE_CAPTION) == WINDOW_STYLE_CAPTION) decorations |= MWM_DECOR_TITLE;
  if (style & WINDOW_STYLE_SYSMENU) {
    functions |= MWM_FUNC_CLOSE;
    decorations |= MWM_DECOR_MENU;
  }
  if (style & STYLE_THICKFRAME) {
    functions |= MWM_FUNC_RESIZE;
    decorations |= MWM_DECOR_RESIZEH;
  }
  if (style & STYLE_MINIMIZEBOX) {
    functions |= MWM_FUNC_MINIMIZE;
    decorations |= MWM_DECOR_MINIMIZE;
  }
  if (style & STYLE_MAXIMIZEBOX) {
    functions |= MWM_FUNC_MAXIMIZE;
    decorations |= MWM_DECOR_MAXIMIZE;
  }
  long hints[MWM_HINT_WORDS] = {MWM_HINTS_FUNCTIONS | MWM_HINTS_DECORATIONS, functions, decorations, 0, 0};
  const Atom property = XInternAtom(fl_display, "_MOTIF_WM_HINTS", False);
  XChangeProperty(fl_display, fl_xid(window), property, property, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(hints), MWM_HINT_WORDS);
  XFlush(fl_display);
}

// Where a window of outer size w x h goes: centred on the primary screen (the size clamped to
// it first), centred on the active window (never at a negative position), at the given
// position, or where the window manager likes (false).
bool PlaceWindow(int32_t flags, int32_t x, int32_t y, int* w, int* h, int* px, int* py) {
  int sx, sy, sw, sh;
  Fl::screen_xywh(sx, sy, sw, sh, 0);
  if (flags & WINDOW_SCREEN_CENTRED) {
    if (*w > sw) *w = sw;
    if (*h > sh) *h = sh;
    *px = sx + (sw - *w) / 2;
    *py = sy + (sh - *h) / 2;
    return true;
  }
  if (flags & WINDOW_PARENT_CENTRED) {
    Fl_Window* active = Fl::focus() ? Fl::focus()->top_window() : Fl::first_window();
    int ax = sx, ay = sy, aw = sw, ah = sh;
    if (active) {
      ax = active->x();
      ay = active->y();
      aw = active->decorated_w();
      ah = active->decorated_h();
    }
    *px = ax + (aw - *w) / 2;
    *py = ay + (ah - *h) / 2;
    if (*px < 0) *px = 0;
    if (*py < 0) *py = 0;
    return true;
  }
  if (x == WINDOW_DEFAULT_POSITION || y == WINDOW_DEFAULT_POSITION) return false;
  *px = x;
  *py = y;
  return true;
}

// Centres the frame rather than the client area, now that the frame's size is known (shrinking
// the client when the frame would not fit the screen). The window was asked for at (asked x,
// asked y); window managers differ in whether that names the client's or the frame's corner,
// but each keeps one fixed offset, so moving the request by the frame's error lands it right.
void PlaceFrame(Fl_Window* window, bool fixedSize, int32_t flags, int32_t x, int32_t y, int askedX, int askedY) {
  int frameX, frameY, frameW, frameH;
  if (!FrameGeometry(window, &frameX, &frameY, &frameW, &frameH)) return;
  int outerW = frameW, outerH = frameH, targetX = 0, targetY = 0;
  PlaceWindow(flags, x, y, &outerW, &outerH, &targetX, &targetY);
  const int newX = askedX + targetX - frameX, newY = askedY + targetY - frameY;
  const int clientW = window->w() - (frameW - outerW), clientH = window->h() - (frameH - outerH);
  if (clientW != window->w() || clientH != window->h()) {
    if (fixedSize) window->size_range(clientW, clientH, clientW, clientH);
    XMoveResizeWindow(fl_display, fl_xid(window), newX, newY, static_cast<unsigned>(clientW),
                      static_cast<unsigned>(clientH));
  } else if (newX != askedX || newY != askedY) {
    XMoveWindow(fl_display, fl_xid(window), newX, newY);
  }
  XFlush(fl_display);
}
