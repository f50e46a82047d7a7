#include "app/sound_start.h"

#include "app/app_context.h"
#include "audio/audio_stream.h"
#include "dump/dump_loader.h"
#include "platform/heap.h"
#include "psg/psg.h"

namespace {

void ConfigureSound() {
  ClearAppContext();
  App.Heap = CreatePrivateHeap(4096);
  App.MemoryHeap = CreatePrivateHeap(4096);
  ConfigureAudioStream();
  ConfigureChip(App.Stream.SampleRate);
  ConfigureDump();
}

void ApplyLevel(float level) {
  SetOutputLevel(level);
  App.OutputLevel.store(App.Chip.OutputGain, std::memory_order_relaxed);
}

}  // namespace

int32_t StartSoundFromText(const char* bytes, int32_t size, float level) {
  ConfigureSound();
  if (LoadDumpText(bytes, size) != 0) return -1;
  ApplyLevel(level);
  return 0;
}

int32_t StartSoundOnly(const char* dumpPath, float level) {
  ConfigureSound();
  if (LoadDumpFile(dumpPath) != 0) return -1;
  ApplyLevel(level);
  return 0;
}

void EndSoundOnly() {
  ReleaseRing();
  DestroyPrivateHeap(App.MemoryHeap);
  DestroyPrivateHeap(App.Heap);
  App.MemoryHeap = nullptr;
  App.Heap = nullptr;
}
