// Identifiers built from a method or prefix and a path, and the names of method codes.
#include <gtest/gtest.h>

#include "routing/HttpMethod.h"
#include "routing/MakeIdentifier.h"

namespace vyn::routing {
namespace {

TEST(MakeIdentifierNames, FromPrefixAndPath) {
  struct Case {
    const char* prefix;
    const char* path;
    const char* identifier;
  };
  const Case cases[] = {
      {"GET", "/vyn-pft/v2/survey", "GetVynPftV2Survey"},
      {"", "/items/{id}", "ItemsById"},
      {"", "vyn-pft", "VynPft"},
      {"DELETE", "/a_b/{x}", "DeleteABByX"},
      {"pOST", "/x", "PostX"},  // the prefix lower-cased after its first character
      {"q", "", "Q"},
      {"", "a!b+c-d.e/f_g", "ABCDEFG"},
      {"", "/files/{+path}", "FilesByPath"},
      {"", "{a}b", "ByAb"},  // a closing brace leaves the flag as it is
      {"", "//a--b", "AB"},
      {"", "/v2/\xC3\xA9t\xC3\xA9", "V2\xC3\xA9t\xC3\xA9"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MakeIdentifier(c.prefix, c.path), c.identifier) << c.prefix << " " << c.path;
  }
}

TEST(HttpMethodCodes, NamesAndHostCodes) {
  using enum HttpMethod;
  const char* names[] = {"", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT", "", ""};
  const HttpMethod methods[] = {None, Delete, Get, Head, Options, Patch, Post, Put, Custom, None};
  for (uint32_t code = 0; code < 10; ++code) {
    EXPECT_EQ(HttpMethodName(code), names[code]) << code;
    EXPECT_EQ(HttpMethodFromCode(code), methods[code]) << code;
  }
  EXPECT_EQ(HttpMethodName(0xFFFFFFFFu), "");
  EXPECT_EQ(HttpMethodFromCode(0xFFFFFFFFu), None);
}

}  // namespace
}  // namespace vyn::routing
