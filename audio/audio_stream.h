// SPDX-License-Identifier: GPL-2.0-or-later
// The audio stream: a ring of BlockCount blocks that the device plays in a loop, refilled by a
// pump thread that renders every block the device has finished playing. It makes sound only
// through four callbacks; a tick comes after every SamplesPerTick rendered frames.
#pragma once
#include <atomic>
#include <cstdint>

#include "audio/wave_out.h"

using ResetCallbackFn = int32_t (*)();
using SampleCallbackFn = int32_t (*)(void* frame);  // fills one 4-byte stereo frame
using TickCallbackFn = int32_t (*)();
using IdleCallbackFn = int32_t (*)();

struct AudioStream {
  int32_t BitsPerSample;         // 16
  int32_t BlockFrames;           // 884: 20 ms (882) rounded up to a multiple of 4
  char* RingBuffer;              // RingBytes of PCM; null while no ring is held
  int32_t RingBytes;             // RingFrames * FrameBytes = 28288
  int32_t RingFrames;            // BlockFrames * 8 = 7072
  int32_t FrameBytes;            // BitsPerSample / 8 * Channels = 4
  ResetCallbackFn ResetCallback;
  SampleCallbackFn SampleCallback;
  TickCallbackFn TickCallback;
  IdleCallbackFn IdleCallback;
  int32_t Channels;              // 2
  int32_t SampleRate;            // 44100
  int32_t TickCounter;           // frames rendered since the last tick, 0..SamplesPerTick-1
  int32_t SamplesPerTick;        // SampleRate / 50 = 882
  std::atomic<int32_t> StopRequested;  // controlling thread -> pump
  int32_t WriteBlock;            // next block the pump renders, 0..BlockCount-1
  int32_t PumpThreadId;          // 0 while no pump runs
  std::atomic<int32_t> PumpExited;     // pump -> controlling thread
  int32_t BlockCount;            // RingFrames / BlockFrames = 8
  WaveDevice* Device;            // null until a device is opened
  WaveHeader RingHeader;         // describes the whole ring to the device while it is open
  int32_t OpenResult;            // what the last open returned; -1 before any open
  int32_t PumpStarted;           // 1 once the open has started a pump thread
  // Device loss: written by the pump once it runs; the two atomics may be read by any thread.
  std::atomic<int32_t> DeviceLost;  // 1 while the device has gone and none is open again yet
  int32_t LostCycles;               // pump cycles since the loss or the last attempt to reopen
  std::atomic<int32_t> Reopens;     // devices opened again after a loss
};

// The one stream of the process (a group of the application record).
AudioStream& Stream();

// Pump cycles between attempts to open a device again after a loss: 50 cycles of 5 ms, about a
// quarter of a second, so a device that is gone costs a cheap open attempt 4 times a second.
constexpr int32_t REOPEN_EVERY_CYCLES = 50;

// Start-up: format, block and ring sizes, samples per tick; buffers, device and callbacks null,
// counters and flags 0. Returns 0.
int32_t ConfigureAudioStream();

// Each stores a non-null routine in its slot and returns 1; null leaves the slot and returns 0.
int32_t SetResetCallback(ResetCallbackFn routine);
int32_t SetSampleCallback(SampleCallbackFn routine);
int32_t SetTickCallback(TickCallbackFn routine);
int32_t SetIdleCallback(IdleCallbackFn routine);
// Calls the four setters in the order reset, sample, tick, idle. Note the argument order.
int32_t SetStreamCallbacks(ResetCallbackFn reset, SampleCallbackFn sample, IdleCallbackFn idle,
                           TickCallbackFn tick);

// Gets the stream ready to render from its first frame: calls the reset callback, obtains and
// zeroes the ring, and sets WriteBlock and TickCounter to 0. The open starts with it; offline
// rendering calls it and then RenderBlock. Always 0 (RingBuffer stays null if no memory).
int32_t PrepareStream();
// Prepares the stream (PrepareStream), opens the device on the silent ring and starts the pump.
// 0 playing; 1 the device did not open; 2 the ring could not be prepared; 3 the write failed.
int32_t OpenAudioStream();
// Stops the pump (waiting only for a pump that was started), closes any device the open left
// open and releases the ring. Always 0.
int32_t StopAudioStream();

// The pump thread: polls the play position every 5 ms and renders every block up to the one
// playing. When the device is lost it closes it, turns the ring so that the block the device
// was playing comes first, and every REOPEN_EVERY_CYCLES cycles tries to open the default
// device again on the turned ring: nothing is rendered meanwhile, so the music goes on where
// it was, with no tick lost or repeated. Returns 0 once StopRequested is seen.
int32_t StreamPump(intptr_t unused);
// Renders BlockFrames frames into block WriteBlock, ticking after every SamplesPerTick-th
// frame counted across blocks, and moves WriteBlock on. Always 0.
int32_t RenderBlock();
// The first frame of block WriteBlock: where the next RenderBlock writes. Null without a ring.
const char* NextBlockFrames();

// RingBuffer: obtain RingBytes if none is held / zero it / give it back. Each returns 0.
int32_t AllocateRing();
int32_t ClearRing();
int32_t ReleaseRing();
