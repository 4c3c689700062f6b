// Percent-encoding, percent-decoding (malformed escapes included) and query splitting.
#include <gtest/gtest.h>

#include <string>

#include "routing/PercentCoding.h"

namespace vyn::routing {
namespace {

TEST(PercentEncodeBytes, KeepsUnreservedAndEscapesTheRestInUpperCase) {
  EXPECT_EQ(PercentEncode(std::string("a b/c\xE9\0\xFF", 8)), "a%20b%2Fc%E9%00%FF");
  EXPECT_EQ(PercentEncode("AZaz09-_.~"), "AZaz09-_.~");
  EXPECT_EQ(PercentEncode("+%?&=#@[`{"), "%2B%25%3F%26%3D%23%40%5B%60%7B");
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(PercentDecode(PercentEncode(all)), all);
}

TEST(PercentDecodeBytes, EscapesPlusAndMalformedInput) {
  const std::pair<const char*, std::string> cases[] = {
      {"a%20b+c%2B", "a b c+"},
      {"%e9%E9%00", std::string("\xE9\xE9\0", 3)},
      {"ab%", "ab"},    // a percent too close to the end is dropped
      {"ab%4", "ab4"},  // with one character after it, too
      {"ab%41", "abA"},
      // An invalid digit counts as 16: the low eight bits of first * 16, OR the second.
      {"%zzA", "\020A"},
      {"%4g", "\x50"},
      {"%%41", "\0041"},
      {"", ""},
  };
  for (const auto& [text, decoded] : cases) EXPECT_EQ(PercentDecode(text), decoded) << text;
}

TEST(QuerySplit, NamesValuesAndOverwrites) {
  const std::pair<const char*, QueryParameters> cases[] = {
      {"/x?a=1&b&a=3", {{"a", "3"}, {"b", ""}}},  // the later name overwrites
      {"/x?a=b=c?d", {{"a", "b=c?d"}}},
      {"/x?n%20m=v+w%26", {{"n m", "v w&"}}},
      {"/x?=v&&b=2&", {{"", "v"}, {"b", "2"}}},
      {"/x?", {}},
      {"/x", {}},
  };
  for (const auto& [path, query] : cases) EXPECT_EQ(ParseQuery(QueryText(path)), query) << path;
}

}  // namespace
}  // namespace vyn::routing
