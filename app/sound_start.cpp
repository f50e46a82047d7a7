// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/sound_start.h"

#include "app/app_context.h"
#include "audio/audio_stream.h"
#include "dump/dump_loader.h"
#include "dump/frame_sequencer.h"
#include "platform/heap.h"
#include "psg/psg.h"

namespace {

void ApplyLevel(float level) {
  SetOutputLevel(level);
  App.Levels.OutputLevel.store(App.Chip.OutputGain, std::memory_order_relaxed);
}

// The context cleared, the heaps made and the sound configured, as the player's start-up does.
void ConfigureSoundOnly() {
  ClearAppContext();
  App.Heaps.Heap = CreatePrivateHeap(PRIVATE_HEAP_BYTES);
  App.Heaps.MemoryHeap = CreatePrivateHeap(MEMORY_HEAP_BYTES);
  ConfigureSound();
}

}  // namespace

void ConfigureSound() {
  ConfigureAudioStream();
  ConfigureChip(App.Stream.SampleRate);
  ConfigureDump();
}

void ConnectSoundCallbacks() { SetStreamCallbacks(ResetChip, RenderFrame, nullptr, TickCallback); }

int32_t StartSoundFromText(const char* bytes, int32_t size, float level) {
  ConfigureSoundOnly();
  if (LoadDumpText(bytes, size) != 0) return -1;
  ApplyLevel(level);
  return 0;
}

int32_t StartSoundOnly(const char* dumpPath, float level) {
  ConfigureSoundOnly();
  if (LoadDumpFile(dumpPath) != 0) return -1;
  ApplyLevel(level);
  return 0;
}

void EndSoundOnly() {
  ReleaseRing();
  DestroyPrivateHeap(App.Heaps.MemoryHeap);
  DestroyPrivateHeap(App.Heaps.Heap);
  App.Heaps.MemoryHeap = nullptr;
  App.Heaps.Heap = nullptr;
}
