// SPDX-License-Identifier: GPL-2.0-or-later
// Private heaps over the Windows heap manager: each PrivateHeap is a heap handle; blocks come
// zero-filled from HeapAlloc and the whole heap goes with HeapDestroy.
#include <windows.h>

#include "platform/heap.h"

namespace {

HANDLE HeapOf(PrivateHeap* heap) { return heap ? reinterpret_cast<HANDLE>(heap) : GetProcessHeap(); }

}  // namespace

// No options (serialised), initialBytes committed at once, no maximum size.
PrivateHeap* CreatePrivateHeap(int32_t initialBytes) {
  const SIZE_T initial = initialBytes > 0 ? static_cast<SIZE_T>(initialBytes) : 0;
  return reinterpret_cast<PrivateHeap*>(HeapCreate(0, initial, 0));
}

void* HeapAllocZeroed(PrivateHeap* heap, size_t bytes) {
  return HeapAlloc(HeapOf(heap), HEAP_ZERO_MEMORY, bytes ? bytes : 1);
}

void HeapRelease(PrivateHeap* heap, void* block) {
  if (block) HeapFree(HeapOf(heap), 0, block);
}

void DestroyPrivateHeap(PrivateHeap* heap) {
  if (heap) HeapDestroy(reinterpret_cast<HANDLE>(heap));
}
