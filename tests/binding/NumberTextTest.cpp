// Number texts: bases, signs, blanks, leftovers, ranges and the double spellings.
#include "binding/NumberText.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string_view>

#include <gtest/gtest.h>

namespace vyn::binding {
namespace {

using S = NumberTextStatus;

const char* StatusName(S status) {
  switch (status) {
    case S::Ok:
      return "Ok";
    case S::IncorrectFormat:
      return "IncorrectFormat";
    case S::OutOfRange:
      return "OutOfRange";
  }
  return "?";
}

TEST(NumberTextSigned, ReadsBasesSignsAndLeftovers) {
  struct Case {
    const char* desc;
    std::string_view text;
    int64_t min, max;
    S status;
    int64_t value;
  };
  constexpr int64_t kMin = INT64_MIN, kMax = INT64_MAX;
  const Case cases[] = {
      {"hex prefix", "0x10", kMin, kMax, S::Ok, 16},
      {"upper-case hex prefix and digits", "0XfF", kMin, kMax, S::Ok, 255},
      {"leading zero is octal", "010", kMin, kMax, S::Ok, 8},
      {"octal has no digit 8", "08", kMin, kMax, S::IncorrectFormat, 0},
      {"trailing blank", "12 ", kMin, kMax, S::IncorrectFormat, 0},
      {"trailing letter", "12a", kMin, kMax, S::IncorrectFormat, 0},
      {"empty text is zero", "", kMin, kMax, S::Ok, 0},
      {"leading blank and sign", " -5", kMin, kMax, S::Ok, -5},
      {"any classic blank", "\t\n\v\f\r 5", kMin, kMax, S::Ok, 5},
      {"plus sign", "+7", kMin, kMax, S::Ok, 7},
      {"negative hex", "-0x10", kMin, kMax, S::Ok, -16},
      {"blanks only", "   ", kMin, kMax, S::IncorrectFormat, 0},
      {"sign only", "-", kMin, kMax, S::IncorrectFormat, 0},
      {"two signs", "--1", kMin, kMax, S::IncorrectFormat, 0},
      {"blank after sign", "- 1", kMin, kMax, S::IncorrectFormat, 0},
      {"0x without digits is 0 then x", "0x", kMin, kMax, S::IncorrectFormat, 0},
      {"largest value", "9223372036854775807", kMin, kMax, S::Ok, kMax},
      {"smallest value", "-9223372036854775808", kMin, kMax, S::Ok, kMin},
      {"one past the largest", "9223372036854775808", kMin, kMax, S::OutOfRange, 0},
      {"one past the smallest", "-9223372036854775809", kMin, kMax, S::OutOfRange, 0},
      {"overflows 64 bits", "99999999999999999999999", kMin, kMax, S::OutOfRange, 0},
      {"hex over 64 bits", "0x10000000000000000", kMin, kMax, S::OutOfRange, 0},
      {"leftover wins over overflow", "99999999999999999999x", kMin, kMax, S::IncorrectFormat, 0},
      {"int8 upper bound", "127", -128, 127, S::Ok, 127},
      {"int8 above", "128", -128, 127, S::OutOfRange, 0},
      {"embedded NUL is a leftover", std::string_view("5\0001", 3), kMin, kMax, S::IncorrectFormat,
       0},
  };
  for (const Case& c : cases) {
    int64_t out = 42;
    const S status = ParseSignedText(c.text, c.min, c.max, out);
    EXPECT_EQ(StatusName(status), StatusName(c.status)) << c.desc;
    EXPECT_EQ(out, c.value) << c.desc;
  }
}

TEST(NumberTextUnsigned, NegatesModuloTwoToThe64) {
  struct Case {
    const char* desc;
    std::string_view text;
    uint64_t max;
    S status;
    uint64_t value;
  };
  constexpr uint64_t kMax = UINT64_MAX;
  const Case cases[] = {
      {"minus one has no unsigned value", "-1", kMax, S::OutOfRange, 0},
      {"minus in hex", "-0x10", kMax, S::OutOfRange, 0},
      {"minus zero", "-0", kMax, S::Ok, 0},
      {"largest value", "18446744073709551615", kMax, S::Ok, kMax},
      {"largest value in hex", "0xFFFFFFFFFFFFFFFF", kMax, S::Ok, kMax},
      {"overflows 64 bits", "18446744073709551616", kMax, S::OutOfRange, 0},
      {"negative overflow is still overflow", "-18446744073709551616", kMax, S::OutOfRange, 0},
      {"uint8 above", "256", 255, S::OutOfRange, 0},
      {"octal", "0777", kMax, S::Ok, 511},
      {"trailing blank", "1 ", kMax, S::IncorrectFormat, 0},
      {"empty text", "", kMax, S::Ok, 0},
  };
  for (const Case& c : cases) {
    uint64_t out = 42;
    const S status = ParseUnsignedText(c.text, c.max, out);
    EXPECT_EQ(StatusName(status), StatusName(c.status)) << c.desc;
    EXPECT_EQ(out, c.value) << c.desc;
  }
}

TEST(NumberTextDouble, ReadsSpellingsAndRanges) {
  struct Case {
    const char* desc;
    std::string_view text;
    double max;  // the range is [-max, max]
    S status;
    double value;
  };
  constexpr double kMax = DBL_MAX;
  constexpr double kFloatMax = 3.4028234663852886e38;
  const Case cases[] = {
      {"hex float", "0x1p3", kMax, S::Ok, 8.0},
      {"hex float with fraction", "-0X1.8p1", kMax, S::Ok, -3.0},
      {"decimal with exponent", " 2.5e2", kMax, S::Ok, 250.0},
      {"plus sign and bare fraction", "+.5", kMax, S::Ok, 0.5},
      {"overflow", "1e400", kMax, S::OutOfRange, 0.0},
      {"negative overflow", "-1e400", kMax, S::OutOfRange, 0.0},
      {"hex overflow", "0x1p99999", kMax, S::OutOfRange, 0.0},
      {"rounds up to infinity", "1.7976931348623159e308", kMax, S::OutOfRange, 0.0},
      {"largest double", "1.7976931348623157e308", kMax, S::Ok, DBL_MAX},
      {"underflow reads as zero", "1e-400", kMax, S::Ok, 0.0},
      {"underflow with many leading zeros", "0.000000001e-400", kMax, S::Ok, 0.0},
      {"large mantissa, tiny exponent", "123456789e-400", kMax, S::Ok, 0.0},
      {"hex underflow", "0x1p-99999", kMax, S::Ok, 0.0},
      {"above the float range", "3.5e38", kFloatMax, S::OutOfRange, 0.0},
      {"infinity is out of range", "inf", kMax, S::OutOfRange, 0.0},
      {"trailing blank", "1.5 ", kMax, S::IncorrectFormat, 0.0},
      {"dangling exponent", "1e", kMax, S::IncorrectFormat, 0.0},
      {"two signs", "+-1", kMax, S::IncorrectFormat, 0.0},
      {"sign inside hex", "0x-1", kMax, S::IncorrectFormat, 0.0},
      {"hex prefix alone", "0x", kMax, S::IncorrectFormat, 0.0},
      {"blanks only", "  ", kMax, S::IncorrectFormat, 0.0},
      {"empty text is zero", "", kMax, S::Ok, 0.0},
  };
  for (const Case& c : cases) {
    double out = 42.0;
    const S status = ParseDoubleText(c.text, -c.max, c.max, out);
    EXPECT_EQ(StatusName(status), StatusName(c.status)) << c.desc;
    EXPECT_EQ(out, c.value) << c.desc;
  }
}

TEST(NumberTextDouble, NanPassesTheRangeCheck) {
  for (const char* text : {"nan", "-NaN", "nan(123)"}) {
    double out = 0.0;
    EXPECT_EQ(ParseDoubleText(text, -1.0, 1.0, out), S::Ok) << text;
    EXPECT_TRUE(std::isnan(out)) << text;
  }
}

TEST(NumberTextDouble, NeverReadsPastTheView) {
  // The digits after the view's end must not join the number.
  const char buffer[] = "12345";
  double d = 0.0;
  EXPECT_EQ(ParseDoubleText(std::string_view(buffer, 2), -DBL_MAX, DBL_MAX, d), S::Ok);
  EXPECT_EQ(d, 12.0);
  int64_t i = 0;
  EXPECT_EQ(ParseSignedText(std::string_view(buffer, 3), INT64_MIN, INT64_MAX, i), S::Ok);
  EXPECT_EQ(i, 123);
  // A view ending right after the hex prefix is 0 followed by x, not a hex number.
  const char hex[] = "0x1";
  EXPECT_EQ(ParseDoubleText(std::string_view(hex, 2), -DBL_MAX, DBL_MAX, d), S::IncorrectFormat);
  EXPECT_EQ(ParseSignedText(std::string_view(hex, 2), INT64_MIN, INT64_MAX, i), S::IncorrectFormat);
}

}  // namespace
}  // namespace vyn::binding
