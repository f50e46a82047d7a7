// SPDX-License-Identifier: GPL-2.0-or-later
// The emulated AY-3-8910 / YM2149 sound generator: ten register groups, envelope steppers,
// and the per-sample renderer. There is one chip, App.Chip; every routine works on it.
#pragma once
#include <cstdint>

#include "psg/chip_registers.h"

// One voice's tone generator and volume.
struct ToneChannel {
  int32_t Period;          // 0..4095, as written
  float PeriodLimit;       // Period / PeriodStep: half a tone cycle, in output samples
  float Phase;             // samples since the last level change (plus carried remainder)
  int32_t SquareOutput;    // 0 or 1
  int32_t VolumeRaw;       // 0..31: level in bits 0-3, envelope mode in bit 4
  float FixedAmplitude;    // VolumeTable[2 * level + 1]
  int32_t EnvelopeMode;    // VolumeRaw & 16: nonzero plays EnvelopeLevel instead
  int32_t ToneEnabled;     // 0 or 1, from the mixer
  int32_t NoiseEnabled;    // 0 or 1, from the mixer
  int32_t ChannelActive;   // ToneEnabled | NoiseEnabled
};

// Moves the envelope one step and returns the VolumeTable entry it lands on.
using EnvelopeStepperFn = float (*)();

constexpr int32_t VOLUME_TABLE_SIZE = 32;

struct PsgChip {
  int32_t ClockHz;           // PLAYER_CHIP_CLOCK_HZ
  int32_t ClockDiv8;         // ClockHz / 8 = 218750
  float PeriodStep;          // ClockDiv8 / sample rate: chip cycles of 8 clocks per output sample
  float OutputGain;          // 0..1, set by SetOutputLevel
  int32_t FilterEnabled;     // output smoothing on (1) or off (0)
  float FilterInputWeight;   // 0.85
  float FilterStateWeight;   // 0.99
  ToneChannel Channel[3];    // A, B, C
  int32_t NoisePeriod;       // 0..31
  float NoiseLimit;
  float NoisePhase;
  uint32_t NoiseShift;       // 17-bit LFSR seen through bit 16; never masked, so unsigned
  int32_t NoiseOutput;       // 0 or 1
  int32_t MixerRaw;          // 0..63, a set bit disables
  int32_t EnvelopePeriod;    // 0..65535
  float EnvelopeLimit;
  float EnvelopePhase;
  int32_t EnvelopeShape;     // 0..15
  int32_t EnvelopeIndex;     // -1..32; every stepper moves it into 0..31 before reading
  int32_t EnvelopeFlag;      // hold or direction flag, by stepper
  EnvelopeStepperFn EnvelopeStepper;
  float EnvelopeLevel;       // last stepper result: amplitude of voices in envelope mode
  float FilterLeft;
  float FilterRight;
  float VolumeTable[VOLUME_TABLE_SIZE];  // 0..65535 scale, filled by LoadVolumeTable
};

// Start-up: clock, step size for sampleRate (Hz), start values; VolumeTable zeroed. Returns 0.
// The one chip of the process (a group of the application record).
PsgChip& Chip();

int32_t ConfigureChip(int32_t sampleRate);

// Stores value masked to group's width (GROUP_TONE_A..GROUP_SHAPE, 0..9) and derives what the renderer needs.
// Other groups change nothing. Always 0.
int32_t WriteGroup(int32_t group, int32_t value);
// The stored, masked value of group; 0 for a group outside 0..9 (GROUP_COUNT).
int32_t ReadGroup(int32_t group);
// Reloads the VolumeTable, writes 0 to every group, clears every phase, output and filter
// state, seeds the noise register with 0xFFFF. Configuration and OutputGain are kept. Always 0.
int32_t ResetChip();
// Clamps level to [0, 1] (NaN gives 0) and makes it the output gain. Always 0.
int32_t SetOutputLevel(float level);

// Advances the chip by one output sample (1/sample rate) and stores one stereo frame at frame:
// left then right, signed 16-bit little-endian, 4 bytes. Always 0.
int32_t RenderFrame(void* frame);

// Copies the 32 built-in amplitudes into the VolumeTable. Always 0.
int32_t LoadVolumeTable();

// The eight envelope steppers; a shape write selects one of them.
float StepDecayThenLow();
float StepAttackThenLow();
float StepSawDown();
float StepTriangleDownFirst();
float StepDecayThenHigh();
float StepSawUp();
float StepAttackThenHigh();
float StepTriangleUpFirst();
