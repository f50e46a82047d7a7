// The frame sequencer: plays the RegisterDump into the chip, one frame per tick, looping.
#pragma once
#include <cstdint>

// Writes frame FrameIndex (groups 0..8, and the shape unless its low byte is 0xFF), records the
// three channel levels, applies OutputLevel and moves FrameIndex on, back to 0 at FrameCount.
// Runs on the pump thread; constant work, no allocation. Always 0.
int32_t TickCallback();
