// SPDX-License-Identifier: GPL-2.0-or-later
// The terminal under the panel: curses started in raw mode and stopped again, and the
// terminal's modes put back however the program ends: by EndWindowLayer, at exit, or from a
// handler of the fatal signals. SIGWINCH is turned into a pipe the event wait can watch.
#pragma once
#include <csignal>

// 1 while curses runs on the terminal; read by the signal handlers.
extern volatile sig_atomic_t TerminalActive;

// Starts curses in raw mode (Ctrl-C and Ctrl-D arrive as keys) with keypad keys, mouse
// reports and no visible cursor. Without a terminal nothing starts: the layer then draws
// nothing and reads no keys, but its tables, timers and close signals still work.
void StartTerminal();
// Leaves curses and puts the terminal's modes back exactly as they were found. No-op when
// curses does not run.
void StopTerminal();

// The read end of the pipe SIGWINCH writes to, -1 before the first start.
int ResizeSignalFd();
// Drains that pipe: true when a resize came since the last call.
bool TakeResize();
