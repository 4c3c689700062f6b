// The event name of a resource path, which must match the one the plugin subscribes under.
#include <gtest/gtest.h>

#include "host/EventName.h"

namespace vyn::host {
namespace {

TEST(EventNameForPath, KeepsFourPiecesOrSixForPlatformConfiguration) {
  const std::pair<const char*, const char*> cases[] = {
      {"/vyn-a/v1/b/c", "OnJsonApiEvent_vyn-a_v1_b"},
      {"/vyn-platform-config/v1/namespaces/PlayerFeedbackTool",
       "OnJsonApiEvent_vyn-platform-config_v1_namespaces_PlayerFeedbackTool"},
      {"/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl/x",
       "OnJsonApiEvent_vyn-platform-config_v1_namespaces_PlayerFeedbackTool_BackendUrl"},
      {"//vyn-login//v1/session/", "OnJsonApiEvent_vyn-login_v1_session"},
      {"vyn-x/v1/y", "OnJsonApiEvent_vyn-x_v1_y"},
      {"", "OnJsonApiEvent"},
  };
  for (const auto& [path, name] : cases) EXPECT_EQ(EventNameForPath(path), name) << path;
}

}  // namespace
}  // namespace vyn::host
