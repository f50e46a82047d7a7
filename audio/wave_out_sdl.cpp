// SPDX-License-Identifier: GPL-2.0-or-later
// The SDL2 wave-output backend. SDL pulls audio through a callback on its own thread; the
// callback copies from the looping ring at a play cursor and counts the bytes it has handed
// over, which is the play position the pump polls. PulseAudio is asked to queue
// SERVER_LATENCY_MS behind SDL, so that a late wake-up of SDL's thread finds sound still queued.
// What was handed over but not yet heard when a device is lost is no longer in the ring (the
// pump has refilled those blocks), so the callback also keeps the last bytes it handed over; the
// next device plays them first, from the block that was being heard up to the block the ring
// resumes at, and nothing is skipped. Two things SDL 2 does not say are inferred here: a device
// SDL has found gone is still called, into a buffer nobody plays (those calls count nothing and
// mark when it went); and its PipeWire driver never reports a server that has gone, it just stops
// calling, so a PipeWire device silent for SDL_STALL_LIMIT_MS is taken as lost.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
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
  std::atomic<uint64_t> FilledAt;   // SDL's performance counter after the last copy from the ring
  uint32_t InFlight;                // bytes assumed handed over but not yet heard; set at the open
  uint32_t BlockLength;             // the ring's block, from the header
  uint32_t PrefixAt, PrefixLength;  // the SDL thread's: resume bytes played before the ring
  std::atomic<uint64_t> GoneAt;     // the counter when SDL first called for the gone device
  std::atomic<uint64_t> CalledAt;   // the counter at the last call of the callback (or the write)
  bool WatchStall;                  // the driver does not report a lost server: watch the calls
  bool Lost;                        // the pump's: a position query found the device gone
};

