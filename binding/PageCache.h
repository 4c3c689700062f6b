// The process-wide source of the 4096-byte pages behind every value arena's pools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace vyn::binding {

// Hands out 4096-byte pages carved from 64 KiB regions of virtual memory and takes them back.
// A region goes back to the system as soon as all sixteen of its pages are back, unless fewer
// than the retained-region limit (0 by default) of wholly free regions are kept already.
//
// Threads: one instance per process, created on first use and never destroyed (arenas may die
// during static destruction); every call takes the one mutex. Pages are 4096-aligned and
// zero-filled when their region is new; a reused page holds whatever its last user left. The
// cache never uses the general heap, so its bookkeeping stays out of the allocation counters.
class PageCache {
 public:
  static constexpr std::size_t kPageSize = 4096;
  static constexpr std::size_t kPagesPerRegion = 16;
  static constexpr std::size_t kRegionSize = kPageSize * kPagesPerRegion;

  struct Stats {
    std::size_t regions;       // regions mapped now
    std::size_t pagesInUse;    // pages handed out and not yet back
    std::size_t freePages;     // pages waiting in mapped regions
    uint64_t regionsReserved;  // regions ever mapped
    uint64_t regionsReleased;  // regions ever given back
    std::size_t retainedRegions;  // wholly free regions kept mapped (at most the retained limit)
  };

  static PageCache& Instance() noexcept;

  PageCache(const PageCache&) = delete;
  PageCache& operator=(const PageCache&) = delete;

  // A page, or null when the system refuses memory.
  void* TakePage() noexcept;
  // Gives back pages taken from this cache.
  void ReturnPage(void* page) noexcept { ReturnPages(&page, 1); }
  void ReturnPages(void* const* pages, std::size_t count) noexcept;

  // How many wholly free regions may stay mapped for reuse. Trees built and destroyed in a loop
  // otherwise map, fault in and unmap the same memory each time. Lowering the limit releases the
  // surplus at once.
  void SetRetainedRegionLimit(std::size_t limit) noexcept;
  std::size_t RetainedRegionLimit() const noexcept;

  Stats GetStats() const noexcept;

 private:
  struct Region {
    uintptr_t base;     // 0: the table slot is empty
    uint32_t freeMask;  // bit i: page i is free
  };
  struct FreePage {
    FreePage* next;
    FreePage* previous;
  };

  PageCache() noexcept = default;

  Region* FindRegion(uintptr_t base) noexcept;
  bool AddRegion(uintptr_t base) noexcept;
  void EraseRegion(Region* region) noexcept;
  bool GrowTable() noexcept;
  void ReleaseRegion(Region* region) noexcept;
  void PushFree(FreePage* page) noexcept;
  void UnlinkFree(FreePage* page) noexcept;
  void ReturnLocked(void* page) noexcept;

  mutable std::mutex mutex_;
  // Guarded by mutex_. Regions are 64 KiB-aligned, so a page's region base is its address with
  // the low 16 bits cleared; the table is an open-addressing hash set over those bases.
  Region* table_ = nullptr;
  std::size_t tableMask_ = 0;  // capacity - 1; capacity is a power of two
  std::size_t regionCount_ = 0;
  FreePage* freeHead_ = nullptr;
  std::size_t freePages_ = 0;
  std::size_t pagesInUse_ = 0;
  std::size_t wholeFreeRegions_ = 0;
  std::size_t retainLimit_ = 0;
  uint64_t regionsReserved_ = 0;
  uint64_t regionsReleased_ = 0;
};

// The retained limit for a process that converts request and event bodies call after call: 256
// regions (16 MiB). Without retention every call, however small, maps, faults in and unmaps the
// regions of its trees, which costs far more than the conversion itself. Only regions that calls
// used and gave back are kept, so what stays mapped follows the traffic: a few regions for the
// ordinary bodies of some kilobytes, never more than 16 MiB after a burst of huge ones. A call on
// a 1 MB body (parse, bind, publish: some 450 regions at its peak) maps only what exceeds it.
inline constexpr std::size_t kServingRetainedRegions = 256;

// Holds the process-wide page cache at a retained limit while it lives, and puts back the limit it
// found when it goes (releasing the surplus), so that the cache ends at the level it started from.
// Meant for the plugin object to hold from load to unload; nest them only last-in, first-out.
class PageCacheRetention {
 public:
  explicit PageCacheRetention(std::size_t limit = kServingRetainedRegions) noexcept
      : previous_(PageCache::Instance().RetainedRegionLimit()) {
    PageCache::Instance().SetRetainedRegionLimit(limit);
  }
  ~PageCacheRetention() { PageCache::Instance().SetRetainedRegionLimit(previous_); }
  PageCacheRetention(const PageCacheRetention&) = delete;
  PageCacheRetention& operator=(const PageCacheRetention&) = delete;

 private:
  std::size_t previous_;
};

}  // namespace vyn::binding
