// The process-wide page cache: pages carved from 64 KiB regions and regions given back when whole.
#include "binding/PageCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "platform/VirtualMemory.h"

namespace vyn::binding {
namespace {

TEST(PageCache, PagesFindTheirRegionsInAnyOrderAndWholeRegionsGoBackBeyondTheKeptOnes) {
  PageCache& cache = PageCache::Instance();
  const auto now = [&cache] { return cache.GetStats(); };
  const PageCache::Stats start = now();
  ASSERT_EQ(start.pagesInUse + start.regions, 0u) << "an earlier test kept pages";
  constexpr std::size_t kPerRegion = PageCache::kPagesPerRegion;
  std::mt19937 random(7);
  // The region table at its fullest, at four sizes and over many layouts each (a spacer shifts
  // where regions are mapped, and so their places in the table): some probe chains cross its end.
  for (std::size_t round = 0; round < 64; ++round) {
    const std::size_t regions = std::size_t{128} << (round / 16);
    void* const spacer = platform::AllocateVirtual((round + 1) * PageCache::kRegionSize);
    std::vector<void*> pages;
    for (std::size_t i = 0; i < regions * kPerRegion; ++i) pages.push_back(cache.TakePage());
    ASSERT_EQ(std::count(pages.begin(), pages.end(), nullptr), 0);
    for (std::size_t i = 0; i < kPerRegion; ++i) {
      ASSERT_EQ(reinterpret_cast<uintptr_t>(pages[i]) % PageCache::kRegionSize,
                i * PageCache::kPageSize)
          << "a region's pages go out in address order";
    }
    std::shuffle(pages.begin(), pages.end(), random);
    const std::size_t half = pages.size() / 2;
    cache.ReturnPages(pages.data(), half);
    EXPECT_EQ(now().freePages + now().pagesInUse, now().regions * kPerRegion)
        << "every mapped page is either handed out or free";
    cache.ReturnPages(pages.data() + half, pages.size() - half);
    ASSERT_EQ(now().freePages + now().pagesInUse + now().regions, 0u) << round;
    platform::FreeVirtual(spacer, (round + 1) * PageCache::kRegionSize);
  }
  EXPECT_EQ(now().regionsReleased, now().regionsReserved);

  cache.SetRetainedRegionLimit(2);
  std::vector<void*> pages;
  for (std::size_t i = 0; i < 3 * kPerRegion; ++i) pages.push_back(cache.TakePage());
  cache.ReturnPages(pages.data() + 1, kPerRegion - 1);
  EXPECT_EQ(now().freePages, kPerRegion - 1) << "a page of the first region is still out";
  cache.ReturnPages(pages.data(), 1);
  EXPECT_EQ(now().regions, 3u) << "a whole region is kept while fewer than two are";
  const uint64_t reserved = now().regionsReserved;
  void* reused = cache.TakePage();
  EXPECT_EQ(std::count(pages.begin(), pages.begin() + kPerRegion, reused), 1);
  EXPECT_EQ(now().regionsReserved, reserved) << "a kept region serves";
  cache.ReturnPages(pages.data() + kPerRegion, 2 * kPerRegion);
  EXPECT_EQ(now().regions, 3u) << "two whole regions kept";
  cache.SetRetainedRegionLimit(0);
  EXPECT_EQ(now().regions, 1u);
  cache.ReturnPage(reused);
  EXPECT_EQ(now().freePages + now().pagesInUse + now().regions, 0u);

  // A lower limit finds the whole regions behind free pages of one that is not whole.
  cache.SetRetainedRegionLimit(2);
  for (void*& page : pages) page = cache.TakePage();
  cache.ReturnPages(pages.data() + kPerRegion, 2 * kPerRegion);
  cache.ReturnPages(pages.data() + 1, kPerRegion - 1);
  cache.SetRetainedRegionLimit(0);
  EXPECT_EQ(now().regions, 1u);
  cache.ReturnPage(pages[0]);
  EXPECT_EQ(now().freePages + now().pagesInUse + now().regions, 0u);
}

}  // namespace
}  // namespace vyn::binding
