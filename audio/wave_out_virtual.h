// SPDX-License-Identifier: GPL-2.0-or-later
// A wave-output device without sound, for tests: its play position moves only when a test moves
// it, and a test can make open, prepare, write or the position query fail, or the device vanish
// and come back. UseWaveOut(
// &VirtualWaveOut) selects it. The position may be set from any thread while the pump queries it;
// everything else is set up by the controlling thread while no pump runs.
#pragma once
#include <cstdint>

#include "audio/wave_out.h"

// The device operations in the order a test may see them in the log.
enum VirtualOp : int32_t {
  VOP_OPEN = 1,
  VOP_PREPARE = 2,
  VOP_WRITE = 3,
  VOP_RESET = 4,
  VOP_UNPREPARE = 5,
  VOP_CLOSE = 6,
};
constexpr int32_t VIRTUAL_LOG_SIZE = 64;  // the log keeps the first 64 operations

// Everything the device has seen since ResetVirtualWaveOut (position queries are only counted).
struct VirtualWaveOutRecord {
  int32_t Log[VIRTUAL_LOG_SIZE];  // VirtualOp codes, in call order
  int32_t LogLength;              // operations logged (at most VIRTUAL_LOG_SIZE)
  int32_t Opens, Prepares, Writes, Resets, Unprepares, Closes;  // calls, failed ones included
  WaveFormat LastFormat;          // as passed to the last open
  WaveHeader LastHeader;          // as passed to the last prepare
  WaveDevice* OpenedDevice;       // what the last successful open handed out; null if none
  WaveDevice* LastClosedDevice;   // what the last close was given
  int32_t IsOpen;                 // 1 between a successful open and its close
  int32_t IsPlaying;              // 1 between a successful write and a reset or close
};

// Forgets every call and failure, sets the position to 0 and closes the device. Not while a pump runs.
void ResetVirtualWaveOut();
// Makes the next opens, prepares or writes return result (0: succeed again).
void FailVirtualOpen(int32_t result);
void FailVirtualPrepare(int32_t result);
void FailVirtualWrite(int32_t result);
// While failing is 1 the position query fails and leaves the caller's count alone.
void FailVirtualPosition(int32_t failing);

// While lost is 1 the device is gone: position queries report WAVE_OUT_DEVICE_LOST and opens
// fail, as with no device at all; 0 brings it back, and the next open succeeds. Any thread.
void LoseVirtualDevice(int32_t lost);

// The played byte count the next position query reports; a successful write starts it at 0 (wraps at 2^32 like the real one).
void SetVirtualPosition(uint32_t bytes);
void AdvanceVirtualPosition(uint32_t bytes);
uint32_t VirtualPosition();
// Position queries since the reset; those made while the device was closed, separately.
int32_t VirtualPositionQueries();
int32_t VirtualQueriesWhileClosed();

// A copy of what the device has seen (read by the controlling thread while the pump sleeps).
VirtualWaveOutRecord VirtualWaveOutState();

// Copies the bytes the device plays from byte count `from` up to `to` (from <= to, counts since
// the write, taken modulo the written buffer's length) into out. Returns the bytes copied: 0 when
// nothing has been written. The caller makes sure the pump is not writing those bytes meanwhile.
int32_t ReadVirtualPlayed(uint64_t from, uint64_t to, unsigned char* out);
