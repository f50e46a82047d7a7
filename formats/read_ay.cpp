// SPDX-License-Identifier: GPL-2.0-or-later
// AY files of the ZXAY/EMUL kind: Z80 code and data ripped from a ZX Spectrum or Amstrad CPC
// program, with its initialisation and playing routines, per song. The file is checked before
// anything is used (every pointer is a signed 16-bit offset from its own field), then the song
// runs on the AY machine (formats/ay_machine.h) for its length in 50 Hz frames.
#include <cstring>

#include "formats/ay_machine.h"
#include "formats/bytes.h"
#include "formats/tune.h"

namespace {

constexpr int64_t HEADER_SIZE = 20;
constexpr int64_t SONG_ENTRY_SIZE = 4, SONG_DATA_SIZE = 14, POINTS_SIZE = 6, BLOCK_ENTRY_SIZE = 6;
constexpr int64_t UNKNOWN_LENGTH_FRAMES = 15000;  // a song of length 0 plays 5 minutes
// Header fields.
constexpr int64_t AT_TYPE = 4, AT_AUTHOR = 12, AT_MISC = 14, AT_SONG_COUNT = 16, AT_FIRST_SONG = 17, AT_SONGS = 18;
// Song-data fields.
constexpr int64_t AT_REGISTERS = 8, AT_POINTS = 10, AT_BLOCKS = 12, AT_LENGTH = 4, AT_FADE = 6;
// Points fields.
constexpr int64_t AT_STACK = 0, AT_INIT = 2, AT_INTERRUPT = 4;

bool DetectAy(const uint8_t* bytes, size_t size) { return size >= 4 && std::memcmp(bytes, "ZXAY", 4) == 0; }

struct AyFile {
  const uint8_t* Bytes;
  int64_t Size;
};

// The target of the signed pointer at field: field + value (may lie anywhere).
int64_t Target(const AyFile& f, int64_t field) {
  return field + static_cast<int16_t>(static_cast<uint16_t>(Be16(f.Bytes + field)));
}

// True when [at, at + length) lies after the header and inside the file.
bool Inside(const AyFile& f, int64_t at, int64_t length) { return at >= HEADER_SIZE && at + length <= f.Size; }

std::string Hex4(int64_t value) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string text = "0000";
  for (int32_t i = 3; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = Digits[value & 15];
  return text;
}

// The string the pointer at field names: bytes 20..7E as they are, others as "?". A pointer
// outside the file gives "" and a string without its 0 byte ends at the end of the file, each
// with a notice when notices is not null.
std::string ReadString(const AyFile& f, int64_t field, const char* what, std::vector<std::string>* notices) {
  const int64_t at = Target(f, field);
  if (at < 0 || at >= f.Size) {
    if (notices) notices->push_back(std::string("the ") + what + " points outside the file: left empty");
    return "";
  }
  std::string text;
  int64_t i = at;
  for (; i < f.Size && f.Bytes[i] != 0; ++i) text += f.Bytes[i] >= 0x20 && f.Bytes[i] <= 0x7E ? static_cast<char>(f.Bytes[i]) : '?';
  if (i == f.Size && notices) notices->push_back(std::string("the ") + what + " has no end mark: it ends with the file");
  return text;
}

// The song-data record of song (1-based), or -1 when it does not lie in the file.
int64_t SongData(const AyFile& f, int64_t table, int32_t song) {
  const int64_t data = Target(f, table + SONG_ENTRY_SIZE * (song - 1) + 2);
  return Inside(f, data, SONG_DATA_SIZE) ? data : -1;
}

struct SongSetup {
  AyStart Start;
  std::vector<AyBlock> Blocks;
  int64_t Length, Fade;
};

// Checks the song's records (points, blocks table) and cuts its blocks; -1 with why when the
// song cannot be played.
int32_t ReadSong(const AyFile& f, int64_t data, SongSetup* s, std::vector<std::string>* notices, std::string* why) {
  s->Length = Be16(f.Bytes + data + AT_LENGTH);
  s->Fade = Be16(f.Bytes + data + AT_FADE);
  s->Start.Registers = static_cast<uint16_t>(Be16(f.Bytes + data + AT_REGISTERS));
  const int64_t points = Target(f, data + AT_POINTS);
  if (!Inside(f, points, POINTS_SIZE)) {
    *why = "the song's points record (at " + std::to_string(points) + ") lies outside the file";
    return -1;
  }
  s->Start.Stack = static_cast<uint16_t>(Be16(f.Bytes + points + AT_STACK));
  s->Start.Init = static_cast<uint16_t>(Be16(f.Bytes + points + AT_INIT));
  s->Start.Interrupt = static_cast<uint16_t>(Be16(f.Bytes + points + AT_INTERRUPT));
  int64_t entry = Target(f, data + AT_BLOCKS);
  for (;; entry += BLOCK_ENTRY_SIZE) {
    if (!Inside(f, entry, 2)) {
      *why = "the song's blocks table (entry at " + std::to_string(entry) + ") runs outside the file";
      return -1;
    }
    const uint32_t address = Be16(f.Bytes + entry);
    if (address == 0) break;
    if (!Inside(f, entry, BLOCK_ENTRY_SIZE)) {
      *why = "the block entry at " + std::to_string(entry) + " runs past the end of the file";
      return -1;
    }
    int64_t length = Be16(f.Bytes + entry + 2);
    const int64_t from = Target(f, entry + 4);
    const std::string name = "block " + std::to_string(s->Blocks.size() + 1) + " (" + Hex4(address) + ")";
    if (from < 0 || from >= f.Size) {
      notices->push_back(name + ": its data lies outside the file: skipped");
      length = 0;
    }
    if (address + length > 65536) {
      notices->push_back(name + ": " + std::to_string(length) + " bytes cut to " + std::to_string(65536 - address) +
                         " at address 65536");
      length = 65536 - address;
    }
    if (length > 0 && from + length > f.Size) {
      notices->push_back(name + ": " + std::to_string(length) + " bytes cut to " + std::to_string(f.Size - from) +
                         " at the end of the file");
      length = f.Size - from;
    }
    s->Blocks.push_back(AyBlock{static_cast<uint16_t>(address), length > 0 ? f.Bytes + from : nullptr,
                                static_cast<size_t>(length)});
  }
  if (s->Start.Init == 0) {
    if (s->Blocks.empty()) {
      *why = "the song has no INIT address and no block: no code to start";
      return -1;
    }
    s->Start.Init = s->Blocks[0].Address;
  }
  return 0;
}

int32_t ReadAy(const uint8_t* bytes, size_t size, SourceTune* tune, std::string* why) {
  const AyFile f{bytes, static_cast<int64_t>(size)};
  if (f.Size < HEADER_SIZE) {
    *why = "AY file too short: " + std::to_string(size) + " of the header's 20 bytes";
    return -1;
  }
  if (!DetectAy(bytes, size)) {
    *why = "not an AY file (no ZXAY)";
    return -1;
  }
  if (std::memcmp(bytes + AT_TYPE, "EMUL", 4) != 0) {
    std::string type(reinterpret_cast<const char*>(bytes + AT_TYPE), 4);
    for (char& c : type)
      if (c < 0x20 || c > 0x7E) c = '?';
    *why = "AY file of type \"" + type + "\": only EMUL (Z80 code) is supported";
    return -1;
  }
  const int32_t songCount = bytes[AT_SONG_COUNT] + 1;
  if (bytes[AT_FIRST_SONG] >= songCount) {
    *why = "the header's first song " + std::to_string(bytes[AT_FIRST_SONG] + 1) + " is beyond its " +
           std::to_string(songCount) + " songs";
    return -1;
  }
  const int64_t table = Target(f, AT_SONGS);
  if (!Inside(f, table, SONG_ENTRY_SIZE * songCount)) {
    *why = "the songs table (at " + std::to_string(table) + ", " + std::to_string(songCount) +
           " songs) lies outside the file";
    return -1;
  }
  const int32_t song = tune->Song == 0 ? bytes[AT_FIRST_SONG] + 1 : tune->Song;
  if (song < 1 || song > songCount) {
    *why = "--song " + std::to_string(tune->Song) + ": the file holds songs 1.." + std::to_string(songCount);
    return TUNE_NO_SUCH_SONG;
  }
  tune->Song = song;
  tune->Author = ReadString(f, AT_AUTHOR, "author", &tune->Notices);
  tune->Comment = ReadString(f, AT_MISC, "misc text", &tune->Notices);
  for (int32_t n = 1; n <= songCount; ++n) {
    const int64_t data = SongData(f, table, n);
    tune->Songs.push_back(TuneSong{ReadString(f, table + SONG_ENTRY_SIZE * (n - 1), "song name", n == song ? &tune->Notices : nullptr),
                                   data < 0 ? -1 : static_cast<int64_t>(Be16(bytes + data + AT_LENGTH))});
  }
  tune->Title = tune->Songs[static_cast<size_t>(song - 1)].Name;
  tune->Format = "AY";
  tune->Clock = ZX_SPECTRUM_CLOCK_HZ;
  if (tune->ListOnly) return 0;
  const int64_t data = SongData(f, table, song);
  if (data < 0) {
    *why = "song " + std::to_string(song) + "'s data record lies outside the file";
    return -1;
  }
  SongSetup setup;
  if (ReadSong(f, data, &setup, &tune->Notices, why) != 0) return -1;
  tune->FrameCount = setup.Length > 0 ? setup.Length : UNKNOWN_LENGTH_FRAMES;
  tune->Details = "song " + std::to_string(song) + " of " + std::to_string(songCount);
  if (setup.Length == 0) tune->Details += ", length unknown (" + std::to_string(UNKNOWN_LENGTH_FRAMES) + " frames taken)";
  tune->Details += ", fade of " + std::to_string(setup.Fade) + " frames not applied";
  const int64_t stored = tune->FrameCount < MaxDumpFrames ? tune->FrameCount : MaxDumpFrames;
  AyFrames frames;
  if (RunAyMachine(setup.Start, setup.Blocks.data(), setup.Blocks.size(), stored, &frames, why) != 0) return -1;
  tune->Registers = std::move(frames.Registers);
  tune->ShapeWritten = std::move(frames.ShapeWritten);
  if (frames.Output == AY_CPC) tune->Clock = AMSTRAD_CPC_CLOCK_HZ;
  tune->Format = frames.Output == AY_ZX ? "AY (ZX Spectrum)" : frames.Output == AY_CPC ? "AY (Amstrad CPC)" : "AY (no sound-chip output)";
  return 0;
}

}  // namespace

const TuneReader AyReader = {.Name = "AY", .Detect = DetectAy, .Read = ReadAy};
