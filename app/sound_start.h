// SPDX-License-Identifier: GPL-2.0-or-later
// The player's start-up as far as its sound depends on it: the one home of those steps, used by
// the player itself and by programs that play or render a dump without the window (the offline
// renderer, tests, benchmarks).
#pragma once
#include <cstdint>

// Initial sizes of the process's heaps (hints: every heap grows as needed).
constexpr int32_t PRIVATE_HEAP_BYTES = 4096;
constexpr int32_t TEXT_HEAP_BYTES = 4096;
constexpr int32_t OBJECT_HEAP_BYTES = 1024;
constexpr int32_t MEMORY_HEAP_BYTES = 4096;

// Writes the audio stream's configuration, the chip's for the stream's rate, and the dump
// group's (heap Heap must exist: the dump table comes from it).
void ConfigureSound();
// Connects the chip and the frame sequencer to the stream: reset, sample and tick callbacks,
// no idle callback.
void ConnectSoundCallbacks();

// Clears the AppContext, creates the heaps, writes the audio, chip and dump configuration,
// loads the dump at dumpPath without the start-up delay, and sets the output level (clamped,
// and kept as OutputLevel so every tick applies it). -1 when the dump cannot be opened, else 0.
int32_t StartSoundOnly(const char* dumpPath, float level);
// As StartSoundOnly with the dump text bytes[0, size) in place of a file. -1 when it cannot be
// loaded, else 0.
int32_t StartSoundFromText(const char* bytes, int32_t size, float level);
// Releases the stream's ring and the heaps.
void EndSoundOnly();
