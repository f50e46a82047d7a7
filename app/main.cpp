// SPDX-License-Identifier: GPL-2.0-or-later
// Tonewell: plays the register dump "music\dump.txt" of the working directory in a loop and
// shows its position, three level bars and a volume slider until the window is closed.
#include "app/player.h"
#include "app/winlayer/close_signals.h"
#include "platform/process.h"

// The close signals are caught before anything else of the program runs, so that one arriving
// at any moment of start-up becomes a close request for the event loop rather than the end of
// the process. Where the system's loader runs start-up routines of the program before those of
// its libraries (ELF's pre-initialisation array), they are caught from there: the libraries'
// own initialisation (X, fonts, sound) already falls under the handler.
namespace {
void CatchCloseSignalsFirst() { StartCloseSignals(); }
}  // namespace
#if defined(__ELF__)
__attribute__((section(".preinit_array"), used)) void (*const PreInitCloseSignals)() = CatchCloseSignalsFirst;
#endif

int main() {
  CatchCloseSignalsFirst();
  EndProcess(RunPlayer());
}
