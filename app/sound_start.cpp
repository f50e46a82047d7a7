#include "app/sound_start.h"

#include "app/app_context.h"
#include "audio/audio_stream.h"
#include "dump/dump_loader.h"
#include "platform/heap.h"
#include "psg/psg.h"

int32_t StartSoundOnly(const char* dumpPath, float level) {
  ClearAppContext();
  App.Heap = CreatePrivateHeap(4096);
  App.MemoryHeap = CreatePrivateHeap(4096);
  ConfigureAudioStream();
  ConfigureChip(App.Stream.SampleRate);
  ConfigureDump();
  if (LoadDumpFile(dumpPath) != 0) return -1;
  SetOutputLevel(level);
  App.OutputLevel.store(App.Chip.OutputGain, std::memory_order_relaxed);
  return 0;
}

void EndSoundOnly() {
  ReleaseRing();
  DestroyPrivateHeap(App.MemoryHeap);
  DestroyPrivateHeap(App.Heap);
  App.MemoryHeap = nullptr;
  App.Heap = nullptr;
}
