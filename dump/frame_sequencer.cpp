// SPDX-License-Identifier: GPL-2.0-or-later
#include "dump/frame_sequencer.h"

#include "dump/dump_loader.h"
#include "psg/psg.h"

int32_t TickCallback() {
  const int32_t f = Dump().FrameIndex.load(std::memory_order_relaxed);
  const int32_t* dump = Dump().RegisterDump;
  for (int32_t group = GROUP_TONE_A; group <= GROUP_ENVELOPE; ++group) WriteGroup(group, dump[DumpIndex(group, f)]);
  const int32_t shape = dump[DumpIndex(GROUP_SHAPE, f)];
  if ((shape & 0xFF) != 0xFF) WriteGroup(GROUP_SHAPE, shape);
  for (int32_t k = 0; k < 3; ++k)
    Levels().ChannelLevels[k].store(ReadGroup(GROUP_VOLUME_A + k) & 0xF, std::memory_order_relaxed);
  SetOutputLevel(Levels().OutputLevel.load(std::memory_order_relaxed));
  const int32_t next = f + 1;
  Dump().FrameIndex.store(next >= Dump().FrameCount ? 0 : next, std::memory_order_relaxed);
  return 0;
}
