// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/app_context.h"

#include <new>

AppContext App;

HeapGroup& Heaps() { return App.Heaps; }
PsgChip& Chip() { return App.Chip; }
AudioStream& Stream() { return App.Stream; }
DumpState& Dump() { return App.Dump; }
LevelState& Levels() { return App.Levels; }

void ClearAppContext() {
  // Value-initialisation zero-fills every member, the atomics included.
  App.~AppContext();
  new (&App) AppContext();
}
