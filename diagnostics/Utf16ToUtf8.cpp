// UTF-16 to UTF-8 conversion, written out because the standard converters are deprecated.
#include "diagnostics/Utf16ToUtf8.h"

#include <cstdint>

namespace vyn::diagnostics {
namespace {

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t codePoint) {
  auto byte = [&out](char32_t bits) { out.push_back(static_cast<char>(static_cast<uint8_t>(bits))); };
  if (codePoint < 0x80) {
    byte(codePoint);
  } else if (codePoint < 0x800) {
    byte(0xC0 | (codePoint >> 6));
    byte(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    byte(0xE0 | (codePoint >> 12));
    byte(0x80 | ((codePoint >> 6) & 0x3F));
    byte(0x80 | (codePoint & 0x3F));
  } else {
    byte(0xF0 | (codePoint >> 18));
    byte(0x80 | ((codePoint >> 12) & 0x3F));
    byte(0x80 | ((codePoint >> 6) & 0x3F));
    byte(0x80 | (codePoint & 0x3F));
  }
}

}  // namespace

std::string Utf16ToUtf8(const char16_t* text) {
  std::string out;
  if (text == nullptr) return out;
  for (const char16_t* unit = text; *unit != u'\0'; ++unit) {
    const char32_t value = *unit;
    if (!IsHighSurrogate(value)) {
      // A stray low surrogate is kept as its own 3-byte sequence rather than failing the text.
      AppendUtf8(out, value);
      continue;
    }
    const char32_t next = unit[1];  // the terminator at worst
    if (!IsLowSurrogate(next)) return std::string();
    AppendUtf8(out, 0x10000 + ((value - 0xD800) << 10) + (next - 0xDC00));
    ++unit;
  }
  return out;
}

}  // namespace vyn::diagnostics
