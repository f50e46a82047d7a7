// SPDX-License-Identifier: GPL-2.0-or-later
// The one application-wide record. Start-up clears it and each subsystem's configuration step
// fills its group. Each lower subsystem declares the accessor of its own group beside the
// group's record (Heaps(), Chip(), Stream(), Dump(), Levels()); they are defined once, in
// app_context.cpp, so the lower libraries never include this header. Values both threads touch
// are atomics: the stop handshake is sequentially consistent; FrameIndex, ChannelLevels and
// OutputLevel only need to be read and written whole.
#pragma once
#include <cstdint>

#include "audio/audio_stream.h"
#include "dump/dump_loader.h"
#include "dump/frame_sequencer.h"
#include "platform/heap.h"
#include "psg/psg.h"

constexpr int32_t LEVEL_BAR_COUNT = 16;  // bars of 0..15 hyphens

// The main window's own fields.
struct ShellState {
  void* MainWindowHandle;
  int32_t LastEvent;
  char LevelBars[LEVEL_BAR_COUNT][LEVEL_BAR_COUNT];  // entry n: n hyphens
};

struct AppContext {
  // Process
  HeapGroup Heaps;
  void* ModuleInstance;

  ShellState Shell;
  LevelState Levels;
  DumpState Dump;
  AudioStream Stream;
  PsgChip Chip;
};

extern AppContext App;

// Start-up step 1: every field of App to zero.
void ClearAppContext();
