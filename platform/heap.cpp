// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/heap.h"

#include <cstdlib>
#include <mutex>

// Every block carries a link header so that a heap can free all of its blocks at once.
struct BlockHeader {
  BlockHeader* Prev;
  BlockHeader* Next;
  alignas(std::max_align_t) unsigned char Data[1];
};
constexpr size_t BLOCK_DATA_OFFSET = offsetof(BlockHeader, Data);

struct PrivateHeap {
  std::mutex Lock;
  BlockHeader* First;
};

PrivateHeap* CreatePrivateHeap(int32_t) { return new (std::nothrow) PrivateHeap{{}, nullptr}; }

void* HeapAllocZeroed(PrivateHeap* heap, size_t bytes) {
  if (!heap) return std::calloc(1, bytes ? bytes : 1);
  auto* block = static_cast<BlockHeader*>(std::calloc(1, BLOCK_DATA_OFFSET + (bytes ? bytes : 1)));
  if (!block) return nullptr;
  std::lock_guard<std::mutex> guard(heap->Lock);
  block->Next = heap->First;
  if (heap->First) heap->First->Prev = block;
  heap->First = block;
  return block->Data;
}

void HeapRelease(PrivateHeap* heap, void* data) {
  if (!data) return;
  if (!heap) return std::free(data);
  auto* block = reinterpret_cast<BlockHeader*>(static_cast<unsigned char*>(data) - BLOCK_DATA_OFFSET);
  std::lock_guard<std::mutex> guard(heap->Lock);
  if (block->Prev) block->Prev->Next = block->Next; else heap->First = block->Next;
  if (block->Next) block->Next->Prev = block->Prev;
  std::free(block);
}

void DestroyPrivateHeap(PrivateHeap* heap) {
  if (!heap) return;
  for (BlockHeader* block = heap->First; block;) {
    BlockHeader* next = block->Next;
    std::free(block);
    block = next;
  }
  delete heap;
}
