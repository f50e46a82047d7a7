// Private heaps: one allocation arena per service, destroyed as a whole.
// All memory a heap hands out is zero-filled; DestroyPrivateHeap frees every block still held.
#pragma once
#include <cstddef>
#include <cstdint>

struct PrivateHeap;

// Creates a heap; initialBytes is a sizing hint. Null on failure.
PrivateHeap* CreatePrivateHeap(int32_t initialBytes);
// bytes of zero-filled memory from heap (null heap: the process's default heap). Null on failure.
void* HeapAllocZeroed(PrivateHeap* heap, size_t bytes);
// Returns one block to the heap it came from (null heap: the default heap). Null block: no-op.
void HeapRelease(PrivateHeap* heap, void* block);
// Frees every block of the heap and the heap itself. Null: no-op.
void DestroyPrivateHeap(PrivateHeap* heap);
