// Forwarding of log records to the host, and the switch to it when the plugin starts.
#include <gtest/gtest.h>

#include "diagnostics/Log.h"
#include "plugin/PluginLogTarget.h"
#include "plugin/PluginScene.h"

namespace vyn::plugin {
namespace {

using namespace vyn::diagnostics;
// Before the plugin starts, something else muted other categories: the start mutes "XTR" alone.
class PluginLogging : public PluginScene {
  void BeforeHostLink() override { SetMutedCategories(kCategoryGen); }
};

TEST_F(PluginLogging, StartingSwitchesAllOutputToTheHostOnceUntilThePluginGoes) {
  for (LogTargetTable* t : {GetStdErrTarget(), GetStdOutTarget(), GetDebuggerConsoleTarget()}) {
    EXPECT_FALSE(t->isRegistered(t)) << t->getName(t);
  }
  EXPECT_EQ(GetMinLevel(), kLogOkay);
  EXPECT_EQ(GetMutedCategories(), kCategoryXtr);
  LogTargetTable* t = FindTarget("PluginLogTarget");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->getLevel(t), kLogOkay);
  host.logs.clear();
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

  // The target goes with the plugin, and a later one may be installed.
  owned->Shutdown();
  owned.reset();
  EXPECT_EQ(FindTarget("PluginLogTarget"), nullptr);
  LogPrintf(kLogError, kCategoryDbg, "nobody listens");
  std::unique_ptr<PluginLogTarget> again = InstallPluginLogTarget(&host.table.functions);
  ASSERT_NE(again, nullptr);
  LogPrintf(kLogError, kCategoryDbg, "back");
  EXPECT_EQ(host.logs.size(), 4u);
  EXPECT_EQ(Logged(kLogOkay), Texts{"ready 1"});
  EXPECT_EQ(Logged(kLogError), (Texts{"no line format applied\n", "still the first host", "back"}));
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
