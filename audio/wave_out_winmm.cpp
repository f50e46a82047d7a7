// SPDX-License-Identifier: GPL-2.0-or-later
// The wave-output device layer over the Windows multimedia API: the default output device
// (WAVE_MAPPER) opened without notifications, one WAVEHDR describing the looping ring, and
// the play position in bytes. A WaveDevice* is the HWAVEOUT itself; the WAVEHDR lives in a
// block of the process heap that the engine's WaveHeader points to while it is prepared.
#include "audio/wave_out.h"

#include <windows.h>
#include <mmsystem.h>

namespace {

HWAVEOUT Out(WaveDevice* device) { return reinterpret_cast<HWAVEOUT>(device); }
WAVEHDR* NativeHeader(WaveHeader* header) { return header ? static_cast<WAVEHDR*>(header->Native) : nullptr; }

int32_t WinmmOpen(WaveDevice** device, const WaveFormat* format) {
  WAVEFORMATEX wave{};
  wave.wFormatTag = format->FormatTag;
  wave.nChannels = format->Channels;
  wave.nSamplesPerSec = format->SamplesPerSec;
  wave.nAvgBytesPerSec = format->AvgBytesPerSec;
  wave.nBlockAlign = format->BlockAlign;
  wave.wBitsPerSample = format->BitsPerSample;
  wave.cbSize = format->ExtraSize;
  HWAVEOUT out = nullptr;
  const MMRESULT result = waveOutOpen(&out, WAVE_MAPPER, &wave, 0, 0, CALLBACK_NULL);
  if (result != MMSYSERR_NOERROR) return static_cast<int32_t>(result);
  *device = reinterpret_cast<WaveDevice*>(out);
  return 0;
}

// Copies the engine's header into a WAVEHDR of its own and prepares that; the WAVEHDR must
// stay in place until it is unprepared, so it is not on the stack.
int32_t WinmmPrepare(WaveDevice* device, WaveHeader* header) {
  WAVEHDR* native = NativeHeader(header);
  if (!native) {
    native = static_cast<WAVEHDR*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WAVEHDR)));
    if (!native) return MMSYSERR_NOMEM;
    header->Native = native;
  }
  native->lpData = header->Data;
  native->dwBufferLength = header->BufferLength;
  native->dwBytesRecorded = header->BytesRecorded;
  native->dwUser = static_cast<DWORD_PTR>(header->User);
  native->dwFlags = header->Flags;
  native->dwLoops = header->Loops;
  native->lpNext = nullptr;
  native->reserved = static_cast<DWORD_PTR>(header->Reserved);
  return static_cast<int32_t>(waveOutPrepareHeader(Out(device), native, sizeof(WAVEHDR)));
}

int32_t WinmmWrite(WaveDevice* device, WaveHeader* header) {
  WAVEHDR* native = NativeHeader(header);
  if (!native) return WAVERR_UNPREPARED;
  return static_cast<int32_t>(waveOutWrite(Out(device), native, sizeof(WAVEHDR)));
}

// Bytes played since the write, across loop passes. A device that answers in another unit
// than bytes counts as a failed query: *bytes keeps its value. A device that has gone (its
// driver removed it: unplugged, the audio service ended) answers MMSYSERR_NODRIVER, and a
// handle the system no longer knows MMSYSERR_INVALHANDLE: both mean the device is lost.
int32_t WinmmPosition(WaveDevice* device, uint32_t* bytes) {
  MMTIME time{};
  time.wType = TIME_BYTES;
  const MMRESULT result = waveOutGetPosition(Out(device), &time, sizeof(MMTIME));
  if (result == MMSYSERR_NODRIVER || result == MMSYSERR_INVALHANDLE) return WAVE_OUT_DEVICE_LOST;
  if (result != MMSYSERR_NOERROR) return static_cast<int32_t>(result);
  if (time.wType != TIME_BYTES) return MMSYSERR_ERROR;
  *bytes = time.u.cb;
  return 0;
}

int32_t WinmmReset(WaveDevice* device) { return static_cast<int32_t>(waveOutReset(Out(device))); }

// Unprepares and gives the WAVEHDR back; the engine's header no longer points to it.
int32_t WinmmUnprepare(WaveDevice* device, WaveHeader* header) {
  WAVEHDR* native = NativeHeader(header);
  if (!native) return 0;
  const MMRESULT result = waveOutUnprepareHeader(Out(device), native, sizeof(WAVEHDR));
  if (result == WAVERR_STILLPLAYING) return static_cast<int32_t>(result);
  HeapFree(GetProcessHeap(), 0, native);
  header->Native = nullptr;
  return static_cast<int32_t>(result);
}

int32_t WinmmClose(WaveDevice* device) { return static_cast<int32_t>(waveOutClose(Out(device))); }

}  // namespace

const WaveOutOps WinmmWaveOut = {.Name = "winmm", .Open = WinmmOpen, .PrepareHeader = WinmmPrepare, .Write = WinmmWrite,
    .GetPositionBytes = WinmmPosition, .Reset = WinmmReset, .UnprepareHeader = WinmmUnprepare, .Close = WinmmClose};
