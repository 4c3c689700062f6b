// The plugin's one allocator: five operations over the runtime heap with counting wrappers.
// Every block the plugin allocates, resizes, duplicates or frees passes through the counters,
// including the blocks of ordinary C++ containers (global operator new/delete are replaced in
// PluginAllocator.cpp). This header is a leaf: any layer may include it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vyn::base {

// An allocator as a table of five C-shaped operations and one user-data pointer, the shape in
// which it can be handed to C code.
struct PluginAllocator {
  void* (*allocate)(void* userData, std::size_t size);
  void (*free)(void* userData, void* block);
  void* (*reallocate)(void* userData, void* block, std::size_t size);
  char* (*duplicate)(void* userData, const char* text);
  std::size_t (*blockSize)(void* userData, const void* block);
  void* userData;
};

// Six process-wide counters, kept consistent by compare-and-swap. Sizes are usable block sizes.
struct AllocationStats {
  uint64_t peakBytes;      // highest bytes-in-use seen after an allocation
  uint64_t peakBlocks;     // live blocks at that peak
  uint64_t bytesAllocated;
  uint64_t blocksAllocated;
  uint64_t bytesFreed;
  uint64_t blocksFreed;
};

// The counting allocator over the runtime heap. It is installed from the first allocation on
// and never swapped: a block must be freed by the allocator that made it, and blocks of C++
// containers live from static initialisation to unload.
const PluginAllocator& CurrentAllocator() noexcept;

// Shorthands through the counting allocator. PluginAlloc and PluginRealloc return null on failure.
void* PluginAlloc(std::size_t size) noexcept;
void PluginFree(void* block) noexcept;
void* PluginRealloc(void* block, std::size_t size) noexcept;
char* PluginStrDup(const char* text) noexcept;  // null gives null
std::size_t PluginBlockSize(const void* block) noexcept;

// A consistent copy of the six counters.
AllocationStats GetAllocationStats() noexcept;
// Bytes allocated minus bytes freed: what is alive right now.
inline uint64_t LiveBytes(const AllocationStats& s) { return s.bytesAllocated - s.bytesFreed; }
inline uint64_t LiveBlocks(const AllocationStats& s) { return s.blocksAllocated - s.blocksFreed; }

}  // namespace vyn::base
