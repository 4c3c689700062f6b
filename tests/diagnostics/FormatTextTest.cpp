// Positional formatting, the bounded printf engine, version texts and UTF-16 conversion.
#include <gtest/gtest.h>

#include "diagnostics/FormatText.h"
#include "diagnostics/Utf16ToUtf8.h"
#include "diagnostics/VersionText.h"

namespace vyn::diagnostics {
namespace {

// Each row is what calls gave and what they must give; the expected text names the row.
void ExpectAll(std::initializer_list<std::pair<std::string, std::string>> cases) {
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

TEST(FormatText, PlaceholdersStarsAndKinds) {
  const char unterminated[4] = {'a', 'b', 'c', 'd'};
  const char* nullText = nullptr;
  ExpectAll({
      {FormatText("%1 %1 %2-%1 %1.%2. 100%% %%1 %3 b", "x", "y"), "x x y-x x.y. 100% %1 "},
      {FormatText("%s=%d %1 %s|%2$-4s|%1$04d", "k", 7, "z"), "k=7 k z|7   |   k"},
      {FormatText("b %s") + FormatText("c%", 7) + FormatText("d%") + FormatText("[%-5", 42) +
           FormatText("a%nb%s", "x", "y") + FormatText("[%5", 42),
       "b c7d[42   aby["},
      {FormatText("%12|%5d", 1, 2, 3, 4, "e", 6, 7, 8, 9, 10, 11, "twelve"), "twelve|ed"},
      {FormatText("|%5d|", 42, 1) + FormatText(nullptr, 1), "|   42|"},
      {FormatText("[%*d|%*d|%*s|%.*f|%*.*f]", 5, 42, -5, 42, '\x03', "a", 2, 3.14159, 6, 1, 2.25),
       "[   42|42   |  a|3.14|   2.2]"},
      {FormatText("[%1$*2$d]", 42, 6) + FormatText("[%*.*c]", 3, 5, 'x') + FormatText("%.-3d", 5),
       "[    42][  x]005"},
      {FormatText("a%*db", "x", 5) + FormatText("b%*db", 2.0, 5) +
           FormatText("b%*db", std::string("x"), 5) + FormatText("c%1$*3$db", 5, 6) +
           FormatText("[%*d]", int64_t{0x100000003}, 1) + FormatText("[%*d]", uint8_t{3}, 7) +
           FormatText("[%*d]", 3ull, 7),
       "abbc[  1][  7][  7]"},
      {FormatText("%1$hd|%1$hhd|%2$ld|%2$lld|%2$jd|%2$zd", 65537, 5), "65537|65537|5|5|5|5"},
      {FormatText("%1 %2 %3$x %4$X %5$x", UINT64_MAX, INT64_MIN, 0xABCDEF0123LL, uint16_t{0xBEEF},
                  -1),
       "18446744073709551615 -9223372036854775808 abcdef0123 BEEF ffffffff"},
      {FormatText("%1 %2 %3 %4$.3f %4$s %4$Lf", 0.5, 1e20, 0.25f, 2.0),
       "0.5 1e+20 0.25 2.000 2 2.000000"},
      {FormatText("%1 %1$d %2$d %3$c %4 %5 [%1$.3c]", 'A', '\xff', 65LL, int8_t{65}, uint8_t{200}),
       "A 65 -1 A 65 200 [A]"},
      {FormatText("%1$5s %1$x %1$lld %2$d [%2$05d] %3$d", 42, "ab", 4294967295u),
       "   42 2a 42 ab [   ab] -1"},
      {FormatText("[%1|%2|%3|%4$.2s|%5]", nullText, std::string("str"),
                  std::string_view("abcdef").substr(0, 3), std::string("abcdef"), unterminated),
       "[(null)|str|abc|ab|abcd]"},
      // A view without data, as a default-made one has.
      {FormatText("[%1]", std::string_view()), "[]"},
      {FormatText("v%1 [%2$-9s]", PluginApiVersion{1, 2, 3, "beta", "77"},
                  PluginType{"vyn", "pft"}),
       "v1.2.3-beta+77 [vyn:pft  ]"},
  });
}

TEST(FormatText, ResultsAreBoundedAndVersionsAndUtf16Convert) {
  // Cut at 4095 bytes; a piece that fills the buffer exactly is not cut, and the scan stops.
  const std::string big(5000, 'x'), fits(4094, 'y');
  EXPECT_EQ(FormatText("%1", big) + FormatText(big.c_str()), std::string(8190, 'x'));
  EXPECT_EQ(FormatText("%1%2tail", fits, "zz"), fits + "z");
  // Conversions of 60 bytes, absurd numbers, and widths beyond the buffer end the formatting.
  const std::string spec59 = std::string(57, '0') + "d";
  EXPECT_EQ(FormatText(("<%" + spec59 + "><%1$" + spec59 + ">").c_str(), 7), "<7><7>");
  EXPECT_EQ(FormatText(("<%0" + spec59 + ">").c_str(), 7), "<");
  for (const char* format : {"a%99999999999999999999999d", "a%99999999999999999999999$d",
                             "a%1$.99999999999d", "a%1$1000000000d b", "a%1$*2$d b"}) {
    EXPECT_EQ(FormatText(format, 1, 4097) + FormatText(format, 1, -4097), "aa") << format;
  }
  EXPECT_EQ(FormatText("a%1$.1000000000f b", 1.5) + FormatText("%1$4096d", 7),
            "a" + std::string(4095, ' '));
  char buffer[8];
  EXPECT_EQ(BufferPrintf(buffer, sizeof buffer, "%s", "1234567"), 7);
  EXPECT_EQ(BufferPrintf(buffer, 8, "%s", "12345678") + BufferPrintf(buffer, 0, "%d", 1), -2);
  EXPECT_EQ(BufferPrintf(buffer, 8, "%s", "") + BufferPrintf(buffer, 1, "%s", ""), 0);
  buffer[0] = 'x';
  EXPECT_EQ(BufferPrintf(buffer, 8, nullptr), 0);
  EXPECT_EQ(buffer[0], '\0') << "no format leaves an empty text";
  EXPECT_EQ(WriteVersionText(buffer, 6, {18, 0, 0, "rc", ""}) + WriteVersionText(nullptr, 0, {}),
            5u);
  EXPECT_EQ(buffer + VersionText({4294967295u, 0, 18, "", "abc"}), "18.0.4294967295.0.18+abc");
  EXPECT_EQ(VersionText({}), "0.0.0");
  EXPECT_EQ(
      Utf16ToUtf8(u"\x7F\u0080\u07ff\u0800\uffff\U00010000\U0010FFFF\xDC00"),
      "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\xED\xB0\x80");
  EXPECT_EQ(Utf16ToUtf8(u"a\xD83Dx") + Utf16ToUtf8(u"a\xD83D") + Utf16ToUtf8(nullptr), "");
}

}  // namespace
}  // namespace vyn::diagnostics
