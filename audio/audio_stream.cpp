// SPDX-License-Identifier: GPL-2.0-or-later
#include "audio/audio_stream.h"

#include <algorithm>
#include <cstring>

#include "platform/heap.h"
#include "platform/thread.h"

namespace {

constexpr int32_t PUMP_POLL_MS = 5;
constexpr int32_t STOP_POLL_MS = 10;
constexpr int32_t POSITION_FRAME_BYTES = 4;  // the play position counts frames of 4 bytes

}  // namespace

int32_t ConfigureAudioStream() {
  AudioStream& s = Stream();
  s.Channels = 2;
  s.BitsPerSample = 16;
  s.FrameBytes = s.BitsPerSample / 8 * s.Channels;
  s.SampleRate = 44100;
  s.BlockFrames = ((s.SampleRate * 20 / 1000) + 3) & ~3;
  s.RingFrames = s.BlockFrames * 8;
  s.BlockCount = s.RingFrames / s.BlockFrames;
  s.RingBytes = s.RingFrames * s.FrameBytes;
  s.SamplesPerTick = s.SampleRate / 50;
  s.RingBuffer = nullptr;
  s.Device = nullptr;
  s.ResetCallback = nullptr;
  s.SampleCallback = nullptr;
  s.TickCallback = nullptr;
  s.IdleCallback = nullptr;
  s.TickCounter = 0;
  s.StopRequested.store(0);
  s.WriteBlock = 0;
  s.PumpThreadId = 0;
  s.PumpExited.store(0);
  s.RingHeader = WaveHeader{};
  s.OpenResult = -1;
  s.PumpStarted = 0;
  s.DeviceLost.store(0);
  s.LostCycles = 0;
  s.Reopens.store(0);
  return 0;
}

int32_t SetResetCallback(ResetCallbackFn routine) {
  if (!routine) return 0;
  Stream().ResetCallback = routine;
  return 1;
}

int32_t SetSampleCallback(SampleCallbackFn routine) {
  if (!routine) return 0;
  Stream().SampleCallback = routine;
  return 1;
}

int32_t SetTickCallback(TickCallbackFn routine) {
  if (!routine) return 0;
  Stream().TickCallback = routine;
  return 1;
}

int32_t SetIdleCallback(IdleCallbackFn routine) {
  if (!routine) return 0;
  Stream().IdleCallback = routine;
  return 1;
}

int32_t SetStreamCallbacks(ResetCallbackFn reset, SampleCallbackFn sample, IdleCallbackFn idle,
                           TickCallbackFn tick) {
  SetResetCallback(reset);
  SetSampleCallback(sample);
  SetTickCallback(tick);
  SetIdleCallback(idle);
  return 0;
}

int32_t AllocateRing() {
  AudioStream& s = Stream();
  if (!s.RingBuffer)
    s.RingBuffer = static_cast<char*>(HeapAllocZeroed(Heaps().MemoryHeap, static_cast<size_t>(s.RingBytes)));
  return 0;
}

int32_t ClearRing() {
  AudioStream& s = Stream();
  if (s.RingBuffer) std::memset(s.RingBuffer, 0, static_cast<size_t>(s.RingBytes));
  return 0;
}

int32_t ReleaseRing() {
  AudioStream& s = Stream();
  if (s.RingBuffer) {
    HeapRelease(Heaps().MemoryHeap, s.RingBuffer);
    s.RingBuffer = nullptr;
  }
  return 0;
}

int32_t RenderBlock() {
  AudioStream& s = Stream();
  char* frame = s.RingBuffer + static_cast<intptr_t>(s.WriteBlock) * s.BlockFrames * s.FrameBytes;
  for (int32_t n = 0; n < s.BlockFrames; ++n) {
    if (SampleCallbackFn sample = s.SampleCallback) sample(frame);
    if (++s.TickCounter == s.SamplesPerTick) {
      if (TickCallbackFn tick = s.TickCallback) tick();
      s.TickCounter = 0;
    }
    frame += s.FrameBytes;
  }
  if (++s.WriteBlock >= s.BlockCount) s.WriteBlock = 0;
  return 0;
}

const char* NextBlockFrames() {
  const AudioStream& s = Stream();
  if (!s.RingBuffer) return nullptr;
  return s.RingBuffer + static_cast<intptr_t>(s.WriteBlock) * s.BlockFrames * s.FrameBytes;
}

