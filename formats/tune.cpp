// SPDX-License-Identifier: GPL-2.0-or-later
// The readers' table, the conversion to 50 Hz dump frames, and the dump text writer.
#include "formats/tune.h"

#include <algorithm>

namespace {

// Tried in order; the detections do not overlap (VTX needs a stereo byte 0..6 where YM has
// a digit; AY files begin "ZXAYEMUL"). The tracker modules have no magic text (Pro Tracker 3
// aside): they come after the formats that have one, the strictest structural checks first.
const TuneReader* const Readers[] = {&PsgReader, &YmReader, &AyReader, &VtxReader, &LhaReader, &Pt3Reader,
                                     &StpReader, &SqtReader, &AscReader, &Pt2Reader, &StcReader};

// floor(period * PLAYER_CHIP_CLOCK_HZ / clock + 1/2) in integers, clamped to limit.
int64_t Rescale(int64_t period, int64_t clock, int64_t limit) {
  const int64_t scaled = (2 * period * PLAYER_CHIP_CLOCK_HZ + clock) / (2 * clock);
  return scaled < limit ? scaled : limit;
}

void RescaleFrame(uint8_t* r, int64_t clock) {
  for (int32_t voice = 0; voice < 3; ++voice) {
    const int64_t p = Rescale(r[R0 + 2 * voice] | (r[R1 + 2 * voice] << 8), clock, 4095);
    r[R0 + 2 * voice] = static_cast<uint8_t>(p & 0xFF);
    r[R1 + 2 * voice] = static_cast<uint8_t>(p >> 8);
  }
  r[R6] = static_cast<uint8_t>(Rescale(r[R6], clock, 31));
  const int64_t e = Rescale(r[R11] | (r[R12] << 8), clock, 65535);
  r[R11] = static_cast<uint8_t>(e & 0xFF);
  r[R12] = static_cast<uint8_t>(e >> 8);
}

}  // namespace

const TuneReader* FindTuneReader(const uint8_t* bytes, size_t size) {
  for (const TuneReader* reader : Readers)
    if (reader->Detect(bytes, size)) return reader;
  return nullptr;
}

int32_t ReadTune(const uint8_t* bytes, size_t size, SourceTune* tune, std::string* why, int32_t song, bool listOnly) {
  *tune = SourceTune{};
  tune->Song = song;
  tune->ListOnly = listOnly;
  why->clear();
  if (size == 0) {
    *why = "empty file (0 bytes)";
    return -1;
  }
  const TuneReader* reader = FindTuneReader(bytes, size);
  if (!reader) {
    *why = "unknown format (not PSG, YM, AY, VTX, an LHA archive or a tracker module)";
    return -1;
  }
  const int32_t result = reader->Read(bytes, size, tune, why);
  if (result != 0) return result;
  if (song > 1 && tune->Songs.empty()) {
    *why = "--song " + std::to_string(song) + ": the file holds one song (1..1)";
    return TUNE_NO_SUCH_SONG;
  }
  return 0;
}

int64_t StoredFrameLimit(int32_t rate) { return static_cast<int64_t>(MaxDumpFrames - 1) * rate / DUMP_RATE + 1; }

int32_t ConvertTune(const SourceTune& tune, const ConvertOptions& options, DumpFrames* dump, std::string* why) {
  const int64_t clock = options.Clock > 0 ? options.Clock : tune.Clock;
  if (clock <= 0) {
    *why = "the file gives a chip clock of 0 Hz (give one with --clock)";
    return -1;
  }
  const bool rescale = !options.NoRescale && clock != PLAYER_CHIP_CLOCK_HZ;
  const int64_t rate = tune.Rate;
  // Output line k shows source frame s(k) = floor(k * rate / 50): ceil(N * 50 / rate) lines.
  dump->FullCount = (tune.FrameCount * DUMP_RATE + rate - 1) / rate;
  dump->Count = dump->FullCount < MaxDumpFrames ? dump->FullCount : MaxDumpFrames;
  dump->Registers.assign(static_cast<size_t>(dump->Count) * SOUND_REGISTERS, 0);
  int64_t previous = -1;  // s(k - 1)
  for (int64_t k = 0; k < dump->Count; ++k) {
    const int64_t s = k * rate / DUMP_RATE;
    const uint8_t* in = &tune.Registers[static_cast<size_t>(s) * SOUND_REGISTERS];
    uint8_t* out = &dump->Registers[static_cast<size_t>(k) * SOUND_REGISTERS];
    for (int32_t r = R0; r < R13; ++r) out[r] = in[r] & REGISTER_MASK[r];
    if (rescale) RescaleFrame(out, clock);
    // The last shape written in the source frames this line stands for; none when the line
    // repeats the previous source frame.
    out[R13] = 0xFF;
    for (int64_t f = s; f > previous; --f)
      if (tune.ShapeWritten[static_cast<size_t>(f)]) {
        out[R13] = tune.Registers[static_cast<size_t>(f) * SOUND_REGISTERS + R13] & REGISTER_MASK[R13];
        break;
      }
    previous = s;
    ApplyLayout(out, options.Layout);
  }
  return 0;
}

