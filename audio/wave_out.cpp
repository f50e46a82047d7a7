// SPDX-License-Identifier: GPL-2.0-or-later
// Chooses the wave-output backend and fills the operations a backend lacks.
#include "audio/wave_out.h"

namespace {

int32_t NoOpen(WaveDevice**, const WaveFormat*) { return 1; }
int32_t NoHeader(WaveDevice*, WaveHeader*) { return 0; }
int32_t NoPosition(WaveDevice*, uint32_t*) { return 1; }
int32_t NoDevice(WaveDevice*) { return 0; }

// A build without any sound backend: every open fails, as with no device at all.
const WaveOutOps SilentWaveOut = {.Name = "none", .Open = nullptr, .PrepareHeader = nullptr, .Write = nullptr,
    .GetPositionBytes = nullptr, .Reset = nullptr, .UnprepareHeader = nullptr, .Close = nullptr};

const WaveOutOps* DefaultWaveOut() {
#if defined(_WIN32)
  return &WinmmWaveOut;
#elif defined(TONEWELL_HAVE_SDL2)
  return &SdlWaveOut;
#else
  return &SilentWaveOut;
#endif
}

WaveOutOps Current;
bool Chosen = false;

}  // namespace

const WaveOutOps* UseWaveOut(const WaveOutOps* ops) {
  Current = ops ? *ops : *DefaultWaveOut();
  if (!Current.Name) Current.Name = "unnamed";
  if (!Current.Open) Current.Open = NoOpen;
  if (!Current.PrepareHeader) Current.PrepareHeader = NoHeader;
  if (!Current.Write) Current.Write = NoHeader;
  if (!Current.GetPositionBytes) Current.GetPositionBytes = NoPosition;
  if (!Current.Reset) Current.Reset = NoDevice;
  if (!Current.UnprepareHeader) Current.UnprepareHeader = NoHeader;
  if (!Current.Close) Current.Close = NoDevice;
  Chosen = true;
  return &Current;
}

const WaveOutOps* CurrentWaveOut() { return Chosen ? &Current : UseWaveOut(nullptr); }
