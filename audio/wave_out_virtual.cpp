// SPDX-License-Identifier: GPL-2.0-or-later
// The virtual wave-output device: records what it is asked to do and plays nothing.
#include "audio/wave_out_virtual.h"

#include <atomic>
#include <cstring>

namespace {

struct VirtualDevice {
  int32_t Unused;
};

VirtualDevice TheDevice;
VirtualWaveOutRecord Record;
int32_t OpenFailure, PrepareFailure, WriteFailure;
const char* PlayedBuffer;  // the buffer written to the device; null before the first write
uint32_t PlayedLength;

// Shared with the pump thread.
std::atomic<uint32_t> Position{0};
std::atomic<int32_t> PositionFailing{0};
std::atomic<int32_t> PositionQueries{0};
std::atomic<int32_t> QueriesWhileClosed{0};
std::atomic<int32_t> DeviceOpen{0};
std::atomic<int32_t> DeviceGone{0};

void Note(int32_t op) {
  if (Record.LogLength < VIRTUAL_LOG_SIZE) Record.Log[Record.LogLength++] = op;
}

int32_t VirtualOpen(WaveDevice** device, const WaveFormat* format) {
  Note(VOP_OPEN);
  ++Record.Opens;
  Record.LastFormat = *format;
  if (OpenFailure != 0) return OpenFailure;
  if (DeviceGone.load() != 0) return 1;
  *device = reinterpret_cast<WaveDevice*>(&TheDevice);
  Record.OpenedDevice = *device;
  Record.IsOpen = 1;
  DeviceOpen.store(1);
  return 0;
}

int32_t VirtualPrepare(WaveDevice*, WaveHeader* header) {
  Note(VOP_PREPARE);
  ++Record.Prepares;
  Record.LastHeader = *header;
  return PrepareFailure;
}

int32_t VirtualWrite(WaveDevice*, WaveHeader* header) {
  Note(VOP_WRITE);
  ++Record.Writes;
  if (WriteFailure != 0) return WriteFailure;
  PlayedBuffer = header->Data;
  PlayedLength = header->BufferLength;
  Position.store(0);
  Record.IsPlaying = 1;
  return 0;
}

int32_t VirtualGetPosition(WaveDevice*, uint32_t* bytes) {
  PositionQueries.fetch_add(1);
  if (DeviceOpen.load() == 0) QueriesWhileClosed.fetch_add(1);
  if (DeviceGone.load() != 0) return WAVE_OUT_DEVICE_LOST;
  if (PositionFailing.load() != 0) return 1;
  *bytes = Position.load();
  return 0;
}

int32_t VirtualReset(WaveDevice*) {
  Note(VOP_RESET);
  ++Record.Resets;
  Record.IsPlaying = 0;
  return 0;
}

int32_t VirtualUnprepare(WaveDevice*, WaveHeader*) {
  Note(VOP_UNPREPARE);
  ++Record.Unprepares;
  return 0;
}

int32_t VirtualClose(WaveDevice* device) {
  Note(VOP_CLOSE);
  ++Record.Closes;
  Record.LastClosedDevice = device;
  Record.IsOpen = 0;
  Record.IsPlaying = 0;
  DeviceOpen.store(0);
  return 0;
}

}  // namespace

const WaveOutOps VirtualWaveOut = {.Name = "virtual", .Open = VirtualOpen, .PrepareHeader = VirtualPrepare, .Write = VirtualWrite,
    .GetPositionBytes = VirtualGetPosition, .Reset = VirtualReset, .UnprepareHeader = VirtualUnprepare, .Close = VirtualClose};

void ResetVirtualWaveOut() {
  Record = VirtualWaveOutRecord{};
  OpenFailure = PrepareFailure = WriteFailure = 0;
  PlayedBuffer = nullptr;
  PlayedLength = 0;
  Position.store(0);
  PositionFailing.store(0);
  PositionQueries.store(0);
  QueriesWhileClosed.store(0);
  DeviceOpen.store(0);
  DeviceGone.store(0);
}

void LoseVirtualDevice(int32_t lost) { DeviceGone.store(lost); }

void FailVirtualOpen(int32_t result) { OpenFailure = result; }
void FailVirtualPrepare(int32_t result) { PrepareFailure = result; }
void FailVirtualWrite(int32_t result) { WriteFailure = result; }
void FailVirtualPosition(int32_t failing) { PositionFailing.store(failing); }

void SetVirtualPosition(uint32_t bytes) { Position.store(bytes); }
void AdvanceVirtualPosition(uint32_t bytes) { Position.fetch_add(bytes); }
uint32_t VirtualPosition() { return Position.load(); }
int32_t VirtualPositionQueries() { return PositionQueries.load(); }
int32_t VirtualQueriesWhileClosed() { return QueriesWhileClosed.load(); }

VirtualWaveOutRecord VirtualWaveOutState() { return Record; }

int32_t ReadVirtualPlayed(uint64_t from, uint64_t to, unsigned char* out) {
  if (!PlayedBuffer || PlayedLength == 0 || to <= from) return 0;
  int32_t copied = 0;
  for (uint64_t at = from; at < to;) {
    const uint32_t offset = static_cast<uint32_t>(at % PlayedLength);
    uint64_t run = PlayedLength - offset;
    if (run > to - at) run = to - at;
    std::memcpy(out + copied, PlayedBuffer + offset, static_cast<size_t>(run));
    copied += static_cast<int32_t>(run);
    at += run;
  }
  return copied;
}
