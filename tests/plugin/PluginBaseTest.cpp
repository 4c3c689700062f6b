// The plugin frame's load-time rules: version compatibility, names, tags and the load block, and
// the counting allocator behind the memory statistics.
#include <gtest/gtest.h>

#include "base/PluginAllocator.h"
#include "plugin/PluginBase.h"

namespace vyn::plugin {
namespace {

using base::AllocationStats;
using base::GetAllocationStats;
using base::PluginAlloc;
using base::PluginBlockSize;
using base::PluginFree;
using base::PluginRealloc;
using base::PluginStrDup;

std::string Text(uint32_t major, uint32_t minor, uint32_t patch) {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

TEST(PluginApiCompatibility, FollowsMajorThenMinorThenPatch) {
  struct Case {
    PluginApiVersion plugin, host;
    bool compatible;
  };
  const Case cases[] = {
      {{18, 0, 0, {}, {}}, {18, 0, 0, {}, {}}, true},
      {{18, 0, 0, {}, {}}, {18, 3, 1, {}, {}}, true},
      {{18, 0, 0, {}, {}}, {17, 9, 9, {}, {}}, false},
      {{18, 0, 0, {}, {}}, {19, 0, 0, {}, {}}, false},
      {{18, 2, 0, {}, {}}, {18, 1, 9, {}, {}}, false},
      {{18, 2, 5, {}, {}}, {18, 3, 0, {}, {}}, true},
      {{18, 2, 5, {}, {}}, {18, 2, 4, {}, {}}, false},
      {{18, 2, 5, {}, {}}, {18, 2, 5, {}, {}}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsPluginApiCompatible(c.plugin, c.host), c.compatible)
        << Text(c.host.major, c.host.minor, c.host.patch) << " for "
        << Text(c.plugin.major, c.plugin.minor, c.plugin.patch);
  }
}

class TestPlugin : public PluginBase {
 public:
  int registerApiCalls = 0;
  void RegisterApi() override { ++registerApiCalls; }
};

TEST(PluginRegistration, NamesTagsPrefixAndLoadBlock) {
  EXPECT_EQ(FullNameFromShortNameAndType("vyn-pft", FrontendPluginType()), "zup-fe-vyn-pft");
  EXPECT_EQ(FullNameFromShortNameAndType("vyn-pft", PluginType{"Backend", ""}), "zup-xx-vyn-pft");
  TestPlugin plugin;
  PluginLoadBlock block{};
  block.major = 18;
  block.minor = 3;
  block.patch = 1;
  plugin.Register("vyn-pft", block);
  EXPECT_EQ(plugin.registerApiCalls, 1);
  const PluginNames& names = plugin.names();
  EXPECT_EQ(names.fullName + " " + names.shortName + " " + names.type + " '" + names.typeDetail +
                "' " + plugin.typeNamePrefix(),
            "zup-be-vyn-pft vyn-pft backend '' VynPft");
  EXPECT_EQ(plugin.tags()[0] + ", " + plugin.tags()[1], "Plugins, Plugin vyn-pft");
  const PluginApiVersion& host = plugin.hostVersion();
  EXPECT_EQ(Text(host.major, host.minor, host.patch), "18.3.1");
  // The block is packed: each word is copied out before it is compared.
  EXPECT_EQ(Text(block.major, block.minor, block.patch), "18.0.0") << "the plugin's own";
  const void* context = block.context;
  const PluginCallbacks* callbacks = block.callbacks;
  const char* shortName = block.shortName;
  const ApiDescription* api = block.api;
  EXPECT_EQ(context, &plugin);
  EXPECT_EQ(callbacks, &plugin.callbacks());
  EXPECT_STREQ(shortName, "vyn-pft");
  EXPECT_EQ(api, &plugin.apiDescription());
}

TEST(CountingAllocator, CountsEveryOperationOnceAndReportsSixCountersLowWordFirst) {
  const AllocationStats before = GetAllocationStats();
  void* block = PluginAlloc(100);
  const std::size_t size = PluginBlockSize(block);
  EXPECT_GE(size, 100u);
  block = PluginRealloc(block, 5000);
  const std::size_t grown = PluginBlockSize(block);
  EXPECT_GE(grown, 5000u);
  char* text = PluginStrDup("counted");
  EXPECT_STREQ(text, "counted");
  const std::size_t textSize = PluginBlockSize(text);
  PluginFree(text);
  PluginFree(block);
  PluginFree(nullptr);
  EXPECT_EQ(PluginStrDup(nullptr), nullptr);
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
  EXPECT_EQ(out[12], 0u);
  EXPECT_EQ(out[13], 0u);
}

}  // namespace
}  // namespace vyn::plugin
