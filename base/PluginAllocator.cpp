// The counting allocator and the replacement of the global allocation functions, so that the
// plugin's C++ containers (and, in the shared library, the statically linked C++ runtime) are
// counted exactly once per block. Counts use the heap's usable block sizes.
#include "base/PluginAllocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/Heap.h"

namespace vyn::base {
namespace {

struct Counters {
  std::atomic<uint64_t> peakBytes{0};
  std::atomic<uint64_t> peakBlocks{0};
  std::atomic<uint64_t> bytesAllocated{0};
  std::atomic<uint64_t> blocksAllocated{0};
  std::atomic<uint64_t> bytesFreed{0};
  std::atomic<uint64_t> blocksFreed{0};
};

// Constant-initialised, so allocations made during static initialisation of any translation
// unit already find it ready.
constinit Counters gCounters;

// Sizes are passed in: ordinary and aligned blocks are measured by different calls.
void CountAllocation(void* block, uint64_t size) noexcept {
  if (block == nullptr) return;
  const uint64_t allocated = gCounters.bytesAllocated.fetch_add(size) + size;
  const uint64_t blocks = gCounters.blocksAllocated.fetch_add(1) + 1;
  const uint64_t live = allocated - gCounters.bytesFreed.load();
  uint64_t peak = gCounters.peakBytes.load();
  while (live > peak) {
    if (gCounters.peakBytes.compare_exchange_weak(peak, live)) {
      gCounters.peakBlocks.store(blocks - gCounters.blocksFreed.load());
      break;
    }
  }
}

void CountFree(void* block, uint64_t size) noexcept {
  if (block == nullptr) return;
  gCounters.bytesFreed.fetch_add(size);
  gCounters.blocksFreed.fetch_add(1);
}

void* CountingAllocate(void*, std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) CountAllocation(block, platform::HeapBlockSize(block));
  return block;
}

void CountingFree(void*, void* block) {
  if (block != nullptr) CountFree(block, platform::HeapBlockSize(block));
  std::free(block);
}

void* CountingReallocate(void*, void* block, std::size_t size) {
  if (block == nullptr) return CountingAllocate(nullptr, size);
  // Counted as a free of the old block and an allocation of the new one. The old block's size
  // must be read before realloc may release it; when realloc fails the old block stays alive.
  const uint64_t oldSize = platform::HeapBlockSize(block);
  void* moved = std::realloc(block, size == 0 ? 1 : size);
  if (moved == nullptr) return nullptr;
  // The old pointer may not be used once realloc has run, not even to be checked for null.
  gCounters.bytesFreed.fetch_add(oldSize);
  gCounters.blocksFreed.fetch_add(1);
  CountAllocation(moved, platform::HeapBlockSize(moved));
  return moved;
}

char* CountingDuplicate(void*, const char* text) {
  if (text == nullptr) return nullptr;
  char* copy = platform::HeapDuplicate(text);
  if (copy != nullptr) CountAllocation(copy, platform::HeapBlockSize(copy));
  return copy;
}

std::size_t CountingBlockSize(void*, const void* block) {
  return block == nullptr ? 0 : platform::HeapBlockSize(const_cast<void*>(block));
}

constinit const PluginAllocator kCountingAllocator = {CountingAllocate,   CountingFree,
                                                      CountingReallocate, CountingDuplicate,
                                                      CountingBlockSize,  nullptr};

}  // namespace

const PluginAllocator& CurrentAllocator() noexcept { return kCountingAllocator; }

void* PluginAlloc(std::size_t size) noexcept {
  return kCountingAllocator.allocate(kCountingAllocator.userData, size);
}
void PluginFree(void* block) noexcept {
  kCountingAllocator.free(kCountingAllocator.userData, block);
}
void* PluginRealloc(void* block, std::size_t size) noexcept {
  return kCountingAllocator.reallocate(kCountingAllocator.userData, block, size);
}
char* PluginStrDup(const char* text) noexcept {
  return kCountingAllocator.duplicate(kCountingAllocator.userData, text);
}
std::size_t PluginBlockSize(const void* block) noexcept {
  return kCountingAllocator.blockSize(kCountingAllocator.userData, block);
}

AllocationStats GetAllocationStats() noexcept {
  AllocationStats s{};
  // Frees first: a concurrent allocate-then-free between the loads can then only make the
  // snapshot show more alive, never freed above allocated.
  s.bytesFreed = gCounters.bytesFreed.load();
  s.blocksFreed = gCounters.blocksFreed.load();
  s.bytesAllocated = gCounters.bytesAllocated.load();
  s.blocksAllocated = gCounters.blocksAllocated.load();
  s.peakBytes = gCounters.peakBytes.load();
  s.peakBlocks = gCounters.peakBlocks.load();
  return s;
}

}  // namespace vyn::base

// Global allocation functions. Every form of new and delete meets the same counts; operator new
// keeps the language's contract of throwing bad_alloc, the only place our code throws.
namespace {

void* AllocateOrFail(std::size_t size) {
  void* block = vyn::base::PluginAlloc(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

std::size_t AlignmentOf(std::align_val_t alignment) noexcept {
  const auto align = static_cast<std::size_t>(alignment);
  return align < sizeof(void*) ? sizeof(void*) : align;
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
  const std::size_t align = AlignmentOf(alignment);
  void* block = vyn::platform::HeapAllocateAligned(size == 0 ? 1 : size, align);
  if (block != nullptr) {
    vyn::base::CountAllocation(block, vyn::platform::HeapAlignedBlockSize(block, align));
  }
  return block;
}

void FreeAligned(void* block, std::align_val_t alignment) noexcept {
  if (block == nullptr) return;
  const std::size_t align = AlignmentOf(alignment);
  vyn::base::CountFree(block, vyn::platform::HeapAlignedBlockSize(block, align));
  vyn::platform::HeapFreeAligned(block);
}

void* AllocateAlignedOrFail(std::size_t size, std::align_val_t alignment) {
  void* block = AllocateAligned(size, alignment);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrFail(size); }
void* operator new[](std::size_t size) { return AllocateOrFail(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return vyn::base::PluginAlloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return vyn::base::PluginAlloc(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return AllocateAlignedOrFail(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return AllocateAlignedOrFail(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}

void operator delete(void* block) noexcept { vyn::base::PluginFree(block); }
void operator delete[](void* block) noexcept { vyn::base::PluginFree(block); }
void operator delete(void* block, std::size_t) noexcept { vyn::base::PluginFree(block); }
void operator delete[](void* block, std::size_t) noexcept { vyn::base::PluginFree(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { vyn::base::PluginFree(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  vyn::base::PluginFree(block);
}
// Aligned blocks have their own release in some runtimes, so they never reach PluginFree.
void operator delete(void* block, std::align_val_t alignment) noexcept {
  FreeAligned(block, alignment);
}
void operator delete[](void* block, std::align_val_t alignment) noexcept {
  FreeAligned(block, alignment);
}
void operator delete(void* block, std::size_t, std::align_val_t alignment) noexcept {
  FreeAligned(block, alignment);
}
void operator delete[](void* block, std::size_t, std::align_val_t alignment) noexcept {
  FreeAligned(block, alignment);
}
void operator delete(void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  FreeAligned(block, alignment);
}
void operator delete[](void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  FreeAligned(block, alignment);
}
