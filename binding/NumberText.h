// Reading numbers from text by the assignment rules: optional leading white space, optional
// sign, then digits whose base follows the prefix ("0x"/"0X" hexadecimal, a leading "0" octal,
// else decimal); anything left after the number is a format error. Doubles use the classic
// locale's text-to-double conversion. Shared by value assignment and the YAML reader.
#pragma once

#include <cstdint>
#include <string_view>

namespace vyn::binding {

// The blanks of the classic locale, which the readers skip before a number.
[[nodiscard]] constexpr bool IsNumberBlank(char c) noexcept {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Whether a text starting with `c` may read as a finite number: after blanks and a sign, a
// number starts with a digit or a point ("inf" and "nan" start otherwise).
[[nodiscard]] constexpr bool MayStartFiniteNumber(char c) noexcept {
  return (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || IsNumberBlank(c);
}

enum class NumberTextStatus : uint8_t {
  Ok,
  IncorrectFormat,  // characters left after the number (trailing blanks included)
  OutOfRange,       // outside [min, max], or the value overflows 64 bits
};

// An empty text parses as 0 and is accepted.
[[nodiscard]] NumberTextStatus ParseSignedText(std::string_view text, int64_t min, int64_t max,
                                               int64_t& out);
// A minus sign before a number other than zero is out of range.
[[nodiscard]] NumberTextStatus ParseUnsignedText(std::string_view text, uint64_t max,
                                                 uint64_t& out);
// Decimal or hexadecimal digits, fraction, exponent, and the infinity and NaN spellings; an
// empty text gives 0. A result outside [min, max] or an overflow is out of range (NaN passes).
[[nodiscard]] NumberTextStatus ParseDoubleText(std::string_view text, double min, double max,
                                               double& out);

}  // namespace vyn::binding
