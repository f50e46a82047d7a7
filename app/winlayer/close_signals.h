// Signals that ask the program to close (SIGINT, SIGTERM, SIGHUP, ...): the handler only sets a
// flag and writes a byte to a pipe, so an event loop can wait on the pipe alongside its input.
#pragma once

// Installs the handler for each of signals (count of them). Safe to call more than once.
void InstallCloseSignals(const int* signals, int count);
// Read end of the wake-up pipe; readable once a close signal has arrived. -1 before install.
int CloseSignalFd();
// True once for each close signal received; drains the pipe.
bool TakeCloseSignal();