namespace {

WaveFormat StreamFormat() {
  const AudioStream& s = Stream();
  WaveFormat format{};
  format.FormatTag = WAVE_OUT_PCM;
  format.Channels = static_cast<uint16_t>(s.Channels);
  format.SamplesPerSec = static_cast<uint32_t>(s.SampleRate);
  format.AvgBytesPerSec = static_cast<uint32_t>(s.SampleRate * s.FrameBytes);
  format.BlockAlign = static_cast<uint16_t>(s.FrameBytes);
  format.BitsPerSample = static_cast<uint16_t>(s.BitsPerSample);
  format.ExtraSize = 0;
  return format;
}

void FillRingHeader() {
  AudioStream& s = Stream();
  s.RingHeader.Data = s.RingBuffer;
  s.RingHeader.BufferLength = static_cast<uint32_t>(s.RingBytes);
  s.RingHeader.BytesRecorded = 0;
  s.RingHeader.User = 0;
  s.RingHeader.Flags = WAVE_OUT_BEGIN_LOOP | WAVE_OUT_END_LOOP;
  s.RingHeader.Loops = 0xFFFFFFFFu;
  s.RingHeader.Next = nullptr;
  s.RingHeader.BlockLength = static_cast<uint32_t>(s.BlockFrames * s.FrameBytes);
}

void CloseDevice(const WaveOutOps* device) {
  AudioStream& s = Stream();
  device->Reset(s.Device);
  device->UnprepareHeader(s.Device, &s.RingHeader);
  device->Close(s.Device);
  s.Device = nullptr;
}

// The device is gone while it played block playBlock. Closes it and turns the ring so that
// this block comes first, where a new device starts: the blocks keep their order, WriteBlock
// keeps its distance to the playing block, and the new device plays first what the lost one
// was playing (that block again from its start), then what was rendered ahead of it.
void LoseDevice(const WaveOutOps* device, int32_t playBlock) {
  AudioStream& s = Stream();
  CloseDevice(device);
  const intptr_t blockBytes = static_cast<intptr_t>(s.BlockFrames) * s.FrameBytes;
  std::rotate(s.RingBuffer, s.RingBuffer + playBlock * blockBytes, s.RingBuffer + s.RingBytes);
  s.WriteBlock = (s.WriteBlock - playBlock + s.BlockCount) % s.BlockCount;
  s.DeviceLost.store(1);
  s.LostCycles = 0;
}

// Opens the default device on the ring as the stream's open does; 0 when it plays the ring.
// Opens device in the stream's format and hands it the whole ring: 0 playing; 1 the device did
// not open (no device left); 2 the header was not prepared, 3 not written (the device is open).
int32_t StartDevice(const WaveOutOps* device) {
  AudioStream& s = Stream();
  const WaveFormat format = StreamFormat();
  s.Device = nullptr;
  if (!s.RingBuffer || device->Open(&s.Device, &format) != 0) {
    s.Device = nullptr;
    return 1;
  }
  FillRingHeader();
  if (device->PrepareHeader(s.Device, &s.RingHeader) != 0) return 2;
  if (device->Write(s.Device, &s.RingHeader) != 0) return 3;
  return 0;
}

// After a lost device: the next device started, or none left open. 0 when it plays.
int32_t ReopenDevice(const WaveOutOps* device) {
  const int32_t result = StartDevice(device);
  if (result > 1) CloseDevice(device);
  return result == 0 ? 0 : 1;
}

}  // namespace

int32_t StreamPump(intptr_t) {
  AudioStream& s = Stream();
  const WaveOutOps* device = CurrentWaveOut();
  s.PumpExited.store(0);
  uint32_t playedBytes = 0;  // kept when a position query fails
  int32_t playBlock = 0;
  while (s.StopRequested.load() == 0) {
    if (s.DeviceLost.load() != 0) {
      // Nothing plays, so nothing is rendered: the ticks wait for the device to come back.
      if (++s.LostCycles >= REOPEN_EVERY_CYCLES) {
        s.LostCycles = 0;
        if (ReopenDevice(device) == 0) {
          s.DeviceLost.store(0);
          ++s.Reopens;
          playedBytes = 0;  // the new device counts from its write, on block 0
        }
      }
    } else if (device->GetPositionBytes(s.Device, &playedBytes) == WAVE_OUT_DEVICE_LOST) {
      LoseDevice(device, playBlock);
    } else {
      const int32_t playFrame = static_cast<int32_t>((playedBytes / POSITION_FRAME_BYTES) % static_cast<uint32_t>(s.RingFrames));
      playBlock = playFrame / s.BlockFrames;
      while (s.WriteBlock != playBlock) RenderBlock();
    }
    if (IdleCallbackFn idle = s.IdleCallback) idle();
    SleepMs(PUMP_POLL_MS);
  }
  s.PumpExited.store(1);
  return 0;
}

int32_t PrepareStream() {
  AudioStream& s = Stream();
  if (ResetCallbackFn reset = s.ResetCallback) reset();
  AllocateRing();
  ClearRing();
  s.WriteBlock = 0;
  s.TickCounter = 0;
  return 0;
}

int32_t OpenAudioStream() {
  AudioStream& s = Stream();
  const WaveOutOps* device = CurrentWaveOut();
  PrepareStream();
  if (const int32_t result = StartDevice(device)) return s.OpenResult = result;

  s.DeviceLost.store(0);
  s.LostCycles = 0;
  s.StopRequested.store(0);
  // A flag left at 1 by an earlier stream would let a stop that comes before the new pump's
  // first instruction go on at once and close the device under it.
  s.PumpExited.store(0);
  RequestFineTimer();
  s.PumpThreadId = StartThread(StreamPump, 0);
  if (s.PumpThreadId != 0) {
    s.PumpStarted = 1;
    RaiseThreadPriority(s.PumpThreadId);
  }
  return s.OpenResult = 0;
}

int32_t StopAudioStream() {
  AudioStream& s = Stream();
  const WaveOutOps* device = CurrentWaveOut();
  s.StopRequested.store(1);
  if (s.PumpStarted) {
    while (s.PumpExited.load() != 1) SleepMs(STOP_POLL_MS);
    JoinThread(s.PumpThreadId);
    s.PumpStarted = 0;
  }
  s.PumpThreadId = 0;
  if (s.Device) CloseDevice(device);
  ReleaseRing();
  return 0;
}