namespace {

SdlWaveOutTally LastTally;

// The last bytes handed over, oldest overwritten: more than a server's queue, a block and the
// pump's poll. Then what the next device plays before its ring. One device at a time is open;
// the history is written by SDL's thread and read at the close, after that thread has ended.
constexpr uint32_t HistoryBytes = 1u << 16;
unsigned char History[HistoryBytes];
uint32_t HistoryEnd;                 // ring bytes appended since the write: the played count
unsigned char Resume[HistoryBytes];
uint32_t ResumeLength;
const char* ResumeRing;              // the ring the resume bytes lead into

void Remember(const Uint8* bytes, uint32_t length) {
  while (length > 0) {
    const uint32_t at = HistoryEnd % HistoryBytes;
    const uint32_t run = length < HistoryBytes - at ? length : HistoryBytes - at;
    std::memcpy(History + at, bytes, run);
    HistoryEnd += run;
    bytes += run;
    length -= run;
  }
}

// SDL's thread: hand over len bytes of the ring from the cursor, wrapping at its end.
void SDLCALL FillDeviceBuffer(void* user, Uint8* stream, int len) {
  WaveDevice* d = static_cast<WaveDevice*>(user);
  if (len <= 0) return;
  d->CalledAt.store(SDL_GetPerformanceCounter(), std::memory_order_relaxed);
  const int32_t started = d->Started.load(std::memory_order_acquire);
  // SDL goes on calling for a device it has found gone, into a buffer nobody plays: those bytes
  // are silence and not counted, and the first such call marks when the device went.
  if (started == 1 && SDL_GetAudioDeviceStatus(d->Id) == SDL_AUDIO_STOPPED) {
    if (!d->GoneAt.load(std::memory_order_relaxed)) d->GoneAt.store(SDL_GetPerformanceCounter(), std::memory_order_relaxed);
    std::memset(stream, d->Silence, static_cast<size_t>(len));
    return;
  }
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
  if (d->PrefixAt < d->PrefixLength) {  // not counted in the play position
    const uint32_t run = std::min(left, d->PrefixLength - d->PrefixAt);
    std::memcpy(stream, Resume + d->PrefixAt, run);
    d->PrefixAt += run;
    stream += run;
    left -= run;
  }
  Uint8* const fromRing = stream;
  const uint32_t ringBytes = left;
  while (left > 0) {
    uint32_t run = d->RingLength - d->Cursor;
    if (run > left) run = left;
    std::memcpy(stream, d->Ring + d->Cursor, run);
    stream += run;
    left -= run;
    d->Cursor += run;
    if (d->Cursor == d->RingLength) d->Cursor = 0;
  }
  Remember(fromRing, ringBytes);
  d->Played.store(d->Played.load(std::memory_order_relaxed) + ringBytes, std::memory_order_release);
  d->FilledAt.store(SDL_GetPerformanceCounter(), std::memory_order_relaxed);
  d->Callbacks.fetch_add(1, std::memory_order_relaxed);
}

// The server latency in ms the environment asks of libpulse or PipeWire, 0 when none.
uint32_t EnvironmentLatencyMs(const char* driver) {
  if (std::strcmp(driver, "pipewire") == 0) {
    // PIPEWIRE_LATENCY is "frames/rate".
    const char* text = SDL_getenv("PIPEWIRE_LATENCY");
    const char* slash = text ? std::strchr(text, '/') : nullptr;
    const long frames = text ? std::strtol(text, nullptr, 10) : 0;
    const long rate = slash ? std::strtol(slash + 1, nullptr, 10) : 0;
    return frames > 0 && rate > 0 ? static_cast<uint32_t>(frames * 1000 / rate) : 0;
  }
  const char* text = SDL_getenv("PULSE_LATENCY_MSEC");
  const long ms = text ? std::strtol(text, nullptr, 10) : 0;
  return ms > 0 ? static_cast<uint32_t>(ms) : 0;
}

// Asks PulseAudio (or pipewire-pulse) for SERVER_LATENCY_MS behind SDL unless the user set the
// variable. Before SDL starts its audio: libpulse reads it when a stream connects.
void AskServerLatency() {
  char text[32];
  SDL_snprintf(text, sizeof text, "%d", SERVER_LATENCY_MS);
  SDL_setenv("PULSE_LATENCY_MSEC", text, 0);
}

SDL_AudioFormat SdlFormat(const WaveFormat* format) {
  return format->BitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB;
}

int32_t SdlOpen(WaveDevice** device, const WaveFormat* format) {
  if (format->FormatTag != WAVE_OUT_PCM || (format->BitsPerSample != 8 && format->BitsPerSample != 16))
    return 1;
  AskServerLatency();
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
  const char* driver = SDL_GetCurrentAudioDriver();
  want.samples = driver && std::strcmp(driver, "pipewire") == 0 ? SDL_PIPEWIRE_FRAMES : SDL_DEVICE_FRAMES;
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
  d->InFlight = SdlBytesInFlight(SDL_GetCurrentAudioDriver(), d->Granted.samples, format);
  d->WatchStall = driver && std::strcmp(driver, "pipewire") == 0;
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
  d->BlockLength = header->BlockLength;
  // The bytes saved at the loss of the device before, if they lead into this ring.
  d->PrefixAt = 0;
  d->PrefixLength = ResumeRing == header->Data ? ResumeLength : 0;
  ResumeLength = 0;
  ResumeRing = nullptr;
  HistoryEnd = 0;
  d->CalledAt.store(SDL_GetPerformanceCounter(), std::memory_order_relaxed);
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
  // SDL's PipeWire driver never marks a device whose server has gone: it just calls no more.
  const bool stalled = d->WatchStall && d->Started.load(std::memory_order_relaxed) == 1 &&
                       SDL_GetPerformanceCounter() - d->CalledAt.load(std::memory_order_relaxed) >
                           SDL_GetPerformanceFrequency() * SDL_STALL_LIMIT_MS / 1000;
  if (stalled || SDL_GetAudioDeviceStatus(d->Id) == SDL_AUDIO_STOPPED) {
    d->Lost = true;
    return WAVE_OUT_DEVICE_LOST;
  }
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

// After a loss, with SDL's thread ended: the stream turns its ring so that the block holding the
// pump's last position comes first. Saves what was handed over from the start of the block the
// listener was in (InFlight before the last byte handed over, less what played on after it) up
// to that block, for the next device to play first. Ring bytes and history bytes end together,
// the prefix counted apart.
void SaveResume(WaveDevice* d) {
  const uint32_t played = d->Played.load();
  const uint32_t mark = d->PumpMark.load();
  if (!d->BlockLength || played < d->InFlight || mark > played) return;
  const uint32_t resumeAt = mark - mark % d->BlockLength;
  // The queue was whole right after the last copy, and the server went on playing until SDL
  // found it gone. SDL copies about once per device buffer; after a longer silence of its thread
  // the server may have stopped too, so no more than two buffers are counted as played on.
  const uint64_t goneAt = d->GoneAt.load(), filledAt = d->FilledAt.load();
  const uint64_t rate = static_cast<uint64_t>(d->Granted.freq) * d->Granted.channels * SDL_AUDIO_BITSIZE(d->Granted.format) / 8;
  const uint64_t since = goneAt > filledAt ? (goneAt - filledAt) * rate / SDL_GetPerformanceFrequency() : 0;
  const uint32_t playedOn = static_cast<uint32_t>(std::min<uint64_t>(since, std::min(2u * d->Granted.size, d->InFlight)));
  uint32_t heard = played - d->InFlight + playedOn;
  heard -= heard % d->BlockLength;
  if (heard >= resumeAt || played - heard > HistoryBytes) return;
  ResumeLength = resumeAt - heard;
  const uint32_t from = HistoryEnd - (played - heard);
  for (uint32_t n = 0; n < ResumeLength; ++n) Resume[n] = History[(from + n) % HistoryBytes];
  ResumeRing = d->Ring;
}

int32_t SdlClose(WaveDevice* d) {
  if (!d) return 0;
  SDL_CloseAudioDevice(d->Id);  // returns after SDL's thread has ended
  if (d->Lost) SaveResume(d);
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

uint32_t SdlBytesInFlight(const char* driver, int32_t deviceFrames, const WaveFormat* format) {
  const uint32_t buffer = static_cast<uint32_t>(deviceFrames) * format->BlockAlign;
  if (!driver || std::strcmp(driver, "disk") == 0 || std::strcmp(driver, "dummy") == 0) return 0;
  if (std::strcmp(driver, "pulseaudio") == 0 || std::strcmp(driver, "pipewire") == 0 ||
      std::strcmp(driver, "alsa") == 0) {
    // The buffer SDL's thread has just filled is written to the server after the callback.
    const uint32_t ms = EnvironmentLatencyMs(driver);
    const uint32_t server = ms * format->SamplesPerSec / 1000 * format->BlockAlign;
    return server + (std::strcmp(driver, "pipewire") == 0 ? 2 * buffer : buffer);
  }
  return buffer;
}

const WaveOutOps SdlWaveOut = {.Name = "sdl2", .Open = SdlOpen, .PrepareHeader = SdlPrepare, .Write = SdlWrite,
    .GetPositionBytes = SdlPosition, .Reset = SdlReset, .UnprepareHeader = SdlUnprepare, .Close = SdlClose};

SdlWaveOutTally LastSdlWaveOutTally() { return LastTally; }
