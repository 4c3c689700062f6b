// The fixture of the feature tests: the built plugin against a scripted host with the usual
// siblings, a signed-in player when the test asks for one, and host values read back as text.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "diagnostics/FormatText.h"
#include "formats/Json.h"
#include "support/ScriptedHost.h"

namespace vyn::test {

// A copied host value as compact JSON, members in the order the plugin sent them. Unsigned
// numbers carry a 'u', so that a changed kind shows.
inline std::string Json(const CopiedValue& value) {
  std::string text;
  switch (value.kind) {
    case kHostValueBool: return value.flag ? "true" : "false";
    case kHostValueSigned: return std::to_string(value.signedValue);
    case kHostValueUnsigned: return std::to_string(value.unsignedValue) + "u";
    case kHostValueStringBorrowed:
    case kHostValueStringOwned: return "\"" + value.bytes + "\"";
    case kHostValueCollection:
      for (const CopiedValue& element : value.elements) text += "," + Json(element);
      return "[" + text.erase(0, text.empty() ? 0 : 1) + "]";
    case kHostValueStructure:
      for (const auto& [name, member] : value.members) text += ",\"" + name + "\":" + Json(member);
      return "{" + text.erase(0, text.empty() ? 0 : 1) + "}";
    default: return value.kind == kHostValueEmpty ? "null" : "?";
  }
}
inline std::string Json(const CopiedValue* value) { return value ? Json(*value) : "<missing>"; }

class ScriptedFeature : public testing::Test, public ScriptedHost {
 protected:
  ScriptedFeature() : ScriptedHost(VYN_PLUGIN_PATH) {}
  void SetUp() override {
    ASSERT_TRUE(ok()) << error();
    SetUpSiblings();
  }
  void SignIn(const std::string& puuid = "p-1", const std::string& token = "tok",
              const char* state = "SUCCEEDED", uint64_t accountId = 42, uint64_t summonerId = 99) {
    ASSERT_TRUE(Publish("/vyn-login/v1/session", "Update",
                        diagnostics::FormatText(R"({"state": "%1", "summonerId": %2,
                                                    "accountId": %3, "puuid": "%4",
                                                    "idToken": "%5"})",
                                                state, summonerId, accountId, puuid, token)));
  }
  std::size_t ServiceRequests() const { return host.externalRequests.size(); }
  binding::BindingResult Body() const { return formats::ParseJson(LastServiceRequest().body); }
  // The actions of the last upload, each followed by a comma.
  std::string UploadedActions() const {
    const binding::BindingResult body = Body();
    std::string actions;
    for (const auto& action : body.member("actions").elements()) {
      actions.append(action.member("action").asString()).append(",");
    }
    return actions;
  }
};

}  // namespace vyn::test
