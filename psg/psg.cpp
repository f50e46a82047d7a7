// SPDX-License-Identifier: GPL-2.0-or-later
// The sound generator. Where it knowingly differs from the real chip:
// - Generators run on float phases counted in output samples (one step of 1.0 per sample)
//   against limits derived at write time, not on integer counters clocked by the chip.
//   Periods 0 to 4 give limits below 1.0, and such a generator changes on every sample.
// - The envelope's phase gains EnvelopeIncrement (1.0011) per sample, not 1.0, so it steps
//   about 0.11 % faster than its period alone implies.
// - Fixed level 0 plays table entry 1 (30 of 65535), not silence; only the envelope's
//   bottom entry is silent.
// - Each register group is one logical write (a 12-bit period at once, not fine and coarse).
// - A voice with tone and noise disabled plays a constant -amplitude/2 (a DC offset).
// - The output adds stereo placement (A left, B right, C both at half weight) and a one-pole
//   smoothing filter.
//
// Numbers: fields are float32; an expression is evaluated in double and rounded to float32 when
// stored. A single sum, difference or product of two float32 values is computed in float32
// directly: being correctly rounded, it equals the double result rounded to float32.
#include "psg/psg.h"

#include <cmath>

namespace {

// Envelope phase gain per sample: float32 bits 0x3F80240B, 8397835 / 8388608.
constexpr float EnvelopeIncrement = 8397835.0f / 8388608.0f;

constexpr float BUILT_IN_VOLUMES[VOLUME_TABLE_SIZE] = {
    0,     30,    190,   286,   375,   470,   560,   664,   866,   1130,  1515,
    1803,  2253,  2848,  3351,  3862,  4844,  6058,  7290,  8559,  10474, 12878,
    15297, 17787, 21500, 26172, 30866, 35676, 42664, 50986, 58842, 65535};

// Stepper per shape: 0-3 and 9 decay and hold low, 4-7 and 15 attack then drop low, the rest
// each have their own.
constexpr EnvelopeStepperFn STEPPER_OF_SHAPE[16] = {
    StepDecayThenLow,  StepDecayThenLow,      StepDecayThenLow,   StepDecayThenLow,
    StepAttackThenLow, StepAttackThenLow,     StepAttackThenLow,  StepAttackThenLow,
    StepSawDown,       StepDecayThenLow,      StepTriangleDownFirst, StepDecayThenHigh,
    StepSawUp,         StepAttackThenHigh,    StepTriangleUpFirst, StepAttackThenLow};

float LimitOf(int32_t period) {
  return static_cast<float>(static_cast<double>(period) / static_cast<double>(Chip().PeriodStep));
}

float Entry(int32_t index) { return Chip().VolumeTable[index]; }

}  // namespace

int32_t ConfigureChip(int32_t sampleRate) {
  PsgChip& c = Chip();
  c.ClockHz = PLAYER_CHIP_CLOCK_HZ;
  c.ClockDiv8 = c.ClockHz / 8;
  c.PeriodStep = static_cast<float>(static_cast<double>(c.ClockDiv8) / static_cast<double>(sampleRate));
  for (ToneChannel& t : c.Channel) {
    t = ToneChannel{};
    t.ChannelActive = 1;
  }
  c.NoisePeriod = 0;
  c.NoiseLimit = c.NoisePhase = 0.0f;
  c.NoiseShift = 0xFFFF;
  c.NoiseOutput = 0;
  c.MixerRaw = 0;
  c.EnvelopePeriod = c.EnvelopeShape = c.EnvelopeIndex = c.EnvelopeFlag = 0;
  c.EnvelopeLimit = c.EnvelopePhase = c.EnvelopeLevel = 0.0f;
  c.EnvelopeStepper = StepDecayThenLow;
  c.FilterEnabled = 1;
  c.FilterInputWeight = 0.85f;
  c.FilterStateWeight = 0.99f;
  c.FilterLeft = c.FilterRight = 0.0f;
  c.OutputGain = 1.0f;
  for (float& v : c.VolumeTable) v = 0.0f;
  return 0;
}

int32_t LoadVolumeTable() {
  for (int32_t i = 0; i < VOLUME_TABLE_SIZE; ++i) Chip().VolumeTable[i] = BUILT_IN_VOLUMES[i];
  return 0;
}

