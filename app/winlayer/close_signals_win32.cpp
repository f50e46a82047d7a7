// SPDX-License-Identifier: GPL-2.0-or-later
// Windows has no close signals: a windowed program without a console is asked to close only
// through its window (WM_CLOSE), so nothing is installed and nothing is ever pending.
#include "app/winlayer/close_signals.h"

void StartCloseSignals() {}
void InstallCloseSignals(const int*, int) {}
int CloseSignalFd() { return -1; }
bool TakeCloseSignal() { return false; }
bool CloseSignalPending() { return false; }
