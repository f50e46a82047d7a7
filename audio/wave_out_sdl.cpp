// SPDX-License-Identifier: GPL-2.0-or-later
// The SDL2 wave-output backend. SDL pulls audio through a callback on its own thread; the
// callback copies from the looping ring at a play cursor and counts the bytes it has handed
// over, which is the play position the pump polls. The device buffer is small (SDL_DEVICE_FRAMES)
// so that the ring's lead is most of the latency.
#include <SDL.h>

#include <atomic>
#include <cstring>
#include <new>

#include "audio/wave_out.h"
#include "audio/wave_out_sdl.h"

struct WaveDevice {
  SDL_AudioDeviceID Id;
  uint8_t Silence;
  SDL_AudioSpec Granted;
  // Written by the controlling thread under SDL's device lock before Started is set.
  const char* Ring;
  uint32_t RingLength;
  // The SDL thread's own.
  uint32_t Cursor;  // byte offset of the next byte to hand over, 0..RingLength-1
  // Crossing threads.
  std::atomic<int32_t> Started;     // 0 before the write, 1 playing the ring, 2 after a reset
  std::atomic<uint32_t> Played;     // bytes handed over since the write, wrapping at 2^32
  std::atomic<uint64_t> SilentBefore;
  std::atomic<uint64_t> SilentAfter;
  std::atomic<int32_t> Callbacks;
  std::atomic<uint32_t> PumpMark;   // stored by every position query, loaded by the callback
};

namespace {

SdlWaveOutTally LastTally;

// SDL's thread: hand over len bytes of the ring from the cursor, wrapping at its end.
void SDLCALL FillDeviceBuffer(void* user, Uint8* stream, int len) {
  WaveDevice* d = static_cast<WaveDevice*>(user);
  if (len <= 0) return;
  const int32_t started = d->Started.load(std::memory_order_acquire);
  if (started != 1) {
    std::memset(stream, d->Silence, static_cast<size_t>(len));
    (started == 0 ? d->SilentBefore : d->SilentAfter).fetch_add(static_cast<uint64_t>(len), std::memory_order_relaxed);
    return;
  }
  // The pump renders a block only after it has seen the device leave it, and queries the
  // position again before the device comes back to it: loading what the last query stored
  // orders those renders before this copy.
  d->PumpMark.load(std::memory_order_acquire);
  uint32_t left = static_cast<uint32_t>(len);
  while (left > 0) {
    uint32_t run = d->RingLength - d->Cursor;
    if (run > left) run = left;
    std::memcpy(stream, d->Ring + d->Cursor, run);
    stream += run;
    left -= run;
    d->Cursor += run;
    if (d->Cursor == d->RingLength) d->Cursor = 0;
  }
  d->Played.store(d->Played.load(std::memory_order_relaxed) + static_cast<uint32_t>(len), std::memory_order_release);
  d->Callbacks.fetch_add(1, std::memory_order_relaxed);
}

SDL_AudioFormat SdlFormat(const WaveFormat* format) {
  return format->BitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB;
}

int32_t SdlOpen(WaveDevice** device, const WaveFormat* format) {
  if (format->FormatTag != WAVE_OUT_PCM || (format->BitsPerSample != 8 && format->BitsPerSample != 16))
    return 1;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 1;
  WaveDevice* d = new (std::nothrow) WaveDevice();
  if (!d) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return 1;
  }
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(format->SamplesPerSec);
  want.format = SdlFormat(format);
  want.channels = static_cast<Uint8>(format->Channels);
  want.samples = SDL_DEVICE_FRAMES;
  want.callback = FillDeviceBuffer;
  want.userdata = d;
  // No changes allowed: SDL converts to whatever the system plays, the callback sees our format.
  d->Id = SDL_OpenAudioDevice(nullptr, 0, &want, &d->Granted, 0);
  if (d->Id == 0) {
    delete d;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return 1;
  }
  d->Silence = d->Granted.silence;
  // Run from now on, handing over silence until the write, so that the write starts the ring
  // at once and the silence before it is counted.
  SDL_PauseAudioDevice(d->Id, 0);
  *device = d;
  return 0;
}

int32_t SdlPrepare(WaveDevice*, WaveHeader* header) {
  return header && header->Data && header->BufferLength > 0 ? 0 : 1;
}

int32_t SdlWrite(WaveDevice* d, WaveHeader* header) {
  if (!d || !header || !header->Data || header->BufferLength == 0) return 1;
  SDL_LockAudioDevice(d->Id);
  d->Ring = header->Data;
  d->RingLength = header->BufferLength;
  d->Cursor = 0;
  d->Played.store(0, std::memory_order_relaxed);
  d->Started.store(1, std::memory_order_release);
  SDL_UnlockAudioDevice(d->Id);
  SDL_PauseAudioDevice(d->Id, 0);
  return 0;
}

// SDL marks a device that has gone (unplugged, its sound server ended, the disk driver's file
// refusing a write) as stopped and calls the callback no more; it would also post
// SDL_AUDIODEVICEREMOVED, but only to a program that runs SDL's event loop, which this one does
// not. The status is read from atomics, without SDL's device lock. Only the pump queries: the
// mark it stores is what orders its renders before the callback's copies, and a store from any
// other thread could stand in for the pump's.
int32_t SdlPosition(WaveDevice* d, uint32_t* bytes) {
  if (!d) return 1;
  if (SDL_GetAudioDeviceStatus(d->Id) == SDL_AUDIO_STOPPED) return WAVE_OUT_DEVICE_LOST;
  const uint32_t played = d->Played.load(std::memory_order_acquire);
  d->PumpMark.store(played, std::memory_order_release);
  *bytes = played;
  return 0;
}

// Back to silence, under SDL's device lock: once it returns the callback no longer reads the
// ring. The device keeps running (SDL would write silence of its own while paused, uncounted).
int32_t SdlReset(WaveDevice* d) {
  if (!d) return 0;
  SDL_LockAudioDevice(d->Id);
  d->Started.store(2, std::memory_order_release);
  SDL_UnlockAudioDevice(d->Id);
  return 0;
}

int32_t SdlUnprepare(WaveDevice*, WaveHeader*) { return 0; }

int32_t SdlClose(WaveDevice* d) {
  if (!d) return 0;
  SDL_CloseAudioDevice(d->Id);  // returns after SDL's thread has ended
  SdlWaveOutTally tally{};
  tally.SilentBytesBeforeWrite = d->SilentBefore.load();
  tally.SilentBytesAfterReset = d->SilentAfter.load();
  tally.PlayedBytes = d->Played.load();
  tally.Callbacks = d->Callbacks.load();
  tally.DeviceFrames = d->Granted.samples;
  const char* driver = SDL_GetCurrentAudioDriver();
  std::strncpy(tally.Driver, driver ? driver : "", sizeof tally.Driver - 1);
  LastTally = tally;
  delete d;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  return 0;
}

}  // namespace

const WaveOutOps SdlWaveOut = {"sdl2", SdlOpen, SdlPrepare, SdlWrite, SdlPosition, SdlReset, SdlUnprepare, SdlClose};

SdlWaveOutTally LastSdlWaveOutTally() { return LastTally; }
