// Whole regions of read-write virtual memory straight from the operating system, for the page
// cache of the value arenas (kept off the general heap and out of its counters).
#pragma once

#include <cstddef>

namespace vyn::platform {

// Reserves and commits `size` bytes (a multiple of 4096) of zero-filled read-write memory whose
// address is a multiple of `alignment` (a power of two, at least 4096). Null when the system
// refuses.
void* AllocateVirtual(std::size_t size, std::size_t alignment = 4096) noexcept;

// Releases a whole region returned by AllocateVirtual with the same size. Null is ignored.
void FreeVirtual(void* address, std::size_t size) noexcept;

}  // namespace vyn::platform
