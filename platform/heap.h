// SPDX-License-Identifier: GPL-2.0-or-later
// Private heaps: one allocation arena per service, destroyed as a whole.
// All memory a heap hands out is zero-filled; DestroyPrivateHeap frees every block still held.
#pragma once
#include <cstddef>
#include <cstdint>

struct PrivateHeap;

// The process's heaps, created at start-up and destroyed at shutdown; null while not created.
struct HeapGroup {
  PrivateHeap* Heap;        // tables, records, the register dump, open files
  PrivateHeap* TextHeap;    // text building
  PrivateHeap* ObjectHeap;  // records not addressed by a fixed number
  PrivateHeap* MemoryHeap;  // zero-filled memory blocks: the audio ring
};
// The one HeapGroup of the process (a group of the application record).
HeapGroup& Heaps();

// Creates a heap; initialBytes is a sizing hint. Null on failure.
PrivateHeap* CreatePrivateHeap(int32_t initialBytes);
// bytes of zero-filled memory from heap (null heap: the process's default heap). Null on failure.
void* HeapAllocZeroed(PrivateHeap* heap, size_t bytes);
// Returns one block to the heap it came from (null heap: the default heap). Null block: no-op.
void HeapRelease(PrivateHeap* heap, void* block);
// Frees every block of the heap and the heap itself. Null: no-op.
void DestroyPrivateHeap(PrivateHeap* heap);
