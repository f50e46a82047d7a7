#include "app/player.h"

#include "app/app_context.h"
#include "app/main_window.h"
#include "app/sound_start.h"
#include "app/winlayer/winlayer.h"
#include "audio/audio_stream.h"
#include "dump/dump_loader.h"
#include "dump/frame_sequencer.h"
#include "platform/file.h"
#include "platform/heap.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "psg/psg.h"

namespace {

constexpr float StartOutputLevel = 0.85f;

}  // namespace

void StartPlayer() {
  ClearAppContext();
  App.ModuleInstance = CurrentModuleInstance();
  App.Heaps.Heap = CreatePrivateHeap(PrivateHeapBytes);

  // Runtime services. Text is built in std::string, so its heap only backs the label texts'
  // lifetime; the program loads no libraries, so that service has nothing to hold.
  App.Heaps.TextHeap = CreatePrivateHeap(TextHeapBytes);
  App.Heaps.ObjectHeap = CreatePrivateHeap(ObjectHeapBytes);
  StartFileServices();
  SelectWindowLayer();
  InitWindowLayer();
  InitControlLayer();
  App.Heaps.MemoryHeap = CreatePrivateHeap(MemoryHeapBytes);

  UseWaveOut(nullptr);
  ConfigureSound();

  for (auto& level : App.Levels.ChannelLevels) level.store(0, std::memory_order_relaxed);
  App.Levels.OutputLevel.store(StartOutputLevel, std::memory_order_relaxed);
  FillLevelBars();

  BuildMainWindow();
  DumpLoader();
  SetOutputLevel(App.Levels.OutputLevel.load(std::memory_order_relaxed));
  ConnectSoundCallbacks();
  OpenAudioStream();
}

void StopPlayer() {
  StopWindowTimer(App.Shell.MainWindowHandle, TIMER_REFRESH);
  StopAudioStream();
  EndThreadServices();
  EndWindowLayer();
  CloseAllOpenFiles();
  DestroyPrivateHeap(App.Heaps.Heap);
  App.Heaps.Heap = nullptr;
}

int32_t RunPlayer() {
  StartPlayer();
  RunEventLoop();
  StopPlayer();
  return 0;
}