int32_t WriteGroup(int32_t group, int32_t value) {
  PsgChip& c = Chip();
  switch (group) {
    case GROUP_TONE_A: case GROUP_TONE_B: case GROUP_TONE_C: {
      ToneChannel& t = c.Channel[group - GROUP_TONE_A];
      t.Period = value & 0xFFF;
      t.PeriodLimit = LimitOf(t.Period);
      break;
    }
    case GROUP_NOISE:
      c.NoisePeriod = value & 0x1F;
      c.NoiseLimit = LimitOf(c.NoisePeriod);
      break;
    case GROUP_MIXER:
      c.MixerRaw = value & 0x3F;
      for (int32_t k = 0; k < 3; ++k) {
        ToneChannel& t = c.Channel[k];
        t.ToneEnabled = 1 - ((c.MixerRaw >> k) & 1);
        t.NoiseEnabled = 1 - ((c.MixerRaw >> (k + 3)) & 1);
        t.ChannelActive = t.ToneEnabled | t.NoiseEnabled;
      }
      break;
    case GROUP_VOLUME_A: case GROUP_VOLUME_B: case GROUP_VOLUME_C: {
      ToneChannel& t = c.Channel[group - GROUP_VOLUME_A];
      t.VolumeRaw = value & 0x1F;
      t.FixedAmplitude = c.VolumeTable[2 * (t.VolumeRaw & 15) + 1];
      t.EnvelopeMode = t.VolumeRaw & 16;
      break;
    }
    case GROUP_ENVELOPE:
      c.EnvelopePeriod = value & 0xFFFF;
      c.EnvelopeLimit = LimitOf(c.EnvelopePeriod);
      break;
    case GROUP_SHAPE:
      // Restarts the envelope's walk; its phase and current level carry on.
      c.EnvelopeShape = value & 15;
      c.EnvelopeIndex = (c.EnvelopeShape & 4) ? -1 : 32;
      c.EnvelopeFlag = 0;
      c.EnvelopeStepper = STEPPER_OF_SHAPE[c.EnvelopeShape];
      break;
    default:
      break;
  }
  return 0;
}

int32_t ReadGroup(int32_t group) {
  const PsgChip& c = Chip();
  switch (group) {
    case GROUP_TONE_A: case GROUP_TONE_B: case GROUP_TONE_C: return c.Channel[group - GROUP_TONE_A].Period;
    case GROUP_NOISE: return c.NoisePeriod;
    case GROUP_MIXER: return c.MixerRaw;
    case GROUP_VOLUME_A: case GROUP_VOLUME_B: case GROUP_VOLUME_C: return c.Channel[group - GROUP_VOLUME_A].VolumeRaw;
    case GROUP_ENVELOPE: return c.EnvelopePeriod;
    case GROUP_SHAPE: return c.EnvelopeShape;
    default: return 0;
  }
}

int32_t ResetChip() {
  PsgChip& c = Chip();
  LoadVolumeTable();
  for (int32_t group = GROUP_TONE_A; group < GROUP_COUNT; ++group) WriteGroup(group, 0);
  for (ToneChannel& t : c.Channel) {
    t.SquareOutput = 0;
    t.Phase = 0.0f;
  }
  c.NoisePhase = 0.0f;
  c.NoiseOutput = 0;
  c.EnvelopePhase = 0.0f;
  c.EnvelopeLevel = 0.0f;
  c.FilterLeft = c.FilterRight = 0.0f;
  c.NoiseShift = 0xFFFF;
  return 0;
}

int32_t SetOutputLevel(float level) {
  if (!(level >= 0.0f)) level = 0.0f;  // also catches NaN
  if (level > 1.0f) level = 1.0f;
  Chip().OutputGain = level;
  return 0;
}

float StepDecayThenLow() {
  PsgChip& c = Chip();
  if (c.EnvelopeFlag == 0 && --c.EnvelopeIndex < 0) {
    c.EnvelopeIndex = 0;
    c.EnvelopeFlag = 1;
  }
  return Entry(c.EnvelopeIndex);
}

float StepAttackThenLow() {
  PsgChip& c = Chip();
  if (c.EnvelopeFlag == 0 && ++c.EnvelopeIndex > 31) {
    c.EnvelopeIndex = 0;
    c.EnvelopeFlag = 1;
  }
  return Entry(c.EnvelopeIndex);
}

float StepSawDown() {
  PsgChip& c = Chip();
  c.EnvelopeIndex = (c.EnvelopeIndex - 1) & 31;
  return Entry(c.EnvelopeIndex);
}

float StepTriangleDownFirst() {
  PsgChip& c = Chip();
  if (c.EnvelopeFlag == 0) {
    if (--c.EnvelopeIndex < 0) {
      c.EnvelopeIndex = 0;
      c.EnvelopeFlag = 1;
    }
  } else if (++c.EnvelopeIndex > 31) {
    c.EnvelopeIndex = 31;
    c.EnvelopeFlag = 0;
  }
  return Entry(c.EnvelopeIndex);
}

