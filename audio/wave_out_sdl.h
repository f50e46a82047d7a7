// SPDX-License-Identifier: GPL-2.0-or-later
// The SDL2 wave-output backend (SdlWaveOut, declared in wave_out.h): what it tells beyond the
// device operations, for tests and measurements.
#pragma once
#include <cstdint>

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

// Frames per device buffer asked of SDL. Small, so that the device adds little to the ring's lead.
constexpr int32_t SDL_DEVICE_FRAMES = 512;
