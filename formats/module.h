// SPDX-License-Identifier: GPL-2.0-or-later
// What every tracker-module player shares: the pass loop that calls a player's play routine
// once per 50 Hz frame and keeps the registers it leaves, as the dump's frames.
#pragma once
#include <cstdint>

#include "formats/tune.h"

// One call of a player's play routine. registers holds R0..R13 as the previous call left
// them (all 0 before the first); the routine writes the ones it writes and sets
// *shapeWritten when it wrote R13 (registers[R13] then holds the last value written). It
// returns false when this call is the one that goes back to the loop position: the pass has
// ended and this frame is not kept.
using ModulePlayFrame = bool (*)(void* player, uint8_t* registers, bool* shapeWritten);

// Calls play until the pass ends or MaxDumpFrames frames are kept, and fills tune's Registers,
// ShapeWritten and FrameCount, with Clock ZX_SPECTRUM_CLOCK_HZ and Rate 50. A pass that has not ended by
// then is cut there, with a notice saying so. The player sets LoopFrame, Format, names and
// Details itself.
void RunModulePass(void* player, ModulePlayFrame play, SourceTune* tune);
