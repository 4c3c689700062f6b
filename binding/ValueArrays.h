// Arrays of a value tree (the members of a structure, the elements of a collection): in a pool
// slot while they fit one, then in a block of the pools, then on the arena's heap.
#pragma once

#include <cstddef>
#include <new>

#include "binding/BindingArena.h"

namespace vyn::binding {

inline void* AllocateArray(BindingArena& arena, std::size_t bytes) {
  if (bytes > BindingArena::kMaxBlockSize) return arena.AllocateHeap(bytes);
  void* block =
      bytes <= BindingArena::kMaxSlotSize ? arena.Allocate(bytes) : arena.AllocateBlock(bytes);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

inline void FreeArray(BindingArena& arena, void* array, std::size_t bytes) noexcept {
  if (bytes <= BindingArena::kMaxSlotSize) {
    arena.Free(bytes, array);
  } else if (bytes <= BindingArena::kMaxBlockSize) {
    arena.FreeBlock(bytes, array);
  } else {
    arena.FreeHeap(array);
  }
}

// The items an array for at least `count` of `size` bytes, behind a header of `header` bytes,
// holds: all of its block.
inline std::size_t UsableCount(std::size_t count, std::size_t size,
                               std::size_t header = 0) noexcept {
  const std::size_t bytes = header + count * size;
  if (bytes <= BindingArena::kMaxSlotSize || bytes > BindingArena::kMaxBlockSize) return count;
  return (BindingArena::BlockSize(bytes) - header) / size;
}

}  // namespace vyn::binding
