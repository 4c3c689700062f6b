// The sibling resources that the feedback feature reads, what each is for, and the values the
// demo gives them, so that a host can serve the feature without a configuration of its own.
#pragma once

#include <string>

namespace vyn::host {

struct FeatureResource {
  const char* path;
  const char* purpose;
};

inline constexpr const char* kBackendUrlPath =
    "/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl";

// In the order the feature reads them.
inline constexpr FeatureResource kFeatureResources[] = {
    {kBackendUrlPath,
     "the feedback service's base URL; without it the feature answers 404 and does nothing"},
    {"/tarnclient/region-locale",
     "the player's region and language (region, locale, webRegion, webLanguage), sent with "
     "every survey request"},
    {"/vyn-login/v1/login-data-packet",
     "the player's shard (platformId); without it a survey request fails with 500"},
    {"/system/v1/builds",
     "the client's build (codeBuildId, contentBuildId), reported as the app version"},
};

// The demo's values of those four resources as a JSON configuration, the backend pointing at
// the given base URL.
std::string DemoResourcesJson(const std::string& backendUrl);

}  // namespace vyn::host
