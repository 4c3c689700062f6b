// Number texts read by hand and with std::from_chars, so that neither the process locale nor a
// missing NUL terminator can change what a text means.
#include "binding/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <system_error>

namespace vyn::binding {
namespace {

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

bool IsHexDigit(char c) { return DigitValue(c) < 16; }

std::size_t SkipSpace(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsNumberBlank(text[i])) ++i;
  return i;
}

// An integer text as the C library's base-0 reading sees it. A text without digits converts
// nothing, so all of it (blanks and sign included) counts as left over.
struct IntegerScan {
  bool negative = false;
  bool overflow = false;  // the digits exceed 64 bits
  uint64_t magnitude = 0;
  std::size_t end = 0;  // index of the first character not part of the number
};

IntegerScan ScanInteger(std::string_view text) {
  IntegerScan scan;
  std::size_t i = SkipSpace(text);
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    scan.negative = text[i] == '-';
    ++i;
  }
  unsigned base = 10;
  if (i < text.size() && text[i] == '0') {
    // "0x" only counts as a prefix when a hexadecimal digit follows; "0x" alone is the number 0
    // followed by the letter x.
    if (i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        IsHexDigit(text[i + 2])) {
      base = 16;
      i += 2;
    } else {
      base = 8;
    }
  }
  const std::size_t digitsStart = i;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i]);
    if (digit >= static_cast<int>(base)) break;
    const uint64_t d = static_cast<uint64_t>(digit);
    if (scan.magnitude > (UINT64_MAX - d) / base) {
      scan.overflow = true;  // keep consuming: the digits still belong to the number
    } else {
      scan.magnitude = scan.magnitude * base + d;
    }
  }
  scan.end = i == digitsStart ? 0 : i;
  return scan;
}

// Whether a decimal (or, with `hex`, hexadecimal) floating text that from_chars found out of
// range is too large rather than too small. Only the order of magnitude matters: the two ends of
// the double range lie hundreds of decimal orders apart.
bool IsTooLarge(std::string_view body, bool hex) {
  const unsigned base = hex ? 16 : 10;
  int64_t integerDigits = 0;  // significant digits before the point
  int64_t leadingZeros = 0;   // zeros after the point before the first significant digit
  bool significant = false;
  bool afterPoint = false;
  std::size_t i = 0;
  for (; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '.') {
      afterPoint = true;
      continue;
    }
    if (DigitValue(c) >= static_cast<int>(base)) break;
    if (!afterPoint) {
      if (significant || c != '0') {
        significant = true;
        ++integerDigits;
      }
    } else if (!significant) {
      if (c == '0') {
        ++leadingZeros;
      } else {
        significant = true;
      }
    }
  }
  int64_t order = integerDigits > 0 ? integerDigits - 1 : -(leadingZeros + 1);
  if (hex) order *= 4;  // the exponent of a hexadecimal text counts binary places

  int64_t exponent = 0;
  if (i < body.size() &&
      (hex ? (body[i] == 'p' || body[i] == 'P') : (body[i] == 'e' || body[i] == 'E'))) {
    ++i;
    bool negative = false;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) {
      negative = body[i] == '-';
      ++i;
    }
    constexpr int64_t kSaturated = int64_t{1} << 50;
    for (; i < body.size() && IsDecimalDigit(body[i]); ++i) {
      if (exponent < kSaturated) exponent = exponent * 10 + (body[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  return order + exponent >= 0;
}

}  // namespace

NumberTextStatus ParseSignedText(std::string_view text, int64_t min, int64_t max, int64_t& out) {
  out = 0;
  const IntegerScan scan = ScanInteger(text);
  if (scan.end != text.size()) return NumberTextStatus::IncorrectFormat;
  if (scan.overflow) return NumberTextStatus::OutOfRange;
  constexpr uint64_t kMagnitudeOfMin = uint64_t{1} << 63;
  int64_t value = 0;
  if (scan.negative) {
    if (scan.magnitude > kMagnitudeOfMin) return NumberTextStatus::OutOfRange;
    value = static_cast<int64_t>(0 - scan.magnitude);  // wraps to INT64_MIN for 2^63
  } else {
    if (scan.magnitude > static_cast<uint64_t>(INT64_MAX)) return NumberTextStatus::OutOfRange;
    value = static_cast<int64_t>(scan.magnitude);
  }
  if (value < min || value > max) return NumberTextStatus::OutOfRange;
  out = value;
  return NumberTextStatus::Ok;
}

NumberTextStatus ParseUnsignedText(std::string_view text, uint64_t max, uint64_t& out) {
  out = 0;
  const IntegerScan scan = ScanInteger(text);
  if (scan.end != text.size()) return NumberTextStatus::IncorrectFormat;
  if (scan.overflow) return NumberTextStatus::OutOfRange;
  // A negative number has no unsigned value: wrapping "-1" to 2^64 - 1 would turn a refused
  // number into a valid-looking huge one. "-0" is zero.
  if (scan.negative && scan.magnitude != 0) return NumberTextStatus::OutOfRange;
  const uint64_t value = scan.magnitude;
  if (value > max) return NumberTextStatus::OutOfRange;
  out = value;
  return NumberTextStatus::Ok;
}

NumberTextStatus ParseDoubleText(std::string_view text, double min, double max, double& out) {
  out = 0.0;
  if (text.empty()) return NumberTextStatus::Ok;
  std::size_t i = SkipSpace(text);
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::string_view body = text.substr(i);
  // from_chars takes a sign of its own and no "0x": both are dealt with here, so a second sign
  // ("--1", "0x-1") must not slip through to it.
  const bool hex = body.size() >= 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X') &&
                   (body.size() == 2 || IsHexDigit(body[2]) || body[2] == '.');
  if (hex) body.remove_prefix(2);
  if (body.empty() || body[0] == '+' || body[0] == '-') return NumberTextStatus::IncorrectFormat;

  double value = 0.0;
  const char* const end = body.data() + body.size();
  const std::from_chars_result parsed = std::from_chars(
      body.data(), end, value, hex ? std::chars_format::hex : std::chars_format::general);
  if (parsed.ec == std::errc::invalid_argument || parsed.ptr != end) {
    return NumberTextStatus::IncorrectFormat;
  }
  if (parsed.ec == std::errc::result_out_of_range) {
    // Too small a magnitude is not an error: like the C library, it reads as zero.
    if (IsTooLarge(body, hex)) return NumberTextStatus::OutOfRange;
    value = 0.0;
  }
  if (negative) value = -value;
  if (!std::isnan(value) && (value < min || value > max)) return NumberTextStatus::OutOfRange;
  out = value;
  return NumberTextStatus::Ok;
}

}  // namespace vyn::binding
