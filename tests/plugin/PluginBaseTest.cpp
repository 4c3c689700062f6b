// The plugin frame's load-time rules: version compatibility, names, tags and the load block.
#include "plugin/PluginBase.h"

#include <gtest/gtest.h>

#include "plugin/PluginAllocator.h"

namespace vyn::plugin {
namespace {

TEST(PluginApiCompatibility, FollowsMajorThenMinorThenPatch) {
  struct Case {
    const char* desc;
    PluginApiVersion plugin, host;
    bool compatible;
  };
  const Case cases[] = {
      {"equal", {18, 0, 0, {}, {}}, {18, 0, 0, {}, {}}, true},
      {"host minor and patch higher", {18, 0, 0, {}, {}}, {18, 3, 1, {}, {}}, true},
      {"host major lower", {18, 0, 0, {}, {}}, {17, 9, 9, {}, {}}, false},
      {"host major higher", {18, 0, 0, {}, {}}, {19, 0, 0, {}, {}}, false},
      {"host minor lower", {18, 2, 0, {}, {}}, {18, 1, 9, {}, {}}, false},
      {"host minor higher, patch lower", {18, 2, 5, {}, {}}, {18, 3, 0, {}, {}}, true},
      {"equal minor, host patch lower", {18, 2, 5, {}, {}}, {18, 2, 4, {}, {}}, false},
      {"equal minor, host patch equal", {18, 2, 5, {}, {}}, {18, 2, 5, {}, {}}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsPluginApiCompatible(c.plugin, c.host), c.compatible) << c.desc;
  }
}

TEST(PluginFullName, PrefixFollowsTheExactTypeText) {
  EXPECT_EQ(FullNameFromShortNameAndType("vyn-pft", BackendPluginType()), "zup-be-vyn-pft");
  EXPECT_EQ(FullNameFromShortNameAndType("vyn-pft", FrontendPluginType()), "zup-fe-vyn-pft");
  EXPECT_EQ(FullNameFromShortNameAndType("vyn-pft", PluginType{"Backend", ""}), "zup-xx-vyn-pft");
  EXPECT_EQ(FullNameFromShortNameAndType("x", PluginType{"", ""}), "zup-xx-x");
}

class TestPlugin : public PluginBase {
 public:
  int registerApiCalls = 0;
  void RegisterApi() override { ++registerApiCalls; }
};

TEST(PluginRegistration, NamesTagsPrefixAndLoadBlock) {
  TestPlugin plugin;
  PluginLoadBlock block{};
  block.major = 18;
  block.minor = 3;
  block.patch = 1;
  plugin.Register("vyn-pft", block);
  EXPECT_EQ(plugin.registerApiCalls, 1);
  EXPECT_EQ(plugin.names().fullName, "zup-be-vyn-pft");
  EXPECT_EQ(plugin.names().shortName, "vyn-pft");
  EXPECT_EQ(plugin.names().type, "backend");
  EXPECT_EQ(plugin.names().typeDetail, "");
  EXPECT_EQ(plugin.typeNamePrefix(), "VynPft");
  EXPECT_EQ(plugin.tags()[0], "Plugins");
  EXPECT_EQ(plugin.tags()[1], "Plugin vyn-pft");
  EXPECT_EQ(plugin.hostVersion().major, 18u);
  EXPECT_EQ(plugin.hostVersion().minor, 3u);
  EXPECT_EQ(plugin.hostVersion().patch, 1u);
  // The block is packed: copy each word out before comparing.
  const uint32_t major = block.major, minor = block.minor, patch = block.patch;
  const void* context = block.context;
  const PluginCallbacks* callbacks = block.callbacks;
  const char* shortName = block.shortName;
  const ApiDescription* api = block.api;
  EXPECT_EQ(major, 18u);
  EXPECT_EQ(minor, 0u);
  EXPECT_EQ(patch, 0u);
  EXPECT_EQ(context, &plugin);
  EXPECT_EQ(callbacks, &plugin.callbacks());
  EXPECT_STREQ(shortName, "vyn-pft");
  EXPECT_EQ(api, &plugin.apiDescription());
}

TEST(PluginMemoryStats, WritesSixCountersLowWordFirstThenTwoZeros) {
  uint32_t out[14];
  for (auto& word : out) word = 0xFFFFFFFFu;
  PluginBase::FillMemoryStats(out);
  const AllocationStats stats = GetAllocationStats();
  const uint64_t allocated = out[4] | (static_cast<uint64_t>(out[5]) << 32);
  EXPECT_LE(allocated, stats.bytesAllocated);
  EXPECT_GT(allocated, 0u) << "the test binary has allocated by now";
  const uint64_t freed = out[8] | (static_cast<uint64_t>(out[9]) << 32);
  EXPECT_LE(freed, allocated);
  EXPECT_EQ(out[12], 0u);
  EXPECT_EQ(out[13], 0u);
}

TEST(CountingAllocator, CountsEveryOperationOnce) {
  const AllocationStats before = GetAllocationStats();
  void* block = PluginAlloc(100);
  ASSERT_NE(block, nullptr);
  const std::size_t size = PluginBlockSize(block);
  EXPECT_GE(size, 100u);
  block = PluginRealloc(block, 5000);
  ASSERT_NE(block, nullptr);
  const std::size_t grown = PluginBlockSize(block);
  char* text = PluginStrDup("counted");
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "counted");
  const std::size_t textSize = PluginBlockSize(text);
  PluginFree(text);
  PluginFree(block);
  PluginFree(nullptr);
  const AllocationStats after = GetAllocationStats();
  // This thread's operations: three allocations (alloc, realloc's new block, dup), three frees
  // (realloc's old block, text, block). Other threads of the test binary are idle.
  EXPECT_EQ(after.blocksAllocated - before.blocksAllocated, 3u);
  EXPECT_EQ(after.blocksFreed - before.blocksFreed, 3u);
  EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, size + grown + textSize);
  EXPECT_EQ(after.bytesFreed - before.bytesFreed, size + grown + textSize);
  EXPECT_EQ(PluginStrDup(nullptr), nullptr);
}

TEST(CountingAllocator, ContainersOfTheLibraryAreCounted) {
  const AllocationStats before = GetAllocationStats();
  {
    std::vector<int> numbers(1000, 7);
    const AllocationStats during = GetAllocationStats();
    EXPECT_GE(LiveBytes(during) - LiveBytes(before), 4000u);
  }
  const AllocationStats after = GetAllocationStats();
  EXPECT_EQ(LiveBytes(after), LiveBytes(before));
  EXPECT_GE(after.peakBytes, LiveBytes(before) + 4000u);
}

}  // namespace
}  // namespace vyn::plugin
