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
    const PluginLoadBlock& block = plugin.block();
    EXPECT_EQ(block.major, 18u) << c.desc;
    EXPECT_EQ(block.minor, 0u) << c.desc;
    EXPECT_EQ(block.patch, 0u) << c.desc;
    ASSERT_NE(block.callbacks, nullptr) << c.desc;
    EXPECT_NE(block.callbacks->initialize, nullptr) << c.desc;
    EXPECT_NE(block.callbacks->unload, nullptr) << c.desc;
    EXPECT_NE(block.callbacks->memoryStats, nullptr) << c.desc;
    EXPECT_STREQ(block.shortName, "vyn-pft") << c.desc;
    EXPECT_NE(block.api, nullptr) << c.desc;
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
  auto cycle = [&library] {
    FakeHost host;
    LoadedPlugin plugin(library);
    EXPECT_TRUE(plugin.loaded());
    EXPECT_TRUE(plugin.Initialize(host));
    const auto stats = plugin.MemoryStats();
    plugin.Unload();
    return stats;
  };
  // The first cycle may leave process-wide caches behind (the log manager); from then on every
  // cycle must give back exactly what it took.
  cycle();
  const auto before = cycle();
  const auto after = cycle();
  const auto third = cycle();
  const uint64_t liveDuring = Word64(after, 2) - Word64(after, 4);
  EXPECT_EQ(Word64(after, 2) - Word64(after, 4), Word64(before, 2) - Word64(before, 4));
  EXPECT_EQ(Word64(third, 2) - Word64(third, 4), liveDuring);
  for (const auto& s : {before, after, third}) {
    EXPECT_GE(Word64(s, 2), Word64(s, 4)) << "freed bytes never exceed allocated bytes";
    EXPECT_GE(Word64(s, 3), Word64(s, 5)) << "freed blocks never exceed allocated blocks";
    EXPECT_GE(Word64(s, 0), Word64(s, 2) - Word64(s, 4)) << "the peak covers what is alive";
    EXPECT_EQ(s[12], 0u);
    EXPECT_EQ(s[13], 0u);
  }
  EXPECT_GT(Word64(third, 3), Word64(before, 3)) << "the counters keep counting across objects";
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
