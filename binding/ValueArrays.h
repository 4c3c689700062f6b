// Arrays of a value tree (the members of a structure, the elements of a collection): in a pool
// slot while they fit one, then in a block of the pools, then on the arena's heap.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "binding/BindingArena.h"

namespace vyn::binding {

inline void* AllocateArray(BindingArena& arena, std::size_t bytes) {
  if (bytes > BindingArena::kMaxBlockSize) return arena.AllocateHeap(bytes);
  void* block =
      bytes <= BindingArena::kMaxSlotSize ? arena.Allocate(bytes) : arena.AllocateBlock(bytes);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

namespace value_arrays_detail {
// One word of an item, then a fence (see MoveWrittenItems).
inline void MoveWrittenWord(unsigned char* out, const unsigned char* in) noexcept {
  uint64_t word;
  std::memcpy(&word, in, sizeof word);
  std::memcpy(out, &word, sizeof word);
  std::atomic_signal_fence(std::memory_order_seq_cst);
}
template <std::size_t... W>
void MoveWrittenWords(unsigned char* out, const unsigned char* in,
                      std::index_sequence<W...> /*words*/) noexcept {
  (MoveWrittenWord(out + W * sizeof(uint64_t), in + W * sizeof(uint64_t)), ...);
}
}  // namespace value_arrays_detail

// Moves `count` collected nodes or members into their array in the words they were written in.
// A wider load of narrower stores still on their way to the cache cannot take its bytes from them
// and waits until they arrive, and the last items of a container are written just before it
// closes; the fence keeps the compiler from joining the words into wider loads. The words of an
// item are copied without a loop of their own, as most moves are of one item.
template <class Item>
void MoveWrittenItems(Item* to, const Item* from, std::size_t count) noexcept {
  static_assert(sizeof(Item) % sizeof(uint64_t) == 0, "items of whole words");
  for (std::size_t i = 0; i < count; ++i) {
    value_arrays_detail::MoveWrittenWords(
        reinterpret_cast<unsigned char*>(to + i), reinterpret_cast<const unsigned char*>(from + i),
        std::make_index_sequence<sizeof(Item) / sizeof(uint64_t)>());
  }
}

// The items an array for at least `count` of `size` bytes holds: all of its block.
inline std::size_t UsableCount(std::size_t count, std::size_t size) noexcept {
  const std::size_t bytes = count * size;
  if (bytes <= BindingArena::kMaxSlotSize || bytes > BindingArena::kMaxBlockSize) return count;
  return BindingArena::BlockSize(bytes) / size;
}

// The size class of an array that knows its capacity by its class alone (a structure's), and
// the bytes of such a class. Past BindingArena::kMaxBlockSize the classes go on, eight to each
// doubling, on the heap, so that a class number of eight bits tells the bytes of any array.
inline unsigned ArrayClass(uint64_t bytes) noexcept {
  return static_cast<unsigned>(BindingArena::SizeClass(bytes));
}
inline uint64_t ArrayClassBytes(unsigned sizeClass) noexcept {
  return BindingArena::SizeClassBytes(uint64_t{sizeClass});
}

// AllocateArray and FreeArray for an array of its class's bytes, given the class.
inline void* AllocateArrayOfClass(BindingArena& arena, unsigned sizeClass) {
  if (sizeClass >= BindingArena::kClassCount) {
    const uint64_t bytes = ArrayClassBytes(sizeClass);
    if (bytes != static_cast<std::size_t>(bytes)) throw std::bad_alloc();  // 32-bit
    return arena.AllocateHeap(static_cast<std::size_t>(bytes));
  }
  void* block = arena.AllocateOfSizeClass(sizeClass);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
inline void FreeArrayOfClass(BindingArena& arena, void* array, unsigned sizeClass) noexcept {
  if (sizeClass >= BindingArena::kClassCount) {
    arena.FreeHeap(array);
  } else {
    arena.FreeOfSizeClass(sizeClass, array);
  }
}
// Returns an array that AllocateArray gave for `bytes`: the pools' classes are those of the sizes.
inline void FreeArray(BindingArena& arena, void* array, std::size_t bytes) noexcept {
  FreeArrayOfClass(arena, array, ArrayClass(bytes));
}

}  // namespace vyn::binding
