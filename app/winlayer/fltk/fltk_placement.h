// SPDX-License-Identifier: GPL-2.0-or-later
// Window-manager hints and placement of the FLTK layer's top-level windows: the frame's
// functions and decorations from the window's style bits, and centring on the screen or on the
// active window, first by the client size and again by the frame once it is known.
#pragma once
#include <cstdint>

class Fl_Window;

// Window style bits of OpenTopWindow's flags beyond those in winlayer.h; the layer turns them
// into window-manager hints.
constexpr int32_t STYLE_THICKFRAME = 0x00040000;   // sizing border
constexpr int32_t STYLE_MINIMIZEBOX = 0x00020000;
constexpr int32_t STYLE_MAXIMIZEBOX = 0x00010000;

// Tells the window manager which functions and decorations the frame has, from the style bits.
void SetFrameHints(Fl_Window* window, int32_t style);
// Where a window of outer size w x h goes: centred on the primary screen (the size clamped to
// it first), centred on the active window (never at a negative position), at the given
// position, or where the window manager likes (false).
bool PlaceWindow(int32_t flags, int32_t x, int32_t y, int* w, int* h, int* px, int* py);
// Centres the frame rather than the client area, now that the frame's size is known (shrinking
// the client when the frame would not fit the screen). The window was asked for at (askedX,
// askedY).
void PlaceFrame(Fl_Window* window, bool fixedSize, int32_t flags, int32_t x, int32_t y, int askedX, int askedY);
