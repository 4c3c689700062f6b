// The demo's values of the resources the feedback feature reads.
#include "host/FeatureResources.h"

namespace vyn::host {

std::string DemoResourcesJson(const std::string& backendUrl) {
  return std::string(R"({")") + kBackendUrlPath + R"(":")" + backendUrl +
         R"(","/tarnclient/region-locale":{"region":"NA","locale":"en_US","webRegion":"na",)"
         R"("webLanguage":"en"},"/vyn-login/v1/login-data-packet":{"platformId":"NA1"},)"
         R"("/system/v1/builds":{"codeBuildId":"14.2.1","contentBuildId":"571"}})";
}

}  // namespace vyn::host
