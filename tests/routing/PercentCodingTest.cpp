// Percent-encoding, percent-decoding (malformed escapes included) and query splitting.
#include "routing/PercentCoding.h"

#include <string>

#include <gtest/gtest.h>

namespace vyn::routing {
namespace {

TEST(PercentEncodeBytes, KeepsUnreservedAndEscapesTheRest) {
  struct Case {
    const char* desc;
    std::string text;
    const char* encoded;
  };
  const Case cases[] = {
      {"blank and slash", "a b/c", "a%20b%2Fc"},
      {"non-ASCII byte, upper-case digits", "\xE9", "%E9"},
      {"unreserved marks", "AZaz09-_.~", "AZaz09-_.~"},
      {"plus, percent, query marks", "+%?&=#", "%2B%25%3F%26%3D%23"},
      {"NUL and 0xFF", std::string("\0\xFF", 2), "%00%FF"},
      {"empty", "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(PercentEncode(c.text), c.encoded) << c.desc;
}

TEST(PercentDecodeBytes, EscapesPlusAndMalformedInput) {
  struct Case {
    const char* desc;
    const char* text;
    std::string decoded;
  };
  const Case cases[] = {
      {"escape", "a%20b", "a b"},
      {"lower- and upper-case digits", "%e9%E9", "\xE9\xE9"},
      {"plus is a blank", "a+b", "a b"},
      {"encoded plus stays plus", "%2B", "+"},
      {"NUL byte", "a%00b", std::string("a\0b", 3)},
      {"lone percent at end is dropped", "ab%", "ab"},
      {"percent with one character: percent dropped", "ab%4", "ab4"},
      {"escape right at the end", "ab%41", "abA"},
      // Invalid digits count as 16: low eight bits of first * 16, OR second.
      {"both invalid", "%zz", "\x10"},
      {"first invalid", "%g1", "\x01"},
      {"second invalid", "%4g", "\x50"},
      {"percent as a digit", "%%41",
       std::string("\x04"
                   "1",
                   2)},
      {"invalid escape still takes three characters", "%zzA",
       "\x10"
       "A"},
      {"empty", "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(PercentDecode(c.text), c.decoded) << c.desc;
}

TEST(PercentCodingRoundTrip, EveryByteSurvives) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(PercentDecode(PercentEncode(all)), all);
}

TEST(QuerySplit, NamesValuesAndOverwrites) {
  struct Case {
    const char* desc;
    const char* path;
    QueryParameters parameters;
  };
  const Case cases[] = {
      {"later name overwrites, bare name is empty", "/x?a=1&b&a=3", {{"a", "3"}, {"b", ""}}},
      {"split at the first '=' only", "/x?a=b=c", {{"a", "b=c"}}},
      {"split at the first '?' only", "/x?a=?b", {{"a", "?b"}}},
      {"names and values decoded", "/x?n%20m=v+w%26", {{"n m", "v w&"}}},
      {"empty name kept", "/x?=v", {{"", "v"}}},
      {"empty items skipped", "/x?a=1&&b=2&", {{"a", "1"}, {"b", "2"}}},
      {"question mark without query", "/x?", {}},
      {"no query", "/x", {}},
      {"encoded ampersand does not split", "/x?a=1%262", {{"a", "1&2"}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseQuery(QueryText(c.path)), c.parameters) << c.desc;
  }
}

TEST(QuerySplit, QueryTextIsAfterFirstMark) {
  EXPECT_EQ(QueryText("/a?b?c"), "b?c");
  EXPECT_EQ(QueryText("/a"), "");
  EXPECT_EQ(QueryText("?"), "");
}

}  // namespace
}  // namespace vyn::routing