bool ParseLayout(const char* name, uint8_t layout[3]) {
  // Name letters: left, centre, right; chip voices: A left, B right, C centre.
  constexpr int32_t CHIP_VOICE_OF_PLACE[3] = {0, 2, 1};
  bool seen[3] = {false, false, false};
  int32_t place = 0;
  for (const char* at = name; *at; ++at, ++place) {
    const int32_t voice = (*at | 0x20) - 'a';
    if (place > 2 || voice < 0 || voice > 2 || seen[voice]) return false;
    seen[voice] = true;
    layout[CHIP_VOICE_OF_PLACE[place]] = static_cast<uint8_t>(voice);
  }
  return place == 3;
}

std::string LayoutName(const uint8_t layout[3]) {
  return {static_cast<char>('A' + layout[0]), static_cast<char>('A' + layout[2]), static_cast<char>('A' + layout[1])};
}

void ApplyLayout(uint8_t* r, const uint8_t layout[3]) {
  uint8_t in[SOUND_REGISTERS];
  std::copy(r, r + SOUND_REGISTERS, in);
  r[R7] = in[R7] & 0xC0;
  for (int32_t voice = 0; voice < 3; ++voice) {
    const int32_t from = layout[voice];
    r[R0 + 2 * voice] = in[R0 + 2 * from];
    r[R1 + 2 * voice] = in[R1 + 2 * from];
    r[R8 + voice] = in[R8 + from];
    r[R7] |= static_cast<uint8_t>((in[R7] >> from & 1) << voice | (in[R7] >> (3 + from) & 1) << (3 + voice));
  }
}

std::string DumpText(const DumpFrames& dump) {
  static const char Hex[] = "0123456789ABCDEF";
  std::string text(static_cast<size_t>(dump.Count) * 43, ' ');  // 14 x 2 digits, 13 spaces, CR LF
  char* at = &text[0];
  for (int64_t k = 0; k < dump.Count; ++k) {
    const uint8_t* r = &dump.Registers[static_cast<size_t>(k) * SOUND_REGISTERS];
    for (int32_t i = R0; i < SOUND_REGISTERS; ++i) {
      at[0] = Hex[r[i] >> 4];
      at[1] = Hex[r[i] & 15];
      at += 3;  // the space after it was put there by the constructor
    }
    at[-1] = '\r';
    at[0] = '\n';
    ++at;
  }
  return text;
}

std::string TuneSummary(const SourceTune& tune, const ConvertOptions& options) {
  std::string line = tune.Format;
  if (!tune.Title.empty() || !tune.Author.empty()) line += ", \"" + tune.Title + "\" / \"" + tune.Author + "\"";
  if (!tune.Details.empty()) line += ", " + tune.Details;
  line += ", " + std::to_string(tune.FrameCount) + " frames, " + std::to_string(tune.Clock) + " Hz, " +
          std::to_string(tune.Rate) + " Hz frames";
  if (options.Clock > 0) line += " (clock taken as " + std::to_string(options.Clock) + " Hz)";
  if (options.NoRescale) line += " (periods kept)";
  if (LayoutName(options.Layout) != "ACB") line += " (layout " + LayoutName(options.Layout) + ")";
  if (tune.LoopFrame >= 0)
    line += ", loop frame " + std::to_string(tune.LoopFrame) + " (not used: the player loops over the whole tune)";
  return line;
}
