// SPDX-License-Identifier: GPL-2.0-or-later
// What the Pro Tracker 3 and Pro Tracker 2 players share: the per-channel and global state,
// the frame routine (line timing, position advance, per-channel synthesis, the registers),
// and reads that never leave the module. Each format adds its header checks and its line
// decoder (read_pt3.cpp, read_pt2.cpp).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "formats/pt_tables.h"
#include "formats/tune.h"

// Where a sample or ornament lives: in the module, or one of the players' built-in objects.
enum PtSpace : uint8_t {
  PT_IN_MODULE,     // At is a module offset
  PT_PT3_BUILTIN,   // PT3's 57-byte empty sample and ornament (reads past it: refused)
  PT_PT2_ZERO,      // PT2's sample pointer before any sample command: zero bytes
  PT_PT2_ORNAMENT,  // PT2's empty ornament: length 1, loop 0, value 0
};

struct PtObject {
  PtSpace Space = PT_IN_MODULE;
  uint32_t At = 0;      // module offset of the object's first byte
  int32_t Number = -1;  // sample or ornament number, for messages
};

struct PtChannel {
  uint32_t Stream = 0;  // module offset of the next pattern byte
  uint8_t LineCount = 1, LineSkip = 0;  // LineSkip 0 acts as 256
  bool Enabled = false, Gliss = false;
  uint8_t Note = 0, TargetNote = 0, Volume = 15, EnvOn = 0;
  PtObject Sample, Ornament;
  uint8_t SamPos = 0, OrnPos = 0;
  uint16_t ToneAcc = 0;
  int8_t VolSlide = 0;  // -15..15
  uint8_t NoiseAcc = 0, EnvAcc = 0;
  uint16_t Slide = 0, SlideStep = 0, SlideDelta = 0;
  uint8_t SlideDelay = 0, SlideCount = 0;
  uint8_t OnOffCount = 0, OnTime = 0, OffTime = 0;
  uint16_t Tone = 0;  // tone value of the last frame the channel was enabled
};

struct PtModule;

// One chip's player: a module is played by one, an AlCo TurboSound module by two.
struct PtChip {
  PtChannel Channels[3];
  uint8_t Tempo = 0, TickCount = 1;  // Tempo 0 acts as 256
  int32_t PosIndex = -1;             // -1: before the first entry
  int32_t Pattern = -1;              // the pattern being played, for messages
  bool Started = false;              // channel A has entered its first position
  uint8_t NoiseBase = 0, NoiseAdd = 0;
  uint16_t EnvBase = 0, EnvSlide = 0, EnvSlideStep = 0;
  uint8_t EnvSlideCount = 0, EnvSlideDelay = 0;
  uint8_t EnvOffsetSum = 0;  // per frame
  int32_t Shape = -1;        // per frame: the shape to write to R13, -1 none
  bool Reversed = false;     // AlCo TurboSound's second chip: position byte v plays 3N - 3 - v
  uint8_t ReverseBase = 0;   // 3N - 3
  PtChip* Partner = nullptr; // the other chip of an AlCo TurboSound module (shares the tempo)
  bool Second = false;
  int64_t LoopFrame = -1;    // first frame that entered the loop position
  uint8_t Registers[SOUND_REGISTERS] = {};
};

// A format's line decoder: reads one line of channel ch from its stream.
using PtDecodeLine = void (*)(PtModule* m, PtChip* chip, int32_t ch);

struct PtModule {
  const uint8_t* Bytes = nullptr;
  uint32_t Size = 0;         // bytes of the module (module 1 of a two-module file)
  bool Pt2 = false;          // sample and ornament headers: length first, 3-byte sample lines
  int32_t Version = 6;       // PT3 version 0..9; PT2 plays as 5
  uint16_t Notes[PT_NOTES];
  uint8_t Volumes[16][16];
  uint32_t ListAt = 0;       // the position list
  int32_t ListLength = 0;    // entries before its 0xFF
  int32_t Loop = 0;          // loop entry
  uint32_t PatternTable = 0;
  uint16_t ObjectBase = 0;   // PT2: added to every stream, sample and ornament offset
  bool MaskSampleByte = false;  // PT3 0x10..0x1F: sample entry 105 + (s AND 0xFE), as the TurboSound player
  PtDecodeLine Decode = nullptr;
  PtChip Chips[2];
  int32_t ChipCount = 1;
  int64_t Frame = 0;         // frames played
  bool Failed = false;       // a read left the module: Why says what, at frame FailFrame
  int64_t FailFrame = 0;
  std::string Why;
  std::vector<uint8_t> Pending;  // PT3 commands of the line being decoded
};

// Sets every chip to the state after the players' start-up (tempo, built-in objects).
void ResetPtChips(PtModule* m, uint8_t tempo, PtObject sample, PtObject ornament);
// Module offset of the pattern-table entry for position byte v (PT3 PT + 2v, PT2 PT + 2 (3v mod 256)).
uint32_t PtPatternEntry(const PtModule& m, uint8_t v);
// The play routine for RunModulePass: one frame of every chip, chip 1's registers out; false
// at chip 1's loop event or when a read left the module (m->Failed).
bool PlayPtFrame(void* module, uint8_t* registers, bool* shapeWritten);
// Plays the pass into tune (RunModulePass); -1 with why when a read would leave the module.
int32_t RunPtPass(PtModule* m, SourceTune* tune, std::string* why);

// Bounded reads for the decoders; past the end they return 0 and set m->Failed.
uint8_t PtStreamByte(PtModule* m, PtChip* chip, int32_t ch);
uint16_t PtModuleWord(PtModule* m, uint32_t at, const char* what);
// The envelope's shape and period from a pattern command: R13 is written this frame.
void PtSetShape(PtChip* chip, PtChannel* c, uint8_t shape, uint16_t period);
// Tempo command: this chip's tempo, and with a TurboSound partner the partner's too.
void PtSetTempo(PtChip* chip, uint8_t tempo);
// Portamento's step sign: the player negates hi/lo when r (word) has bit 15 set.
uint16_t PtSignedStep(uint16_t r, uint8_t lo, uint8_t hi);
// Module text (title, author) with control bytes made blanks and trailing blanks cut.
std::string PtText(const uint8_t* bytes, size_t count);
