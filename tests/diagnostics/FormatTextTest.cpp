// Positional formatting, the bounded printf engine, version texts and UTF-16 conversion.
#include "diagnostics/FormatText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "diagnostics/Utf16ToUtf8.h"
#include "diagnostics/VersionText.h"

namespace vyn::diagnostics {
namespace {

struct Case {
  const char* desc;
  std::string actual;
  std::string expected;
};

void ExpectAll(std::initializer_list<Case> cases) {
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected) << c.desc;
}

TEST(FormatTextPlaceholders, PositionalAndSequential) {
  ExpectAll({
      {"same argument twice", FormatText("%1 and %1", "x"), "x and x"},
      {"reordered", FormatText("%2-%1", "a", "b"), "b-a"},
      {"dots after %n are text", FormatText("%1.%2.%3", 1, 2, 3), "1.2.3"},
      {"doubled percent", FormatText("100%%"), "100%"},
      {"doubled percent then digit", FormatText("%%1", "x"), "%1"},
      {"argument beyond the list ends", FormatText("a %3 b", "x", "y"), "a "},
      {"no arguments stops at the first placeholder", FormatText("abc %1 def"), "abc "},
      {"no arguments, sequential", FormatText("abc %s def"), "abc "},
      {"sequential", FormatText("%s=%d", "k", 7), "k=7"},
      {"positional does not move the counter", FormatText("%s %1 %s", "a", "b"), "a a b"},
      {"%n$ with flags", FormatText("[%2$-4s|%1$04d]", 7, "ab"), "[ab  |0007]"},
      {"%12 names argument 12",
       FormatText("%12", 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, "twelve"), "twelve"},
      {"%5d with five arguments is argument 5 then d", FormatText("%5d", 1, 2, 3, 4, "e"), "ed"},
      {"%5d with fewer is a width", FormatText("%5d|", 42, 1), "   42|"},
      {"%n consumes and prints nothing", FormatText("a%nb%s", "x", "y"), "aby"},
      {"trailing percent takes the next argument", FormatText("a%", 7), "a7"},
      {"trailing percent without argument", FormatText("a%"), "a"},
      {"missing %n at the end ends", FormatText("[%5", 42), "["},
      {"text ends after a width: the letter is added", FormatText("[%-5", 42), "[42   "},
      {"utf-8 passes through", FormatText("\xC3\xA9 %1 \xE2\x82\xAC", "x"),
       "\xC3\xA9 x \xE2\x82\xAC"},
      {"null format", FormatText(nullptr, 1), ""},
  });
}

TEST(FormatTextPlaceholders, StarWidthsAndPrecisions) {
  ExpectAll({
      {"sequential star width", FormatText("[%*d]", 5, 42), "[   42]"},
      {"negative star width left-justifies", FormatText("[%*d]", -5, 42), "[42   ]"},
      {"star precision", FormatText("%.*f", 2, 3.14159), "3.14"},
      {"width and precision stars", FormatText("[%*.*f]", 6, 1, 2.25), "[   2.2]"},
      {"named star", FormatText("[%1$*2$d]", 42, 6), "[    42]"},
      {"star from a char", FormatText("[%*s]", '\x03', "a"), "[  a]"},
      {"star on a text ends", FormatText("a%*db", "x", 5), "a"},
      {"star on a double ends", FormatText("a%*db", 2.0, 5), "a"},
      {"star beyond the list ends", FormatText("a%1$*3$db", 5, 6), "a"},
      {"star precision on %c is skipped", FormatText("[%*.*c]", 3, 5, 'x'), "[  x]"},
      {"dash after dot is dropped", FormatText("%.-3d", 5), "005"},
      {"64-bit star is cut to 32 bits", FormatText("[%*d]", int64_t{0x100000003}, 1), "[  1]"},
  });
}

TEST(FormatTextKinds, DefaultsAndLetterCorrection) {
  const PluginApiVersion version{1, 2, 3, "beta", "77"};
  const PluginType pluginType{"vyn", "pft"};
  const char* nullText = nullptr;
  const char unterminated[4] = {'a', 'b', 'c', 'd'};
  const std::string_view viewPart = std::string_view("abcdef").substr(0, 3);
  ExpectAll({
      {"uint64 max, bare", FormatText("%1", std::numeric_limits<uint64_t>::max()),
       "18446744073709551615"},
      {"int64 min, bare", FormatText("%1", std::numeric_limits<int64_t>::min()),
       "-9223372036854775808"},
      {"long long, hex", FormatText("%1$x", 0xABCDEF0123LL), "abcdef0123"},
      {"double 0.5", FormatText("%1", 0.5), "0.5"},
      {"double 1e20", FormatText("%1", 1e20), "1e+20"},
      {"float widens", FormatText("%1", 0.25f), "0.25"},
      {"double with precision", FormatText("%1$.3f", 2.0), "2.000"},
      {"char bare", FormatText("%1", 'A'), "A"},
      {"char as number", FormatText("%1$d", 'A'), "65"},
      {"char sign-extended", FormatText("%1$d", '\xff'), "-1"},
      {"int8 is a number", FormatText("%1", int8_t{65}), "65"},
      {"uint8 is a number", FormatText("%1", uint8_t{200}), "200"},
      {"uint16 hex", FormatText("%1$X", uint16_t{0xBEEF}), "BEEF"},
      {"%5s on an int prints %5d", FormatText("%1$5s", 42), "   42"},
      {"%x on an int stays hex", FormatText("%1$x", 255), "ff"},
      {"%d on text prints text", FormatText("%1$d", "abc"), "abc"},
      {"%05d on text pads with blanks", FormatText("[%1$05d]", "ab"), "[   ab]"},
      {"%s on a double prints %g", FormatText("%1$s", 1.5), "1.5"},
      {"negative int as hex", FormatText("%1$x", -1), "ffffffff"},
      {"unsigned as signed", FormatText("%1$d", 4294967295u), "-1"},
      {"written ll on an int is corrected", FormatText("%1$lld", 7), "7"},
      {"written L on a double is corrected", FormatText("%1$Lf", 1.5), "1.500000"},
      {"64-bit value as a character", FormatText("%1$c", 65LL), "A"},
      {"precision on %c is dropped", FormatText("[%1$.3c]", 'x'), "[x]"},
      {"null text", FormatText("[%1]", nullText), "[(null)]"},
      {"std::string", FormatText("%1", std::string("str")), "str"},
      {"string_view without terminator", FormatText("[%1]", viewPart), "[abc]"},
      {"char array without terminator", FormatText("[%1]", unterminated), "[abcd]"},
      {"string precision", FormatText("%1$.2s", std::string("abcdef")), "ab"},
      {"version", FormatText("v%1", version), "v1.2.3-beta+77"},
      {"plugin type with width", FormatText("[%1$-9s]", pluginType), "[vyn:pft  ]"},
  });
}

TEST(FormatTextLimits, ResultIsCutAt4095Bytes) {
  const std::string big(5000, 'x');
  EXPECT_EQ(FormatText("%1", big), std::string(4095, 'x'));
  EXPECT_EQ(FormatText(big.c_str()), std::string(4095, 'x'));
  EXPECT_EQ(FormatText("ab%1", big), "ab" + std::string(4093, 'x'));

  // A piece that fills the buffer exactly is not cut; the scan still stops at 4095.
  const std::string fits(4095, 'y');
  EXPECT_EQ(FormatText("%1", fits), fits);
  EXPECT_EQ(FormatText("%1tail", fits), fits);
  EXPECT_EQ(FormatText("%1%2", std::string(4094, 'y'), "zz"), std::string(4094, 'y') + "z");
}

TEST(FormatTextLimits, SpecificationOf60BytesEndsTheFormatting) {
  const std::string fits = "%" + std::string(57, '0') + "d";     // 59 bytes
  const std::string tooLong = "%" + std::string(58, '0') + "d";  // 60 bytes
  EXPECT_EQ(FormatText(("<" + fits + ">").c_str(), 7), "<7>");
  EXPECT_EQ(FormatText(("<" + tooLong + ">").c_str(), 7), "<");
  // Argument numbers are not part of the printf conversion.
  EXPECT_EQ(FormatText(("<%1$" + fits.substr(1) + ">").c_str(), 7), "<7>");
}

TEST(FormatTextLimits, AbsurdNumbersStopSafely) {
  EXPECT_EQ(FormatText("a%99999999999999999999999d", 1), "a");
  EXPECT_EQ(FormatText("a%99999999999999999999999$d", 1), "a");
  EXPECT_EQ(FormatText("a%1$.99999999999d", 1), "a");
}

// A width or precision beyond the buffer could only produce what is cut anyway, yet would cost
// seconds and gigabytes: it ends the formatting like an over-long specification.
TEST(FormatTextLimits, WidthsAndPrecisionsBeyondTheBufferEndTheFormatting) {
  EXPECT_EQ(FormatText("a%1$1000000000d b", 1), "a");
  EXPECT_EQ(FormatText("a%1$.1000000000f b", 1.5), "a");
  EXPECT_EQ(FormatText("a%1$*2$d b", 1, 4097), "a");
  EXPECT_EQ(FormatText("a%1$*2$d b", 1, -4097), "a");
  // Up to the buffer's size they still pad, and the result is cut as usual.
  EXPECT_EQ(FormatText("%1$4096d", 7), std::string(4095, ' '));
  EXPECT_EQ(FormatText("<%1$5d>", 7), "<    7>");
}

TEST(PrintfToBufferResult, ReportsTruncation) {
  char buffer[8];
  EXPECT_EQ(PrintfToBuffer(buffer, sizeof buffer, "%s", "1234567"), 7);
  EXPECT_STREQ(buffer, "1234567");
  EXPECT_EQ(PrintfToBuffer(buffer, sizeof buffer, "%s", "12345678"), -1);
  EXPECT_STREQ(buffer, "1234567");
  EXPECT_EQ(PrintfToBuffer(buffer, 0, "%d", 1), -1);
  EXPECT_EQ(PrintfToBuffer(buffer, sizeof buffer, "%s", ""), 0);
  EXPECT_STREQ(buffer, "");
}

TEST(VersionTextForms, PreReleaseAndBuild) {
  ExpectAll({
      {"plain", VersionText({2, 0, 0, "", ""}), "2.0.0"},
      {"build only", VersionText({2, 0, 0, "", "abc"}), "2.0.0+abc"},
      {"pre-release only", VersionText({1, 2, 3, "beta", ""}), "1.2.3-beta"},
      {"both", VersionText({1, 2, 3, "beta", "77"}), "1.2.3-beta+77"},
      {"unsigned decimal", VersionText({4294967295u, 0, 18, "", ""}), "4294967295.0.18"},
  });
  char small[6];
  EXPECT_EQ(WriteVersionText(small, sizeof small, {18, 0, 0, "rc", ""}), 5u);
  EXPECT_STREQ(small, "18.0.");
}

TEST(Utf16ToUtf8Conversion, WellAndIllFormedTexts) {
  ExpectAll({
      {"empty", Utf16ToUtf8(u""), ""},
      {"null", Utf16ToUtf8(nullptr), ""},
      {"ascii", Utf16ToUtf8(u"abc"), "abc"},
      {"two bytes", Utf16ToUtf8(u"\u00e9"), "\xC3\xA9"},
      {"three bytes", Utf16ToUtf8(u"\u20ac"), "\xE2\x82\xAC"},
      {"largest BMP unit", Utf16ToUtf8(u"\uffff"), "\xEF\xBF\xBF"},
      {"surrogate pair", Utf16ToUtf8(u"a\U0001F600b"), "a\xF0\x9F\x98\x80" "b"},
      {"highest code point", Utf16ToUtf8(u"\U0010FFFF"), "\xF4\x8F\xBF\xBF"},
      {"high then letter", Utf16ToUtf8(std::u16string{u'a', char16_t(0xD83D), u'x'}.c_str()), ""},
      {"high at the end", Utf16ToUtf8(std::u16string{u'a', char16_t(0xD83D)}.c_str()), ""},
      {"high then high", Utf16ToUtf8(std::u16string{char16_t(0xD83D), char16_t(0xD83D)}.c_str()),
       ""},
      {"lone low", Utf16ToUtf8(std::u16string{char16_t(0xDC00), u'a'}.c_str()), "\xED\xB0\x80" "a"},
      {"the old error marker is ordinary text", Utf16ToUtf8(u"TarnText-CodeConversion-Error"),
       "TarnText-CodeConversion-Error"},
  });
}

}  // namespace
}  // namespace vyn::diagnostics
