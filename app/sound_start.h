// The player's start-up as far as its sound depends on it, for programs that play or render a
// dump without the window (the offline renderer, tests, benchmarks).
#pragma once
#include <cstdint>

// Clears the AppContext, creates the heaps, writes the audio, chip and dump configuration,
// loads the dump at dumpPath without the start-up delay, and sets the output level (clamped,
// and kept as OutputLevel so every tick applies it). -1 when the dump cannot be opened, else 0.
int32_t StartSoundOnly(const char* dumpPath, float level);
// As StartSoundOnly with the dump text bytes[0, size) in place of a file. -1 when it cannot be
// loaded, else 0.
int32_t StartSoundFromText(const char* bytes, int32_t size, float level);
// Releases the stream's ring and the heaps.
void EndSoundOnly();
