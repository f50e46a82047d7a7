#include "app/player.h"

#include "app/app_context.h"
#include "app/main_window.h"
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

constexpr int32_t PrivateHeapBytes = 4096;
constexpr int32_t TextHeapBytes = 4096;
constexpr int32_t ObjectHeapBytes = 1024;
constexpr int32_t MemoryHeapBytes = 4096;
constexpr float StartOutputLevel = 0.85f;

}  // namespace

void StartPlayer() {
  ClearAppContext();
  App.ModuleInstance = CurrentModuleInstance();
  App.Heap = CreatePrivateHeap(PrivateHeapBytes);

  // Runtime services. Text is built in std::string, so its heap only backs the label texts'
  // lifetime; the program loads no libraries, so that service has nothing to hold.
  App.TextHeap = CreatePrivateHeap(TextHeapBytes);
  App.ObjectHeap = CreatePrivateHeap(ObjectHeapBytes);
  StartFileServices();
  SelectWindowLayer();
  InitWindowLayer();
  InitControlLayer();
  App.MemoryHeap = CreatePrivateHeap(MemoryHeapBytes);

  UseWaveOut(nullptr);
  ConfigureAudioStream();
  ConfigureChip(App.Stream.SampleRate);
  ConfigureDump();

  for (auto& level : App.ChannelLevels) level.store(0, std::memory_order_relaxed);
  App.OutputLevel.store(StartOutputLevel, std::memory_order_relaxed);
  FillLevelBars();

  BuildMainWindow();
  DumpLoader();
  SetOutputLevel(App.OutputLevel.load(std::memory_order_relaxed));
  SetStreamCallbacks(ResetChip, RenderFrame, nullptr, TickCallback);
  OpenAudioStream();
}

void StopPlayer() {
  StopWindowTimer(App.MainWindowHandle, TIMER_REFRESH);
  StopAudioStream();
  EndThreadServices();
  EndWindowLayer();
  CloseAllOpenFiles();
  DestroyPrivateHeap(App.Heap);
  App.Heap = nullptr;
}

int32_t RunPlayer() {
  StartPlayer();
  RunEventLoop();
  StopPlayer();
  return 0;
}
