// The counting allocator under the global allocation functions: aligned blocks, which some
// runtimes keep apart from ordinary ones, are counted and given back like any other.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "base/PluginAllocator.h"

namespace vyn::base {
namespace {

struct alignas(64) Wide {
  unsigned char bytes[200];
};

TEST(PluginAllocator, AlignedBlocksAreCountedAndFreedLikeOthers) {
  const AllocationStats before = GetAllocationStats();
  {
    auto one = std::make_unique<Wide>();
    auto many = std::make_unique<Wide[]>(3);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(one.get()) % 64, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(many.get()) % 64, 0u);
    const AllocationStats during = GetAllocationStats();
    EXPECT_EQ(LiveBlocks(during), LiveBlocks(before) + 2);
    EXPECT_GE(LiveBytes(during), LiveBytes(before) + 4 * sizeof(Wide));
  }
  Wide* nothrow = new (std::nothrow) Wide;
  ::operator delete (nothrow, std::align_val_t{alignof(Wide)}, std::nothrow);
  const AllocationStats after = GetAllocationStats();
  EXPECT_EQ(LiveBlocks(after), LiveBlocks(before));
  EXPECT_EQ(LiveBytes(after), LiveBytes(before));
}

}  // namespace
}  // namespace vyn::base
