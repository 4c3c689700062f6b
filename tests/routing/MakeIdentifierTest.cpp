// Identifiers built from a method or prefix and a path.
#include "routing/MakeIdentifier.h"

#include <gtest/gtest.h>

#include "routing/HttpMethod.h"

namespace vyn::routing {
namespace {

TEST(MakeIdentifierNames, FromPrefixAndPath) {
  struct Case {
    const char* desc;
    const char* prefix;
    const char* path;
    const char* identifier;
  };
  const Case cases[] = {
      {"method and path", "GET", "/vyn-pft/v2/survey", "GetVynPftV2Survey"},
      {"no prefix, parameter", "", "/items/{id}", "ItemsById"},
      {"no prefix, plugin short name", "", "vyn-pft", "VynPft"},
      {"underscore and parameter", "DELETE", "/a_b/{x}", "DeleteABByX"},
      {"prefix lower-cased after its first character", "pOST", "/x", "PostX"},
      {"one-character prefix", "q", "", "Q"},
      {"every separator capitalises", "", "a!b+c-d.e/f_g", "ABCDEFG"},
      {"reserved operator is a separator", "", "/files/{+path}", "FilesByPath"},
      {"closing brace keeps the flag", "", "{a}b", "ByAb"},
      {"runs of separators", "", "//a--b", "AB"},
      {"digits and non-ASCII pass through", "", "/v2/\xC3\xA9t\xC3\xA9", "V2\xC3\xA9t\xC3\xA9"},
      {"empty", "", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MakeIdentifier(c.prefix, c.path), c.identifier) << c.desc;
  }
}

TEST(HttpMethodCodes, NamesAndHostCodes) {
  const char* names[] = {"", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT", "", ""};
  for (uint32_t code = 0; code < 10; ++code) {
    EXPECT_EQ(HttpMethodName(code), names[code]) << "code " << code;
  }
  EXPECT_EQ(HttpMethodName(0xFFFFFFFFu), "");
  EXPECT_EQ(HttpMethodFromCode(0), HttpMethod::None);
  EXPECT_EQ(HttpMethodFromCode(1), HttpMethod::Delete);
  EXPECT_EQ(HttpMethodFromCode(8), HttpMethod::Custom);
  EXPECT_EQ(HttpMethodFromCode(9), HttpMethod::None);
  EXPECT_EQ(HttpMethodFromCode(0xFFFFFFFFu), HttpMethod::None);
}

}  // namespace
}  // namespace vyn::routing
