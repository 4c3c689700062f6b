// The shared library driven through the host boundary: loading, version negotiation,
// initialisation, unloading and the memory counters.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <string>

#include "support/FakeHost.h"

namespace vyn::test {
namespace {

TEST(PluginLoad, AcceptsCompatibleHostsAndWritesTheLoadBlock) {
  PluginLibrary library(VYN_PLUGIN_PATH);
  ASSERT_TRUE(library.ok()) << library.error();
  struct Case {
    const char* desc;
    uint32_t major, minor, patch;
  };
  const Case cases[] = {{"same version", 18, 0, 0}, {"newer minor and patch", 18, 3, 1}};
  for (const Case& c : cases) {
    LoadedPlugin plugin(library, c.major, c.minor, c.patch);
    ASSERT_TRUE(plugin.loaded()) << c.desc;
    // The block is packed: copy each word out before comparing.
    const PluginLoadBlock& block = plugin.block();
    const uint32_t major = block.major, minor = block.minor, patch = block.patch;
    const PluginCallbacks* callbacks = block.callbacks;
    const char* shortName = block.shortName;
    const ApiDescription* api = block.api;
    EXPECT_EQ(major, 18u) << c.desc;
    EXPECT_EQ(minor, 0u) << c.desc;
    EXPECT_EQ(patch, 0u) << c.desc;
    ASSERT_NE(callbacks, nullptr) << c.desc;
    const PluginCallbacks table = *callbacks;
    EXPECT_NE(table.initialize, nullptr) << c.desc;
    EXPECT_NE(table.unload, nullptr) << c.desc;
    EXPECT_NE(table.memoryStats, nullptr) << c.desc;
    EXPECT_STREQ(shortName, "vyn-pft") << c.desc;
    EXPECT_NE(api, nullptr) << c.desc;
  }
}

using PluginLoadDeathTest = ::testing::Test;

TEST(PluginLoadDeathTest, RefusesIncompatibleHostsByEndingTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    const char* desc;
    uint32_t major, minor, patch;
  };
  const Case cases[] = {{"older major", 17, 9, 9}, {"newer major", 19, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EXIT(
        {
          PluginLibrary library(VYN_PLUGIN_PATH);
          LoadedPlugin plugin(library, c.major, c.minor, c.patch);
        },
        ::testing::KilledBySignal(SIGABRT), "ALE-EECF0606")
        << c.desc;
  }
}

TEST(PluginLoad, InitializeReportsReadyAndUnloadReleasesTheObject) {
  PluginLibrary library(VYN_PLUGIN_PATH);
  ASSERT_TRUE(library.ok()) << library.error();
  FakeHost host;
  LoadedPlugin plugin(library);
  ASSERT_TRUE(plugin.loaded());
  EXPECT_TRUE(plugin.Initialize(host));
  plugin.Unload();
  EXPECT_FALSE(plugin.loaded());
}

uint64_t Word64(const std::array<uint32_t, 14>& s, int index) {
  return s[2 * index] | (static_cast<uint64_t>(s[2 * index + 1]) << 32);
}

TEST(PluginMemoryStats, CountersStayConsistentAcrossLoadCycles) {
  PluginLibrary library(VYN_PLUGIN_PATH);
  ASSERT_TRUE(library.ok()) << library.error();
  struct Cycle {
    std::array<uint32_t, 14> loaded, initialized;
  };
  auto cycle = [&library] {
    FakeHost host;
    LoadedPlugin plugin(library);
    EXPECT_TRUE(plugin.loaded());
    Cycle c{plugin.MemoryStats(), {}};
    EXPECT_TRUE(plugin.Initialize(host));
    c.initialized = plugin.MemoryStats();
    plugin.Unload();
    return c;
  };
  auto liveBlocks = [](const std::array<uint32_t, 14>& s) { return Word64(s, 3) - Word64(s, 5); };
  auto liveBytes = [](const std::array<uint32_t, 14>& s) { return Word64(s, 2) - Word64(s, 4); };
  // The first cycle may leave process-wide caches behind (the log manager); from then on every
  // cycle must give back exactly the blocks it took. Byte counts are the heap's usable sizes,
  // which vary a little with where a block lands, so they may only wobble, never grow.
  cycle();
  const Cycle first = cycle();
  Cycle last = first;
  for (int i = 0; i < 20; ++i) {
    last = cycle();
    EXPECT_EQ(liveBlocks(last.loaded), liveBlocks(first.loaded)) << "cycle " << i;
    EXPECT_EQ(liveBlocks(last.initialized), liveBlocks(first.initialized)) << "cycle " << i;
    EXPECT_LE(liveBytes(last.initialized), liveBytes(first.initialized) + 512) << "cycle " << i;
  }
  for (const auto& s : {first.loaded, first.initialized, last.loaded, last.initialized}) {
    EXPECT_GE(Word64(s, 2), Word64(s, 4)) << "freed bytes never exceed allocated bytes";
    EXPECT_GE(Word64(s, 3), Word64(s, 5)) << "freed blocks never exceed allocated blocks";
    EXPECT_GE(Word64(s, 0), liveBytes(s)) << "the peak covers what is alive";
    EXPECT_EQ(s[12], 0u);
    EXPECT_EQ(s[13], 0u);
  }
  EXPECT_GT(Word64(last.loaded, 3), Word64(first.initialized, 3))
      << "the counters keep counting across objects";
}

bool LibraryIsMapped() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find("zup-be-vyn-pft.so") != std::string::npos) return true;
  }
  return false;
}

TEST(PluginLoad, WorksAgainAfterTheLibraryWasClosedAndReopened) {
  for (int round = 0; round < 2; ++round) {
    {
      PluginLibrary library(VYN_PLUGIN_PATH);
      ASSERT_TRUE(library.ok()) << library.error();
      FakeHost host;
      LoadedPlugin plugin(library);
      ASSERT_TRUE(plugin.loaded()) << "round " << round;
      EXPECT_TRUE(plugin.Initialize(host)) << "round " << round;
      plugin.Unload();
    }
    // Nothing of the library may pin it (unique symbols, thread-exit destructors).
    EXPECT_FALSE(LibraryIsMapped()) << "round " << round;
  }
}

}  // namespace
}  // namespace vyn::test
