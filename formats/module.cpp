// SPDX-License-Identifier: GPL-2.0-or-later
// The pass loop every module player shares.
#include "formats/module.h"

void RunModulePass(void* player, ModulePlayFrame play, SourceTune* tune) {
  uint8_t registers[SOUND_REGISTERS] = {};
  tune->Clock = ZX_SPECTRUM_CLOCK_HZ;
  tune->Rate = DUMP_RATE;
  tune->Registers.clear();
  tune->ShapeWritten.clear();
  tune->FrameCount = 0;
  // Room for the longest pass at once: pages never written are never touched.
  tune->Registers.reserve(static_cast<size_t>(MaxDumpFrames) * SOUND_REGISTERS);
  tune->ShapeWritten.reserve(MaxDumpFrames);
  for (;;) {
    bool shapeWritten = false;
    if (!play(player, registers, &shapeWritten)) return;
    if (tune->FrameCount == MaxDumpFrames) {  // longer than the player holds: cut
      tune->Notices.push_back("the pass is longer than " + std::to_string(MaxDumpFrames) + " frames: cut there");
      return;
    }
    tune->Registers.insert(tune->Registers.end(), registers, registers + SOUND_REGISTERS);
    tune->ShapeWritten.push_back(shapeWritten ? 1 : 0);
    ++tune->FrameCount;
  }
}
