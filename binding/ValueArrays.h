// Arrays of a value tree (the members of a structure, the elements of a collection): in a pool
// slot while they fit one, then in a block of the pools, then on the arena's heap.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
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

// The items an array for at least `count` of `size` bytes holds: all of its block.
inline std::size_t UsableCount(std::size_t count, std::size_t size) noexcept {
  const std::size_t bytes = count * size;
  if (bytes <= BindingArena::kMaxSlotSize || bytes > BindingArena::kMaxBlockSize) return count;
  return BindingArena::BlockSize(bytes) / size;
}

// Size classes for arrays that know their size by their class alone (a structure's): up to
// BindingArena::kMaxBlockSize the arena's own slots and blocks, then on the heap eight to each
// doubling as well, so that a class number of eight bits tells the bytes of any array.
inline unsigned ArrayClass(uint64_t bytes) noexcept {
  if (bytes <= BindingArena::kMaxSlotSize) {
    return bytes == 0 ? 0 : static_cast<unsigned>((bytes - 1) / BindingArena::kSizeStep);
  }
  const auto width = static_cast<unsigned>(std::bit_width(bytes - 1));
  const auto eighth = static_cast<unsigned>((bytes - 1) >> (width - 4)) & 7;
  return static_cast<unsigned>(BindingArena::kSlotClassCount) + (width - 7) * 8 + eighth;
}
inline uint64_t ArrayClassBytes(unsigned sizeClass) noexcept {
  if (sizeClass < BindingArena::kSlotClassCount) return (sizeClass + 1) * BindingArena::kSizeStep;
  const unsigned block = sizeClass - static_cast<unsigned>(BindingArena::kSlotClassCount);
  return uint64_t{9 + block % 8} << (3 + block / 8);
}

}  // namespace vyn::binding
