// Page bookkeeping of the process-wide page cache.
#include "binding/PageCache.h"

#include <cassert>
#include <new>

#include "platform/VirtualMemory.h"

namespace vyn::binding {
namespace {

constexpr uint32_t kAllPagesFree = (1u << PageCache::kPagesPerRegion) - 1;
constexpr std::size_t kInitialTableBytes = PageCache::kPageSize;

uintptr_t RegionBase(uintptr_t address) noexcept {
  return address & ~static_cast<uintptr_t>(PageCache::kRegionSize - 1);
}

std::size_t HashBase(uintptr_t base, std::size_t mask) noexcept {
  return static_cast<std::size_t>(((base >> 16) * 0x9E3779B97F4A7C15ull) >> 20) & mask;
}

}  // namespace

PageCache& PageCache::Instance() noexcept {
  // Never destroyed: arenas owned by static objects may hand pages back after exit has begun.
  alignas(PageCache) static unsigned char storage[sizeof(PageCache)];
  static PageCache* const cache = new (storage) PageCache();
  return *cache;
}

void* PageCache::TakePage() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  if (freeHead_ == nullptr) {
    void* memory = platform::AllocateVirtual(kRegionSize, kRegionSize);
    if (memory == nullptr) return nullptr;
    const auto base = reinterpret_cast<uintptr_t>(memory);
    if (!AddRegion(base)) {
      platform::FreeVirtual(memory, kRegionSize);
      return nullptr;
    }
    ++regionsReserved_;
    ++wholeFreeRegions_;
    // Highest first, so that the region is handed out in address order.
    for (std::size_t i = kPagesPerRegion; i-- > 0;) {
      PushFree(reinterpret_cast<FreePage*>(base + i * kPageSize));
    }
  }
  FreePage* page = freeHead_;
  UnlinkFree(page);
  const auto address = reinterpret_cast<uintptr_t>(page);
  Region* region = FindRegion(RegionBase(address));
  assert(region != nullptr);
  if (region->freeMask == kAllPagesFree) --wholeFreeRegions_;
  region->freeMask &= ~(1u << ((address - region->base) / kPageSize));
  ++pagesInUse_;
  return page;
}

void PageCache::ReturnPages(void* const* pages, std::size_t count) noexcept {
  if (count == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = 0; i < count; ++i) ReturnLocked(pages[i]);
}

void PageCache::ReturnLocked(void* page) noexcept {
  const auto address = reinterpret_cast<uintptr_t>(page);
  Region* region = FindRegion(RegionBase(address));
  assert(region != nullptr && address % kPageSize == 0);
  if (region == nullptr) return;  // not ours: keeping it is safer than corrupting the lists
  const uint32_t bit = 1u << ((address - region->base) / kPageSize);
  assert((region->freeMask & bit) == 0);
  region->freeMask |= bit;
  --pagesInUse_;
  PushFree(static_cast<FreePage*>(page));
  if (region->freeMask != kAllPagesFree) return;
  if (wholeFreeRegions_ < retainLimit_) {
    ++wholeFreeRegions_;
    return;
  }
  ReleaseRegion(region);
}

void PageCache::ReleaseRegion(Region* region) noexcept {
  const uintptr_t base = region->base;
  for (std::size_t i = 0; i < kPagesPerRegion; ++i) {
    UnlinkFree(reinterpret_cast<FreePage*>(base + i * kPageSize));
  }
  EraseRegion(region);
  platform::FreeVirtual(reinterpret_cast<void*>(base), kRegionSize);
  ++regionsReleased_;
}

void PageCache::SetRetainedRegionLimit(std::size_t limit) noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  retainLimit_ = limit;
  // Let go of the surplus of wholly free regions, found through the free list. Rare, so a fresh
  // scan after each release is fine.
  FreePage* page = freeHead_;
  while (wholeFreeRegions_ > retainLimit_ && page != nullptr) {
    Region* region = FindRegion(RegionBase(reinterpret_cast<uintptr_t>(page)));
    if (region->freeMask != kAllPagesFree) {
      page = page->next;
      continue;
    }
    --wholeFreeRegions_;
    ReleaseRegion(region);
    page = freeHead_;
  }
}

std::size_t PageCache::RetainedRegionLimit() const noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  return retainLimit_;
}

PageCache::Stats PageCache::GetStats() const noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  return Stats{regionCount_,     pagesInUse_,      freePages_,
               regionsReserved_, regionsReleased_, wholeFreeRegions_};
}

PageCache::Region* PageCache::FindRegion(uintptr_t base) noexcept {
  if (table_ == nullptr) return nullptr;
  for (std::size_t i = HashBase(base, tableMask_);; i = (i + 1) & tableMask_) {
    if (table_[i].base == base) return &table_[i];
    if (table_[i].base == 0) return nullptr;
  }
}

bool PageCache::AddRegion(uintptr_t base) noexcept {
  // At most half full, so probes stay short and always meet an empty slot.
  if (table_ == nullptr || 2 * (regionCount_ + 1) > tableMask_ + 1) {
    if (!GrowTable()) return false;
  }
  std::size_t i = HashBase(base, tableMask_);
  while (table_[i].base != 0) i = (i + 1) & tableMask_;
  table_[i] = Region{base, kAllPagesFree};
  ++regionCount_;
  return true;
}

void PageCache::EraseRegion(Region* region) noexcept {
  // Backward-shift deletion keeps every probe chain unbroken without tombstones.
  std::size_t hole = static_cast<std::size_t>(region - table_);
  for (std::size_t i = (hole + 1) & tableMask_; table_[i].base != 0; i = (i + 1) & tableMask_) {
    const std::size_t home = HashBase(table_[i].base, tableMask_);
    // Move the entry into the hole unless its home lies cyclically in (hole, i].
    const bool homeBetween = hole <= i ? (home > hole && home <= i) : (home > hole || home <= i);
    if (!homeBetween) {
      table_[hole] = table_[i];
      hole = i;
    }
  }
  table_[hole] = Region{0, 0};
  --regionCount_;
}

bool PageCache::GrowTable() noexcept {
  const std::size_t oldCapacity = table_ == nullptr ? 0 : tableMask_ + 1;
  const std::size_t bytes =
      oldCapacity == 0 ? kInitialTableBytes : 2 * oldCapacity * sizeof(Region);
  auto* grown = static_cast<Region*>(platform::AllocateVirtual(bytes));
  if (grown == nullptr) return false;
  Region* old = table_;
  table_ = grown;  // zero-filled: every slot empty
  tableMask_ = bytes / sizeof(Region) - 1;
  for (std::size_t k = 0; k < oldCapacity; ++k) {
    if (old[k].base == 0) continue;
    std::size_t i = HashBase(old[k].base, tableMask_);
    while (table_[i].base != 0) i = (i + 1) & tableMask_;
    table_[i] = old[k];
  }
  if (old != nullptr) platform::FreeVirtual(old, oldCapacity * sizeof(Region));
  return true;
}

void PageCache::PushFree(FreePage* page) noexcept {
  page->previous = nullptr;
  page->next = freeHead_;
  if (freeHead_ != nullptr) freeHead_->previous = page;
  freeHead_ = page;
  ++freePages_;
}

void PageCache::UnlinkFree(FreePage* page) noexcept {
  if (page->previous != nullptr) {
    page->previous->next = page->next;
  } else {
    freeHead_ = page->next;
  }
  if (page->next != nullptr) page->next->previous = page->previous;
  --freePages_;
}

}  // namespace vyn::binding
