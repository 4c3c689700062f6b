// The C library's heap: aligned blocks are ordinary blocks here, so free() and
// malloc_usable_size serve both kinds.
#include "platform/Heap.h"

#include <malloc.h>
#include <stdlib.h>
#include <string.h>

namespace vyn::platform {

std::size_t HeapBlockSize(void* block) noexcept { return malloc_usable_size(block); }

char* HeapDuplicate(const char* text) noexcept { return strdup(text); }

void* HeapAllocateAligned(std::size_t size, std::size_t alignment) noexcept {
  void* block = nullptr;
  return posix_memalign(&block, alignment, size) == 0 ? block : nullptr;
}

void HeapFreeAligned(void* block) noexcept { free(block); }

std::size_t HeapAlignedBlockSize(void* block, std::size_t) noexcept {
  return malloc_usable_size(block);
}

}  // namespace vyn::platform
