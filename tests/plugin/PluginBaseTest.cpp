// The plugin frame's load-time rules: version compatibility, names and tags, and the counting
// allocator behind the memory statistics.
#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "base/PluginAllocator.h"
#include "plugin/PluginScene.h"

namespace vyn::plugin {
namespace {

using base::AllocationStats;
using base::GetAllocationStats;
using base::PluginBlockSize;
using Version = std::array<uint32_t, 3>;

TEST(PluginApiCompatibility, FollowsMajorThenMinorThenPatch) {
  const std::tuple<Version, Version, bool> cases[] = {
      // plugin, host, compatible
      {{18, 0, 0}, {18, 0, 0}, true},  {{18, 0, 0}, {18, 3, 1}, true},
      {{18, 0, 0}, {17, 9, 9}, false}, {{18, 0, 0}, {19, 0, 0}, false},
      {{18, 2, 0}, {18, 1, 9}, false}, {{18, 2, 5}, {18, 3, 0}, true},
      {{18, 2, 5}, {18, 2, 4}, false}, {{18, 2, 5}, {18, 2, 5}, true},
  };
  for (const auto& [plugin, host, compatible] : cases) {
    EXPECT_EQ(IsPluginApiCompatible({plugin[0], plugin[1], plugin[2], {}, {}},
                                    {host[0], host[1], host[2], {}, {}}),
              compatible)
        << testing::PrintToString(host) << " for " << testing::PrintToString(plugin);
  }
}

using PluginRegistration = PluginScene;

TEST_F(PluginRegistration, NamesTagsAndPrefix) {
  EXPECT_EQ(FullNameFromShortNameAndType("vyn-pft", FrontendPluginType()), "zup-fe-vyn-pft");
  EXPECT_EQ(FullNameFromShortNameAndType("vyn-pft", PluginType{"Backend", ""}), "zup-xx-vyn-pft");
  EXPECT_EQ(plugin.registerApiCalls, 1);
  const PluginNames& names = plugin.names();
  EXPECT_EQ(names.fullName + " " + names.shortName + " " + names.type + " '" + names.typeDetail +
                "' " + plugin.typeNamePrefix(),
            "zup-be-vyn-pft vyn-pft backend '' VynPft");
  EXPECT_EQ(plugin.tags()[0] + ", " + plugin.tags()[1], "Plugins, Plugin vyn-pft");
}

TEST(CountingAllocator, CountsEveryOperationOnceAndReportsSixCountersLowWordFirst) {
  const AllocationStats before = GetAllocationStats();
  void* block = base::PluginAlloc(100);
  const std::size_t size = PluginBlockSize(block);
  EXPECT_GE(size, 100u);
  block = base::PluginRealloc(block, 5000);
  const std::size_t grown = PluginBlockSize(block);
  EXPECT_GE(grown, 5000u);
  char* text = base::PluginStrDup("counted");
  EXPECT_STREQ(text, "counted");
  const std::size_t textSize = PluginBlockSize(text);
  base::PluginFree(text);
  base::PluginFree(block);
  base::PluginFree(nullptr);
  EXPECT_EQ(base::PluginStrDup(nullptr), nullptr);
  const AllocationStats after = GetAllocationStats();
  // This thread's operations: three allocations (alloc, realloc's new block, dup), three frees
  // (realloc's old block, text, block). Other threads of the test binary are idle.
  EXPECT_EQ(after.blocksAllocated - before.blocksAllocated, 3u);
  EXPECT_EQ(after.blocksFreed - before.blocksFreed, 3u);
  EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, size + grown + textSize);
  EXPECT_EQ(after.bytesFreed - before.bytesFreed, size + grown + textSize);
  {
    std::vector<int> numbers(1000, 7);  // the library's containers are counted too
    EXPECT_GE(LiveBytes(GetAllocationStats()) - LiveBytes(after), 4000u);
  }
  EXPECT_EQ(LiveBytes(GetAllocationStats()), LiveBytes(after));
  EXPECT_GE(GetAllocationStats().peakBytes, LiveBytes(after) + 4000u);

  uint32_t out[14];
  for (auto& word : out) word = 0xFFFFFFFFu;
  PluginBase::FillMemoryStats(out);
  const uint64_t allocated = out[4] | (static_cast<uint64_t>(out[5]) << 32);
  const uint64_t freed = out[8] | (static_cast<uint64_t>(out[9]) << 32);
  EXPECT_GE(allocated, after.bytesAllocated);
  EXPECT_LE(allocated, GetAllocationStats().bytesAllocated);
  EXPECT_LE(freed, allocated);
  EXPECT_EQ(out[12] | out[13], 0u);
}

}  // namespace
}  // namespace vyn::plugin
