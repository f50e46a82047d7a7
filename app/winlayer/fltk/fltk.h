// SPDX-License-Identifier: GPL-2.0-or-later
// Look-ups into the FLTK window layer's tables, for code that needs the widgets behind the
// numbers (the layer's own tests drive and read the widgets through them).
#pragma once
#include <cstdint>

#include "app/winlayer/winlayer.h"

// The Fl_Window of window number, or null when the number names none.
NativeHandle FltkWindowHandle(int32_t window);
// The widget of control number (an Fl_Box for a label, an Fl_Slider for a slider), or null.
NativeHandle FltkControlHandle(int32_t control);
// Capacity of the window and the control table.
int32_t FltkWindowCapacity();
int32_t FltkControlCapacity();
