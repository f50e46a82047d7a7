// SPDX-License-Identifier: GPL-2.0-or-later
// The wave-output device layer: one looping PCM buffer played by the default output device.
// Each backend fills a WaveOutOps table in its own file; UseWaveOut makes one table current
// and gives every operation it lacks a no-op default, so callers never test for null.
#pragma once
#include <cstdint>

struct WaveDevice;  // opaque; each backend defines its own

struct WaveFormat {
  uint16_t FormatTag;       // 1: PCM
  uint16_t Channels;
  uint32_t SamplesPerSec;
  uint32_t AvgBytesPerSec;
  uint16_t BlockAlign;      // bytes per frame
  uint16_t BitsPerSample;
  uint16_t ExtraSize;       // 0
};

// What GetPositionBytes returns when the device has gone for good (unplugged, its server or
// driver ended): it plays nothing more and only closing it is left.
constexpr int32_t WAVE_OUT_DEVICE_LOST = -1;

constexpr uint16_t WAVE_OUT_PCM = 1;          // FormatTag of linear PCM
constexpr uint32_t WAVE_OUT_BEGIN_LOOP = 4;   // Flags: the buffer begins and ends the loop
constexpr uint32_t WAVE_OUT_END_LOOP = 8;

// Describes the buffer the device plays.
struct WaveHeader {
  char* Data;
  uint32_t BufferLength;    // bytes
  uint32_t BytesRecorded;
  uintptr_t User;
  uint32_t Flags;           // WAVE_OUT_BEGIN_LOOP | WAVE_OUT_END_LOOP: play the buffer in a loop
  uint32_t Loops;           // passes of the loop
  WaveHeader* Next;
  uintptr_t Reserved;
  void* Native;             // the backend's own header, if it needs one
  uint32_t BlockLength;     // bytes per block the writer refills (a divisor of BufferLength), 0: none
};

struct WaveOutOps {
  const char* Name;
  // Opens the default output device in format; 0 on success with *device set.
  int32_t (*Open)(WaveDevice** device, const WaveFormat* format);
  // Readies header's buffer for the device; 0 on success.
  int32_t (*PrepareHeader)(WaveDevice* device, WaveHeader* header);
  // Starts playing header's buffer from byte 0, in a loop by its flags; 0 on success.
  int32_t (*Write)(WaveDevice* device, WaveHeader* header);
  // Bytes played since the write, across loop passes, as an unsigned count that wraps at
  // 2^32; 0 on success. On failure *bytes is left as it was; WAVE_OUT_DEVICE_LOST when the
  // device is gone.
  int32_t (*GetPositionBytes)(WaveDevice* device, uint32_t* bytes);
  // Stops playing; the device keeps the header.
  int32_t (*Reset)(WaveDevice* device);
  int32_t (*UnprepareHeader)(WaveDevice* device, WaveHeader* header);
  int32_t (*Close)(WaveDevice* device);
};

// Makes ops the current backend, missing operations filled with no-op defaults (an Open that
// is missing fails). Null selects the system's default backend. Returns the current table.
const WaveOutOps* UseWaveOut(const WaveOutOps* ops);
// The current backend; the system's default until UseWaveOut chooses another.
const WaveOutOps* CurrentWaveOut();

// Backends compiled into this build (the system's default is chosen in wave_out.cpp).
extern const WaveOutOps VirtualWaveOut;
#if defined(TONEWELL_HAVE_SDL2)
extern const WaveOutOps SdlWaveOut;
#endif
#if defined(_WIN32)
extern const WaveOutOps WinmmWaveOut;
#endif
