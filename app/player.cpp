// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/player.h"

#include "app/app_context.h"
#include "app/main_window.h"
#include "app/sound_start.h"
#include "app/winlayer/close_signals.h"
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

// The load's stop check: a close signal or a window's close request is waiting. The load then
// ends with what it has read, and the event loop takes the request at once.
int32_t CloseWaiting() { return CloseSignalPending() || CloseRequested() ? 1 : 0; }

// The display is gone: the window cannot be released, so shutdown runs its steps that need no
// window (the sound stops and its device closes, the threads and files are released); the
// window layer then ends the process with code 0.
void EndWithoutDisplay() {
  StopAudioStream();
  EndThreadServices();
  CloseAllOpenFiles();
}

}  // namespace

void StartPlayer() {
  ClearAppContext();
  App.ModuleInstance = CurrentModuleInstance();
  App.Heaps.Heap = CreatePrivateHeap(PRIVATE_HEAP_BYTES);

  // Runtime services. Text is built in std::string, so its heap only backs the label texts'
  // lifetime; the program loads no libraries, so that service has nothing to hold.
  App.Heaps.TextHeap = CreatePrivateHeap(TEXT_HEAP_BYTES);
  App.Heaps.ObjectHeap = CreatePrivateHeap(OBJECT_HEAP_BYTES);
  StartFileServices();
  SetDisplayLostRoutine(EndWithoutDisplay);
  SelectWindowLayer();
  InitWindowLayer();
  InitControlLayer();
  App.Heaps.MemoryHeap = CreatePrivateHeap(MEMORY_HEAP_BYTES);

  UseWaveOut(nullptr);
  ConfigureSound();

  for (auto& level : App.Levels.ChannelLevels) level.store(0, std::memory_order_relaxed);
  App.Levels.OutputLevel.store(START_OUTPUT_LEVEL, std::memory_order_relaxed);
  FillLevelBars();

  BuildMainWindow();
  SetDumpStopCheck(CloseWaiting);
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
