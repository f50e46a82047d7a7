// SPDX-License-Identifier: GPL-2.0-or-later
// Signals that ask the program to close (SIGINT, SIGTERM, SIGHUP): the handler only counts the
// signal and writes a byte to a pipe, so an event loop can wait on the pipe alongside its input
// and turn each signal into a close request. Installed first thing in main, so that a close
// signal at any moment of start-up waits for the event loop instead of killing the process.
#pragma once

// Installs the handler for SIGINT, SIGTERM and SIGHUP and creates the pipe. A signal that was
// ignored when the program started (nohup, a shell's background job) stays ignored. Safe to call
// more than once. Does nothing on a system without POSIX signals.
void StartCloseSignals();
// Installs the handler for each of signals (count of them), leaving ignored ones ignored. Safe
// to call more than once.
void InstallCloseSignals(const int* signals, int count);
// Read end of the wake-up pipe; readable once a close signal has arrived. -1 before install.
int CloseSignalFd();
// True once for each close signal received; drains the pipe.
bool TakeCloseSignal();
// True while a close signal has arrived that no TakeCloseSignal has taken yet. Takes nothing;
// async-signal-safe, callable from any thread.
bool CloseSignalPending();
