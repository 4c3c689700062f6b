// The process-wide page cache: pages carved from 64 KiB regions, regions given back when whole,
// and many threads building and destroying value trees at once.
#include "binding/PageCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "binding/BindingProperty.h"

namespace vyn::binding {
namespace {

// Each test leaves the cache as it found it; a clean start keeps the region counts exact.
class PageCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    start_ = PageCache::Instance().GetStats();
    ASSERT_EQ(start_.pagesInUse, 0u) << "an earlier test kept pages";
    ASSERT_EQ(start_.regions, 0u) << "an earlier test kept a region";
  }
  PageCache::Stats Now() const { return PageCache::Instance().GetStats(); }
  PageCache::Stats start_{};
};

TEST_F(PageCacheTest, SixteenPagesShareOneRegionUntilAllAreBack) {
  PageCache& cache = PageCache::Instance();
  std::vector<void*> pages;
  std::set<uintptr_t> distinct;
  for (std::size_t i = 0; i < PageCache::kPagesPerRegion; ++i) {
    void* page = cache.TakePage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(page) % PageCache::kPageSize, 0u);
    distinct.insert(reinterpret_cast<uintptr_t>(page));
    pages.push_back(page);
  }
  EXPECT_EQ(distinct.size(), PageCache::kPagesPerRegion);
  EXPECT_EQ(*distinct.rbegin() - *distinct.begin(),
            PageCache::kRegionSize - PageCache::kPageSize);
  EXPECT_EQ(Now().regions, 1u);
  EXPECT_EQ(Now().pagesInUse, PageCache::kPagesPerRegion);
  EXPECT_EQ(Now().freePages, 0u);

  // Fifteen back: the region stays, its pages wait for reuse.
  for (std::size_t i = 1; i < pages.size(); ++i) cache.ReturnPage(pages[i]);
  EXPECT_EQ(Now().regions, 1u);
  EXPECT_EQ(Now().freePages, PageCache::kPagesPerRegion - 1);
  void* reused = cache.TakePage();
  EXPECT_TRUE(distinct.count(reinterpret_cast<uintptr_t>(reused)) == 1) << "a free page is reused";
  EXPECT_EQ(Now().regionsReserved, start_.regionsReserved + 1);

  cache.ReturnPage(reused);
  cache.ReturnPage(pages[0]);
  const PageCache::Stats end = Now();
  EXPECT_EQ(end.regions, 0u);
  EXPECT_EQ(end.freePages, 0u);
  EXPECT_EQ(end.pagesInUse, 0u);
  EXPECT_EQ(end.regionsReleased, start_.regionsReleased + 1);
}

TEST_F(PageCacheTest, SeventeenthPageMapsASecondRegionAndEachGoesBackAlone) {
  PageCache& cache = PageCache::Instance();
  std::vector<void*> pages;
  for (std::size_t i = 0; i <= PageCache::kPagesPerRegion; ++i) pages.push_back(cache.TakePage());
  EXPECT_EQ(Now().regions, 2u);
  // The first sixteen pages came from the first region, in address order.
  cache.ReturnPages(pages.data(), PageCache::kPagesPerRegion);
  EXPECT_EQ(Now().regions, 1u);
  EXPECT_EQ(Now().regionsReleased, start_.regionsReleased + 1);
  EXPECT_EQ(Now().pagesInUse, 1u);
  cache.ReturnPage(pages.back());
  EXPECT_EQ(Now().regions, 0u);
}

TEST_F(PageCacheTest, PagesReturnedInAnyOrderFindTheirRegions) {
  PageCache& cache = PageCache::Instance();
  constexpr std::size_t kRegions = 300;  // enough to grow the region table twice
  std::vector<void*> pages;
  for (std::size_t i = 0; i < kRegions * PageCache::kPagesPerRegion; ++i) {
    pages.push_back(cache.TakePage());
    ASSERT_NE(pages.back(), nullptr);
  }
  EXPECT_EQ(Now().regions, kRegions);
  std::shuffle(pages.begin(), pages.end(), std::mt19937(7));
  const std::size_t half = pages.size() / 2;
  cache.ReturnPages(pages.data(), half);
  const PageCache::Stats midway = Now();
  EXPECT_EQ(midway.pagesInUse, pages.size() - half);
  EXPECT_EQ(midway.freePages + midway.pagesInUse, midway.regions * PageCache::kPagesPerRegion)
      << "every mapped page is either handed out or free";
  cache.ReturnPages(pages.data() + half, pages.size() - half);
  EXPECT_EQ(Now().regions, 0u);
  EXPECT_EQ(Now().freePages, 0u);
  EXPECT_EQ(Now().regionsReleased, start_.regionsReleased + kRegions);
}

TEST_F(PageCacheTest, RetainedRegionsAreReusedAndLetGoWhenTheLimitDrops) {
  PageCache& cache = PageCache::Instance();
  cache.SetRetainedRegionLimit(2);
  std::vector<void*> pages;
  for (std::size_t i = 0; i < 3 * PageCache::kPagesPerRegion; ++i) pages.push_back(cache.TakePage());
  cache.ReturnPages(pages.data(), pages.size());
  EXPECT_EQ(Now().regions, 2u) << "two whole regions kept, the third released";
  EXPECT_EQ(Now().freePages, 2 * PageCache::kPagesPerRegion);
  void* again = cache.TakePage();
  EXPECT_EQ(Now().regionsReserved, start_.regionsReserved + 3) << "a kept region serves";
  cache.ReturnPage(again);
  cache.SetRetainedRegionLimit(0);
  EXPECT_EQ(Now().regions, 0u);
  EXPECT_EQ(Now().freePages, 0u);
}

TEST_F(PageCacheTest, ManyThreadsBuildAndDestroyTrees) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 40;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int round = 0; round < kRounds; ++round) {
        BindingProperty root;
        const int count = 200 + 37 * ((t + round) % 7);
        for (int i = 0; i < count; ++i) {
          BindingProperty& item = root.appendElement();
          item.memberAt("id").setSigned(i);
          item.memberAt("name").setString("thread " + std::to_string(t) + " item " +
                                          std::to_string(i));
          item.memberAt("tags").elementAt(1).setString("tag");
        }
        BindingProperty copy(root);
        root.elementAt(0).reset();
        if (copy.size() != static_cast<uint32_t>(count) ||
            copy.element(static_cast<std::size_t>(count - 1)).member("id").asSigned() !=
                count - 1) {
          ++failures[static_cast<std::size_t>(t)];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[static_cast<std::size_t>(t)], 0) << t;
  const PageCache::Stats end = Now();
  EXPECT_EQ(end.pagesInUse, 0u);
  EXPECT_EQ(end.regions, 0u) << "every region must go back once its pages are back";
  EXPECT_EQ(end.regionsReserved - start_.regionsReserved,
            end.regionsReleased - start_.regionsReleased);
}

}  // namespace
}  // namespace vyn::binding
