// Number texts: bases, signs, blanks, leftovers, ranges and the double spellings.
#include "binding/NumberText.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace vyn::binding {
namespace {

std::string Shown(NumberTextStatus status, const std::string& value) {
  static const char* const kNames[] = {"Ok", "IncorrectFormat", "OutOfRange"};
  return std::string(kNames[static_cast<int>(status)]) + " " + value;
}
// Each parser's status and what it stored, from an output that held 42.
std::string I(std::string_view text, int64_t min = INT64_MIN, int64_t max = INT64_MAX) {
  int64_t out = 42;
  const NumberTextStatus status = ParseSignedText(text, min, max, out);
  return Shown(status, std::to_string(out));
}
std::string U(std::string_view text, uint64_t max = UINT64_MAX) {
  uint64_t out = 42;
  const NumberTextStatus status = ParseUnsignedText(text, max, out);
  return Shown(status, std::to_string(out));
}
std::string D(std::string_view text, double max = DBL_MAX) {
  double out = 42;
  const NumberTextStatus status = ParseDoubleText(text, -max, max, out);
  char value[32];
  std::snprintf(value, sizeof value, "%.17g", out);
  return Shown(status, std::isnan(out) ? "nan" : value);
}

TEST(NumberText, ReadsBasesSignsLeftoversAndRanges) {
  const struct {
    const char* desc;
    std::string got;
    const char* want;
  } cases[] = {
      {"upper-case hex prefix and digits", I("0XfF"), "Ok 255"},
      {"leading zero is octal", I("010"), "Ok 8"},
      {"octal has no digit 8", I("08"), "IncorrectFormat 0"},
      {"empty text is zero", I(""), "Ok 0"},
      {"any classic blank, then a sign", I("\t\n\v\f\r -5"), "Ok -5"},
      {"plus sign", I("+7"), "Ok 7"},
      {"blanks only", I("   "), "IncorrectFormat 0"},
      {"0x without digits is 0 then x", I("0x"), "IncorrectFormat 0"},
      {"largest", I("9223372036854775807"), "Ok 9223372036854775807"},
      {"smallest", I("-9223372036854775808"), "Ok -9223372036854775808"},
      {"one past the largest", I("9223372036854775808"), "OutOfRange 0"},
      {"one past the smallest", I("-9223372036854775809"), "OutOfRange 0"},
      {"hex past 64 bits", I("0x10000000000000000"), "OutOfRange 0"},
      {"a leftover wins over overflow", I("99999999999999999999x"), "IncorrectFormat 0"},
      {"int8 maximum", I("127", -128, 127), "Ok 127"},
      {"int8 minimum", I("-128", -128, 127), "Ok -128"},
      {"below int8", I("-129", -128, 127), "OutOfRange 0"},
      {"embedded NUL is a leftover", I(std::string{'5', '\0', '1'}), "IncorrectFormat 0"},
      {"the view's end is the text's end", I(std::string_view("12345", 3)), "Ok 123"},
      {"unsigned: minus zero", U("-0"), "Ok 0"},
      {"unsigned: largest in hex", U("0xFFFFFFFFFFFFFFFF"), "Ok 18446744073709551615"},
      {"unsigned: past 64 bits", U("18446744073709551616"), "OutOfRange 0"},
      {"unsigned: uint8 maximum", U("255", 255), "Ok 255"},
      {"unsigned: above uint8", U("256", 255), "OutOfRange 0"},
      {"double: hex with fraction and sign", D("-0X1.8p1"), "Ok -3"},
      {"double: blank, exponent", D(" 2.5e2"), "Ok 250"},
      {"double: plus sign, bare fraction", D("+.5"), "Ok 0.5"},
      {"double: rounds up to infinity", D("1.7976931348623159e308"), "OutOfRange 0"},
      {"double: largest", D("1.7976931348623157e308"), "Ok 1.7976931348623157e+308"},
      {"double: zeros after the point count", D("0." + std::string(400, '0') + "1e50"), "Ok 0"},
      {"double: digits before the point count", D("1" + std::string(400, '0') + "e-50"),
       "OutOfRange 0"},
      {"double: underflow, huge exponent digits", D("1e-99999999999999999999"), "Ok 0"},
      {"double: hex underflow", D("0x1P-99999"), "Ok 0"},
      {"double: below the float range", D("-3.5e38", 3.4028234663852886e38), "OutOfRange 0"},
      {"double: infinity", D("inf"), "OutOfRange 0"},
      {"double: NaN passes the range", D("-NaN", 1.0), "Ok nan"},
      {"double: two signs", D("+-1"), "IncorrectFormat 0"},
      {"double: hex prefix alone", D("0x"), "IncorrectFormat 0"},
      {"double: the view's end", D(std::string_view("12345", 2)), "Ok 12"},
      {"double: blanks only", D("  "), "IncorrectFormat 0"},
      {"double: empty text is zero", D(""), "Ok 0"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.desc;
}

}  // namespace
}  // namespace vyn::binding
