// The C runtime's heap: _msize measures blocks. Its aligned allocation has no measure in every
// runtime, so aligned blocks are carved from ordinary ones, with the ordinary block's address
// kept just before the aligned one.
#include "platform/Heap.h"

#include <malloc.h>
#include <stdlib.h>
#include <string.h>

#include <cstdint>

namespace vyn::platform {
namespace {

void*& OriginOf(const void* aligned) noexcept {
  return static_cast<void**>(const_cast<void*>(aligned))[-1];
}

}  // namespace

std::size_t HeapBlockSize(void* block) noexcept { return _msize(block); }

char* HeapDuplicate(const char* text) noexcept { return _strdup(text); }

void* HeapAllocateAligned(std::size_t size, std::size_t alignment) noexcept {
  if (size > SIZE_MAX - alignment - sizeof(void*)) return nullptr;
  void* origin = malloc(size + alignment + sizeof(void*));
  if (origin == nullptr) return nullptr;
  const uintptr_t first = reinterpret_cast<uintptr_t>(origin) + sizeof(void*);
  void* aligned = reinterpret_cast<void*>((first + alignment - 1) & ~(uintptr_t{alignment} - 1));
  OriginOf(aligned) = origin;
  return aligned;
}

void HeapFreeAligned(void* block) noexcept {
  if (block != nullptr) free(OriginOf(block));
}

std::size_t HeapAlignedBlockSize(void* block, std::size_t) noexcept {
  return _msize(OriginOf(block));
}

}  // namespace vyn::platform
