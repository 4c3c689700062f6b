// Forwarding of log records to the host, and the switch to it when the plugin starts.
#include <gtest/gtest.h>

#include "diagnostics/Log.h"
#include "diagnostics/LogManager.h"
#include "plugin/PluginLogTarget.h"
#include "support/FakeHost.h"

namespace vyn::plugin {
namespace {

using namespace vyn::diagnostics;

class PluginLogging : public testing::Test {
 protected:
  void SetUp() override {
    InitLogging();  // end a manager that an earlier test left behind
    ShutdownLogging();
    InitLogging();
  }
  void TearDown() override { ShutdownLogging(); }
  test::FakeHost host;
};

TEST_F(PluginLogging, InstallSwitchesAllOutputToTheHostOnce) {
  std::unique_ptr<PluginLogTarget> target = InstallPluginLogTarget(&host.table.functions);
  ASSERT_NE(target, nullptr);
  for (LogTargetTable* t : {GetStdErrTarget(), GetStdOutTarget(), GetDebuggerConsoleTarget()}) {
    EXPECT_FALSE(t->isRegistered(t)) << t->getName(t);
  }
  EXPECT_EQ(GetMinLevel(), kLogOkay);
  EXPECT_EQ(GetMutedCategories(), kCategoryXtr);
  LogTargetTable* t = target->Table();
  EXPECT_EQ(FindTarget("PluginLogTarget"), t);
  EXPECT_EQ(t->getLevel(t), kLogOkay);
  EXPECT_EQ(t->getIncludeMask(t) | t->getExcludeMask(t), 0u);
  EXPECT_STREQ(t->getLineFormat(t), "#D| #L| #G| #M");
  LogPrintf(kLogOkay, kCategoryDbg, "ready %d", 1);
  LogPrintf(kLogAlways, kCategoryXtr, "muted");
  LogPrintf(kLogError, kCategoryGen, "no line format applied\n");

  // A second install leaves the targets as they are.
  SetMinLevel(kLogError);
  GetStdErrTarget()->registerTarget(GetStdErrTarget());
  test::FakeHost other;
  EXPECT_EQ(InstallPluginLogTarget(&other.table.functions), nullptr);
  EXPECT_EQ(GetMinLevel(), kLogError);
  EXPECT_TRUE(GetStdErrTarget()->isRegistered(GetStdErrTarget()));
  EXPECT_EQ(FindTarget("PluginLogTarget"), t);
  GetStdErrTarget()->unregisterTarget(GetStdErrTarget());
  LogPrintf(kLogError, kCategoryDbg, "still the first host");
  EXPECT_TRUE(other.logs.empty());
  ASSERT_EQ(host.logs.size(), 3u);
  EXPECT_EQ(host.logs[0].level, kLogOkay);
  EXPECT_EQ(host.logs[0].message, "ready 1");
  EXPECT_EQ(host.logs[1].level, kLogError);
  EXPECT_EQ(host.logs[1].message, "no line format applied\n");
}

TEST_F(PluginLogging, DestroyedTargetStopsForwardingAndMayBeInstalledAgain) {
  InstallPluginLogTarget(&host.table.functions).reset();
  EXPECT_EQ(FindTarget("PluginLogTarget"), nullptr);
  LogPrintf(kLogError, kCategoryDbg, "nobody listens");
  EXPECT_TRUE(host.logs.empty());
  std::unique_ptr<PluginLogTarget> again = InstallPluginLogTarget(&host.table.functions);
  ASSERT_NE(again, nullptr);
  LogPrintf(kLogError, kCategoryDbg, "back");
  ASSERT_EQ(host.logs.size(), 1u);
  EXPECT_EQ(host.logs[0].message, "back");
  // A host without a log entry has the records dropped.
  HostFunctions bare{};
  again.reset();
  again = InstallPluginLogTarget(&bare);
  ASSERT_NE(again, nullptr);
  const LogRecord record{{}, kLogError, 1, 0, "x"};
  EXPECT_TRUE(again->Table()->log(again->Table(), &record));
}

}  // namespace
}  // namespace vyn::plugin
