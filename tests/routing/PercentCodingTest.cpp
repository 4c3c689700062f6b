// Percent-encoding, percent-decoding (malformed escapes included) and query splitting.
#include <gtest/gtest.h>

#include <string>

#include "routing/PercentCoding.h"

namespace vyn::routing {
namespace {

TEST(PercentEncodeBytes, KeepsUnreservedAndEscapesTheRestInUpperCase) {
  EXPECT_EQ(PercentEncode("a b/c\xE9"), "a%20b%2Fc%E9");
  EXPECT_EQ(PercentEncode("AZaz09-_.~"), "AZaz09-_.~");
  EXPECT_EQ(PercentEncode("+%?&=#@[`{"), "%2B%25%3F%26%3D%23%40%5B%60%7B");
  EXPECT_EQ(PercentEncode(std::string("\0\xFF", 2)), "%00%FF");
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(PercentDecode(PercentEncode(all)), all);
}

TEST(PercentDecodeBytes, EscapesPlusAndMalformedInput) {
  struct Case {
    const char* text;
    std::string decoded;
  };
  const Case cases[] = {
      {"a%20b+c%2B", "a b c+"},
      {"%e9%E9%00", std::string("\xE9\xE9\0", 3)},
      {"ab%", "ab"},    // a percent too close to the end is dropped
      {"ab%4", "ab4"},  // with one character after it, too
      {"ab%41", "abA"},
      // An invalid digit counts as 16: the low eight bits of first * 16, OR the second.
      {"%zzA", "\020A"},
      {"%g1", "\x01"},
      {"%4g", "\x50"},
      {"%%41", "\0041"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(PercentDecode(c.text), c.decoded) << c.text;
}

TEST(QuerySplit, NamesValuesAndOverwrites) {
  struct Case {
    const char* path;
    QueryParameters parameters;
  };
  const Case cases[] = {
      {"/x?a=1&b&a=3", {{"a", "3"}, {"b", ""}}},  // the later name overwrites
      {"/x?a=b=c?d", {{"a", "b=c?d"}}},
      {"/x?n%20m=v+w%26", {{"n m", "v w&"}}},
      {"/x?=v&&b=2&", {{"", "v"}, {"b", "2"}}},
      {"/x?", {}},
      {"/x", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseQuery(QueryText(c.path)), c.parameters) << c.path;
  EXPECT_EQ(QueryText("/a?b?c"), "b?c");
}

}  // namespace
}  // namespace vyn::routing
