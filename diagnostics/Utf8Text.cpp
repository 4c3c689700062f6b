// The UTF-8 check past the first byte above 0x7F: a word-at-a-time skip over ASCII runs, and the
// standard's table for every other sequence.
#include "diagnostics/Utf8Text.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace vyn::diagnostics::utf8_detail {

std::size_t FindInvalidUtf8From(const char* text, std::size_t length, std::size_t start) noexcept {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::size_t i = start;
  while (i < length) {
    if (length - i >= 8) {
      uint64_t word;
      std::memcpy(&word, bytes + i, sizeof word);
      const uint64_t high = word & kHighBits;
      if (high == 0) {
        i += 8;
        continue;
      }
      // Straight to the first byte that is not ASCII: the lowest set bit on a little-endian
      // machine; elsewhere the byte loop below walks there.
      if constexpr (std::endian::native == std::endian::little) {
        i += static_cast<std::size_t>(std::countr_zero(high)) / 8;
      }
    }
    const unsigned char lead = bytes[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    // The second byte has a narrower range after E0, ED, F0 and F4; every other continuation
    // byte is 80..BF.
    std::size_t size;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      size = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      size = 3;
      if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
      if (lead == 0xED) high = 0x9F;  // surrogates U+D800..U+DFFF
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      size = 4;
      if (lead == 0xF0) low = 0x90;   // overlong below U+10000
      if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      return i;  // a continuation byte, C0, C1 or F5..FF
    }
    if (length - i < size) return i;
    const unsigned char second = bytes[i + 1];
    if (second < low || second > high) return i;
    for (std::size_t k = 2; k < size; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return i;
    }
    i += size;
  }
  return std::string_view::npos;
}

}  // namespace vyn::diagnostics::utf8_detail
