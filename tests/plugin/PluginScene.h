// The scene of the plugin frame tests: one plugin object loaded by a host of plugin API 18.2.1
// and initialised against the test host, so that log records go to that host as they do in a
// running plugin.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "diagnostics/LogManager.h"
#include "formats/Json.h"
#include "plugin/PluginBase.h"
#include "support/FakeHost.h"

namespace vyn::plugin {

using Texts = std::vector<std::string>;

// Counts the frame's calls of its registration hook.
class TestPlugin : public PluginBase {
 public:
  using EventSubscriber::BindRegistry;
  int registerApiCalls = 0;
  void RegisterApi() override { ++registerApiCalls; }
};

class PluginScene : public testing::Test {
 protected:
  void SetUp() override {
    diagnostics::InitLogging();  // end a manager that an earlier test left behind
    diagnostics::ShutdownLogging();
    diagnostics::InitLogging();
    PluginLoadBlock block{};
    block.major = 18;
    block.minor = 2;
    block.patch = 1;
    plugin.Register("vyn-pft", block);
    BeforeHostLink();
    ASSERT_TRUE(plugin.Initialize(&host.api));
  }
  void TearDown() override {
    if (owned) owned->Shutdown();
    owned.reset();  // its log target goes before the log manager
    diagnostics::ShutdownLogging();
  }
  // Runs between registration and initialisation.
  virtual void BeforeHostLink() {}

  // The messages the host got at this level, in order.
  Texts Logged(int32_t level) const {
    Texts lines;
    for (const auto& line : host.logs) {
      if (line.level == level) lines.push_back(line.message);
    }
    return lines;
  }

  test::FakeHost host;
  std::unique_ptr<TestPlugin> owned = std::make_unique<TestPlugin>();
  TestPlugin& plugin = *owned;
};

inline binding::BindingProperty Json(std::string_view text) {
  binding::BindingResult parsed = formats::ParseJson(text.data(), text.size());
  EXPECT_TRUE(parsed.ok()) << parsed.ErrorText();
  binding::BindingProperty value;
  value.moveFrom(parsed);
  return value;
}

}  // namespace vyn::plugin
