// vyn-host demo: a whole round with the feedback plugin behaves, and a round that cannot complete
// says which step did not behave.
#include <gtest/gtest.h>

#include "HostProcess.h"

namespace vyn::test {
namespace {

TEST(DemoCommand, PlaysAWholeRoundWithTheFeedbackPlugin) {
  std::string out, err;
  EXPECT_EQ(RunHost({"demo", VYN_PLUGIN_PATH}, out, err), 0) << out << err;
  EXPECT_NE(out.find("[8/8] show the upload the service received\n"), std::string::npos) << out;
  EXPECT_NE(out.find("demo: all 8 steps behaved\n"), std::string::npos) << out;
}

TEST(DemoCommand, NamesTheStepThatDidNotBehave) {
  // The fake plugin lacks the feature: the round stops at once where the plugin is looked at.
  std::string out, err;
  EXPECT_EQ(RunHost({"demo", VYN_FAKE_PLUGIN_PATH}, out, err), 1) << err;
  EXPECT_NE(out.find("[1/8] start the stand-in feedback service\n      listening on "),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("      FAILED: the plugin registers no endpoint POST /vyn-pft/v2/events\n"
                     "demo: step 2 of 8 (load and initialise the plugin) failed\n"),
            std::string::npos)
      << out;
}

}  // namespace
}  // namespace vyn::test
