// The C runtime's heap: the calls whose names and shapes differ between runtimes. The counting
// allocator sits on these.
#pragma once

#include <cstddef>

namespace vyn::platform {

// The usable size of a block from malloc, realloc or HeapDuplicate: at least what was asked
// for. Not a const pointer: the compiler would take one to fresh heap memory for a read of the
// block's unset bytes.
std::size_t HeapBlockSize(void* block) noexcept;

// A heap copy of a NUL-terminated text; null when the heap refuses. Freed with free().
char* HeapDuplicate(const char* text) noexcept;

// A block aligned to `alignment` (a power of two, at least the size of a pointer); null when the
// heap refuses. Aligned blocks are freed and measured only through the two calls below.
void* HeapAllocateAligned(std::size_t size, std::size_t alignment) noexcept;
void HeapFreeAligned(void* block) noexcept;
std::size_t HeapAlignedBlockSize(void* block, std::size_t alignment) noexcept;

}  // namespace vyn::platform
