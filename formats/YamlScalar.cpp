// YAML scalars typed by their tag, or by their text: null words, booleans, integers read exactly,
// floats, strings.
#include "formats/YamlScalar.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <span>
#include <string_view>
#include <system_error>

#include <yaml.h>

#include "binding/NumberText.h"
#include "diagnostics/FormatText.h"

namespace vyn::formats {

using binding::BindingProperty;
using binding::BindingResult;
using binding::NumberTextStatus;
using diagnostics::FormatText;

namespace {

constexpr std::string_view kNullWords[] = {"", "~", "null", "Null", "NULL"};
constexpr std::string_view kTrueWords[] = {"true", "True", "TRUE", "y",  "Y", "yes",
                                           "Yes",  "YES",  "on",   "On", "ON"};
constexpr std::string_view kFalseWords[] = {"false", "False", "FALSE", "n",   "N",  "no",
                                            "No",    "NO",    "off",   "Off", "OFF"};

constexpr std::size_t kLongestWord = 5;  // "false"
constexpr bool FitLongestWord(std::span<const std::string_view> words) {
  return std::ranges::all_of(words, [](std::string_view w) { return w.size() <= kLongestWord; });
}
static_assert(FitLongestWord(kNullWords) && FitLongestWord(kTrueWords) &&
              FitLongestWord(kFalseWords));

template <std::size_t N>
bool IsWord(std::string_view text, const std::string_view (&words)[N]) {
  return std::find(std::begin(words), std::end(words), text) != std::end(words);
}

void SetNumberError(BindingResult& result, NumberTextStatus status, std::string_view text,
                    const char* typeName) {
  const char* format = status == NumberTextStatus::OutOfRange
                           ? "Value %1 for '%2' of type %3 is out of range"
                           : "Value %1 for '%2' of type %3 is in an incorrect format";
  result.SetError(FormatText(format, text, "yaml", typeName));
}

enum class PlainInteger { NotInteger, Stored, TooLarge };

// A plain decimal or "0x" integer, read exactly: going through a double would round every
// integer above 2^53 (9007199254740993 would read as ...992), and could round a literal just
// outside the 64-bit ranges back into them.
PlainInteger ResolvePlainInteger(std::string_view text, BindingProperty& slot) {
  std::size_t i = 0;
  while (i < text.size() && binding::IsNumberBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (text.size() - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  // from_chars would take a second sign; only digits may follow.
  if (i == text.size() || text[i] == '+' || text[i] == '-') return PlainInteger::NotInteger;
  uint64_t magnitude = 0;
  const char* const end = text.data() + text.size();
  const std::from_chars_result parsed = std::from_chars(text.data() + i, end, magnitude, base);
  if (parsed.ptr != end || parsed.ec == std::errc::invalid_argument) {
    return PlainInteger::NotInteger;
  }
  if (parsed.ec == std::errc::result_out_of_range) return PlainInteger::TooLarge;
  if (!negative || magnitude == 0) {
    slot.setUnsigned(magnitude);  // "-0" is unsigned 0, as the double -0.0 is not negative
  } else if (magnitude <= uint64_t{1} << 63) {
    slot.setSigned(static_cast<int64_t>(0 - magnitude));
  } else {
    return PlainInteger::TooLarge;
  }
  return PlainInteger::Stored;
}

// A plain scalar that reads entirely as a finite number. Integral values outside the 64-bit
// ranges (1e30, -1e30, 18446744073709551616) are kept as floats: a wrapped or clamped integer
// would be a different number.
bool ResolvePlainNumber(std::string_view text, BindingProperty& slot) {
  if (text.empty()) return false;
  const PlainInteger integer = ResolvePlainInteger(text, slot);
  if (integer == PlainInteger::Stored) return true;
  double x = 0.0;
  if (binding::ParseDoubleText(text, -DBL_MAX, DBL_MAX, x) != NumberTextStatus::Ok ||
      !std::isfinite(x)) {
    return false;
  }
  constexpr double kTwoTo63 = 9223372036854775808.0;
  constexpr double kTwoTo64 = 18446744073709551616.0;
  if (integer == PlainInteger::TooLarge || std::trunc(x) != x) {
    slot.setFloat(x);
  } else if (x < 0) {
    if (x >= -kTwoTo63) {
      slot.setSigned(static_cast<int64_t>(x));
    } else {
      slot.setFloat(x);
    }
  } else if (x < kTwoTo64) {
    slot.setUnsigned(static_cast<uint64_t>(x));
  } else {
    slot.setFloat(x);
  }
  return true;
}

}  // namespace

void ResolveYamlScalar(BindingResult& result, BindingProperty& slot, const char* tag,
                       const char* text, std::size_t length, bool quoted) {
  if (!result.ok()) return;
  const std::string_view value = length == 0 ? std::string_view() : std::string_view(text, length);
  if (tag != nullptr) {
    const std::string_view tagText(tag);
    if (tagText == YAML_STR_TAG) {
      slot.setString(value);
    } else if (tagText == YAML_INT_TAG) {
      // Only a leading minus selects the signed reading, so the unsigned range stays whole.
      if (!value.empty() && value[0] == '-') {
        int64_t number = 0;
        const NumberTextStatus status =
            binding::ParseSignedText(value, INT64_MIN, INT64_MAX, number);
        if (status == NumberTextStatus::Ok) {
          slot.setSigned(number);
        } else {
          SetNumberError(result, status, value, "int64_t");
        }
      } else {
        uint64_t number = 0;
        const NumberTextStatus status = binding::ParseUnsignedText(value, UINT64_MAX, number);
        if (status == NumberTextStatus::Ok) {
          slot.setUnsigned(number);
        } else {
          SetNumberError(result, status, value, "uint64_t");
        }
      }
    } else if (tagText == YAML_FLOAT_TAG) {
      double number = 0.0;
      const NumberTextStatus status = binding::ParseDoubleText(value, -DBL_MAX, DBL_MAX, number);
      if (status == NumberTextStatus::Ok) {
        slot.setFloat(number);
      } else {
        SetNumberError(result, status, value, "double");
      }
    } else if (tagText == YAML_BOOL_TAG) {
      // Any other text leaves the slot as it was, without an error.
      if (IsWord(value, kTrueWords)) {
        slot.setBool(true);
      } else if (IsWord(value, kFalseWords)) {
        slot.setBool(false);
      }
    } else {
      result.SetError(FormatText("Unsupported YAML tag '%1'.", tagText));
    }
    return;
  }
  if (quoted) {
    slot.setString(value);
    return;
  }
  // Most plain scalars are text: a scalar is looked up among the words only when it is as short
  // as they are, and read as a number only when it starts as a finite number can.
  const bool word = value.size() <= kLongestWord;
  if (word && IsWord(value, kNullWords)) {
    slot.reset();
    return;
  }
  if (binding::MayStartFiniteNumber(value[0]) && ResolvePlainNumber(value, slot)) return;
  if (word && IsWord(value, kTrueWords)) {
    slot.setBool(true);
  } else if (word && IsWord(value, kFalseWords)) {
    slot.setBool(false);
  } else {
    slot.setString(value);
  }
}

}  // namespace vyn::formats
