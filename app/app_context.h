// The one application-wide record. Start-up clears it and each subsystem's configuration step
// fills its group. Values both threads touch are atomics: the stop handshake is sequentially
// consistent; FrameIndex, ChannelLevels and OutputLevel only need to be read and written whole.
#pragma once
#include <atomic>
#include <cstdint>

#include "audio/audio_stream.h"
#include "psg/psg.h"

struct PrivateHeap;

constexpr int32_t LEVEL_BAR_COUNT = 16;  // bars of 0..15 hyphens

struct AppContext {
  // Process
  PrivateHeap* Heap;        // the private heap: tables, records, RegisterDump
  PrivateHeap* TextHeap;    // text building
  PrivateHeap* ObjectHeap;  // records not addressed by a fixed number
  PrivateHeap* MemoryHeap;  // zero-filled memory blocks: the audio ring
  void* ModuleInstance;

  // Shell
  void* MainWindowHandle;
  int32_t LastEvent;

  // Display
  char LevelBars[LEVEL_BAR_COUNT][LEVEL_BAR_COUNT];  // entry n: n hyphens
  std::atomic<int32_t> ChannelLevels[3];             // A, B, C: 0..15, written by the tick
  std::atomic<float> OutputLevel;                    // 0..1, written by the slider

  // Dump
  const char* DumpFileName;
  int32_t* RegisterDump;               // DumpRowCount x MaxDumpFrames
  std::atomic<int32_t> FrameIndex;     // next frame the tick plays, 0..FrameCount-1
  int32_t FrameCount;                  // set by the loader, constant once the stream opens

  // Audio
  AudioStream Stream;

  // Chip
  PsgChip Chip;
};

extern AppContext App;

// Start-up step 1: every field of App to zero.
void ClearAppContext();
