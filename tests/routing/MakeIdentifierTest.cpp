// Identifiers built from a method or prefix and a path, and the names of method codes.
#include <gtest/gtest.h>

#include <tuple>

#include "routing/HttpMethod.h"
#include "routing/MakeIdentifier.h"

namespace vyn::routing {
namespace {

TEST(MakeIdentifierNames, FromPrefixAndPath) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      // prefix, path, identifier
      {"", "/items/{id}", "ItemsById"},
      {"pOST", "/x", "PostX"},  // the prefix lower-cased after its first character
      {"q", "", "Q"},
      {"", "a!b+c-d.e/f_g", "ABCDEFG"},
      {"", "/files/{+path}", "FilesByPath"},
      {"", "{a}b", "ByAb"},  // a closing brace leaves the flag as it is
      {"", "//a--b", "AB"},
      {"", "/v2/\xC3\xA9t\xC3\xA9", "V2\xC3\xA9t\xC3\xA9"},
      {"", "", ""},
  };
  for (const auto& [prefix, path, identifier] : cases) {
    EXPECT_EQ(MakeIdentifier(prefix, path), identifier) << prefix << " " << path;
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
}

}  // namespace
}  // namespace vyn::routing
