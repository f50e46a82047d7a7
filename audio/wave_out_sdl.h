// SPDX-License-Identifier: GPL-2.0-or-later
// The SDL2 wave-output backend (SdlWaveOut, declared in wave_out.h): what it tells beyond the
// device operations, for tests and measurements.
#pragma once
#include <cstdint>

#include "audio/wave_out.h"

// What one device did from its open to its close. Besides these bytes SDL may play silence of
// its own before the first callback (SDL opens a device paused; the open resumes it at once).
struct SdlWaveOutTally {
  uint64_t SilentBytesBeforeWrite;  // silence handed to SDL between the open and the write
  uint64_t SilentBytesAfterReset;   // silence handed to SDL between the reset and the close
  uint32_t PlayedBytes;             // ring bytes handed to SDL since the write (wraps at 2^32)
  int32_t Callbacks;                // SDL callbacks while the ring played
  int32_t DeviceFrames;             // frames per SDL device buffer, as SDL granted it
  char Driver[32];                  // SDL's audio driver ("pulseaudio", "alsa", "disk", ...)
};

// The tally of the device closed last; all zero before the first close.
SdlWaveOutTally LastSdlWaveOutTally();

// Frames per device buffer asked of SDL: what its feeding thread copies per wake-up.
constexpr int32_t SDL_DEVICE_FRAMES = 512;
// The same through SDL's PipeWire driver, which takes it as the stream's latency (one graph
// cycle), and a PIPEWIRE_LATENCY above SDL's buffer left the stream silent. 2048 frames still
// made a gap now and then on a busy machine; 4096 (93 ms) made none in six runs, three of them
// under two cores of CPU load.
constexpr int32_t SDL_PIPEWIRE_FRAMES = 4096;
// What PulseAudio (or pipewire-pulse) is asked to hold behind SDL, in ms, unless the user set
// PULSE_LATENCY_MSEC. Left to SDL's request (one device buffer) PulseAudio settles on about 3 ms,
// and one late wake-up of SDL's thread is a gap. Asked for 60 ms PulseAudio queued 31-38 ms, and
// a busy machine still made an occasional gap on PulseAudio and pipewire-pulse; so did 100 ms (one
// gap in six 30 s runs, twice); 150 ms made none in six, three of them under two cores of load.
constexpr int32_t SERVER_LATENCY_MS = 150;
// A PipeWire device whose callback has not run for this long (ms) is taken as lost: SDL's driver
// reports no lost server, it only stops calling. Four of its buffers, so load alone never trips it.
constexpr int32_t SDL_STALL_LIMIT_MS = 400;

// Bytes copied to SDL but not yet heard, as the play position assumes them, for SDL's audio
// driver `driver` (null: none) with deviceFrames frames per device buffer in format: none for
// "disk" and "dummy", the server's latency (from the environment) and one device buffer for
// "pulseaudio", "pipewire" and "alsa" (whose default may be the pulse plugin), else one buffer;
// PipeWire plays one buffer while SDL fills the next, so one more there.
uint32_t SdlBytesInFlight(const char* driver, int32_t deviceFrames, const WaveFormat* format);