float StepDecayThenHigh() {
  PsgChip& c = Chip();
  if (c.EnvelopeFlag == 0 && --c.EnvelopeIndex < 0) {
    c.EnvelopeIndex = 31;
    c.EnvelopeFlag = 1;
  }
  return Entry(c.EnvelopeIndex);
}

float StepSawUp() {
  PsgChip& c = Chip();
  c.EnvelopeIndex = (c.EnvelopeIndex + 1) & 31;
  return Entry(c.EnvelopeIndex);
}

float StepAttackThenHigh() {
  PsgChip& c = Chip();
  if (++c.EnvelopeIndex > 31) c.EnvelopeIndex = 31;
  return Entry(c.EnvelopeIndex);
}

float StepTriangleUpFirst() {
  PsgChip& c = Chip();
  if (c.EnvelopeFlag == 0) {
    if (++c.EnvelopeIndex > 31) {
      c.EnvelopeIndex = 31;
      c.EnvelopeFlag = 1;
    }
  } else if (--c.EnvelopeIndex < 0) {
    c.EnvelopeIndex = 0;
    c.EnvelopeFlag = 0;
  }
  return Entry(c.EnvelopeIndex);
}

namespace {

// Voice output: +amplitude/2 when the gate is open, -amplitude/2 when it is closed. The gate
// starts from ChannelActive, takes the tone's level when tone is on and is ANDed with the noise
// bit when noise is on.
inline float VoiceValue(const ToneChannel& t, int32_t noiseOutput, float envelopeLevel) {
  float amplitude = t.EnvelopeMode ? envelopeLevel : t.FixedAmplitude;
  int32_t gate = t.ToneEnabled ? t.SquareOutput : t.ChannelActive;
  if (t.NoiseEnabled) gate &= noiseOutput;
  return amplitude * (static_cast<float>(gate) - 0.5f);
}

// Double to 16-bit, to nearest with halves to even (the default rounding mode).
inline int32_t ToSample(double value) { return static_cast<int32_t>(std::lrint(value)); }

}  // namespace

// One call: three tone steps, one envelope step, one noise step (each one add and compare, at
// most one subtract), the mix, the filter and two conversions. No division, no allocation.
int32_t RenderFrame(void* frame) {
  PsgChip& c = Chip();
  for (ToneChannel& t : c.Channel) {
    t.Phase += 1.0f;
    if (t.Phase >= t.PeriodLimit) {
      t.Phase -= t.PeriodLimit;
      t.SquareOutput = 1 - t.SquareOutput;
    }
  }
  c.EnvelopePhase += EnvelopeIncrement;
  if (c.EnvelopePhase >= c.EnvelopeLimit) {
    c.EnvelopePhase -= c.EnvelopeLimit;
    c.EnvelopeLevel = c.EnvelopeStepper();
  }
  c.NoisePhase += 1.0f;
  if (c.NoisePhase >= c.NoiseLimit) {
    c.NoisePhase -= c.NoiseLimit;
    c.NoiseOutput = static_cast<int32_t>((c.NoiseShift >> 16) & 1);
    c.NoiseShift <<= 1;
    c.NoiseShift |= ((c.NoiseShift >> 13) ^ (c.NoiseShift >> 16)) & 1;
  }

  const double a = VoiceValue(c.Channel[0], c.NoiseOutput, c.EnvelopeLevel);
  const double b = VoiceValue(c.Channel[1], c.NoiseOutput, c.EnvelopeLevel);
  const double cv = VoiceValue(c.Channel[2], c.NoiseOutput, c.EnvelopeLevel);
  // Both mixes are exact in float32: multiples of 1/8 below 2^15.
  const float left = static_cast<float>(a * 0.5 + cv * 0.25);
  const float right = static_cast<float>(b * 0.5 + cv * 0.25);
  float outLeft = left, outRight = right;
  if (c.FilterEnabled) {
    const double keep = c.FilterStateWeight, take = c.FilterInputWeight;
    c.FilterLeft = static_cast<float>(c.FilterLeft * keep + (left - static_cast<double>(c.FilterLeft)) * take);
    c.FilterRight = static_cast<float>(c.FilterRight * keep + (right - static_cast<double>(c.FilterRight)) * take);
    outLeft = c.FilterLeft;
    outRight = c.FilterRight;
  }
  const double gain = c.OutputGain;
  const int32_t sampleLeft = ToSample(outLeft * gain);
  const int32_t sampleRight = ToSample(outRight * gain);

  auto* bytes = static_cast<unsigned char*>(frame);
  bytes[2] = static_cast<unsigned char>(sampleRight);
  bytes[3] = static_cast<unsigned char>(sampleRight >> 8);
  bytes[0] = static_cast<unsigned char>(sampleLeft);
  bytes[1] = static_cast<unsigned char>(sampleLeft >> 8);
  return 0;
}
