// The UTF-8 check: the standard's boundaries, every kind of ill-formed sequence, and the eight-byte
// ASCII path with the first bad byte at every offset.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "diagnostics/Utf8Text.h"

namespace vyn::diagnostics {
namespace {

constexpr std::size_t kValid = std::string_view::npos;

// The same check written the slow way: decode each sequence by its bit pattern, then refuse
// overlong forms, surrogates and code points above U+10FFFF by their value.
std::size_t ReferenceFindInvalid(std::string_view text) {
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t size = 1;
    uint32_t codePoint = lead;
    if (lead >= 0x80) {
      if ((lead & 0xE0) == 0xC0) {
        size = 2;
        codePoint = lead & 0x1Fu;
      } else if ((lead & 0xF0) == 0xE0) {
        size = 3;
        codePoint = lead & 0x0Fu;
      } else if ((lead & 0xF8) == 0xF0) {
        size = 4;
        codePoint = lead & 0x07u;
      } else {
        return i;
      }
      if (text.size() - i < size) return i;
      for (std::size_t k = 1; k < size; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return i;
        codePoint = (codePoint << 6) | (next & 0x3Fu);
      }
      if (codePoint < kSmallest[size] || codePoint > 0x10FFFF ||
          (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return i;
      }
    }
    i += size;
  }
  return kValid;
}

TEST(Utf8TextCheck, BoundariesOfTheStandardTable) {
  const struct {
    const char* desc;
    std::string_view text;
    std::size_t invalidAt;
  } cases[] = {
      {"empty", "", kValid},
      {"ASCII", "abc", kValid},
      {"NUL bytes are valid", std::string_view("a\0b\0", 4), kValid},
      {"largest one-byte 7F", "\x7F", kValid},
      {"80 alone is a continuation byte", "\x80", 0},
      {"BF alone", "a\xBF", 1},
      {"smallest two-byte C2 80", "\xC2\x80", kValid},
      {"largest two-byte DF BF", "\xDF\xBF", kValid},
      {"overlong C0 80", "\xC0\x80", 0},
      {"overlong C1 BF", "x\xC1\xBF", 1},
      {"two-byte without its tail", "\xC3 ", 0},
      {"smallest three-byte E0 A0 80", "\xE0\xA0\x80", kValid},
      {"overlong E0 80 80", "\xE0\x80\x80", 0},
      {"overlong E0 9F BF", "\xE0\x9F\xBF", 0},
      {"last before the surrogates ED 9F BF", "\xED\x9F\xBF", kValid},
      {"first surrogate ED A0 80", "\xED\xA0\x80", 0},
      {"low surrogate ED B0 80", "ab\xED\xB0\x80", 2},
      {"last surrogate ED BF BF", "\xED\xBF\xBF", 0},
      {"first after the surrogates EE 80 80", "\xEE\x80\x80", kValid},
      {"largest three-byte EF BF BF", "\xEF\xBF\xBF", kValid},
      {"three-byte with a bad third byte", "\xE2\x82 ", 0},
      {"smallest four-byte F0 90 80 80", "\xF0\x90\x80\x80", kValid},
      {"overlong F0 80 80 80", "\xF0\x80\x80\x80", 0},
      {"overlong F0 8F BF BF", "\xF0\x8F\xBF\xBF", 0},
      {"largest code point F4 8F BF BF", "\xF4\x8F\xBF\xBF", kValid},
      {"above U+10FFFF F4 90 80 80", "\xF4\x90\x80\x80", 0},
      {"F5 lead", "\xF5\x80\x80\x80", 0},
      {"FF", "\xFF", 0},
      {"FE FF", "a\xFE\xFF", 1},
      {"four-byte with a bad fourth byte", "\xF0\x9F\x98 ", 0},
      {"truncated two-byte at the end", "ab\xC3", 2},
      {"truncated three-byte at the end", "ab\xE2\x82", 2},
      {"truncated four-byte at the end", "ab\xF0\x9F\x98", 2},
      {"continuation after a complete sequence", "\xC3\xA9\xA9", 2},
      {"mixed valid text", "h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80!", kValid},
      {"first of several errors", "ok\xC3\xA9\xFF\xFF", 4},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindInvalidUtf8(c.text), c.invalidAt) << c.desc;
    EXPECT_EQ(IsValidUtf8(c.text), c.invalidAt == kValid) << c.desc;
  }
  EXPECT_EQ(FindInvalidUtf8(nullptr, 0), kValid);
}

TEST(Utf8TextCheck, FindsTheFirstBadByteAtEveryOffsetOfALongRun) {
  for (std::size_t at = 0; at <= 16; ++at) {
    for (const std::string_view bad : {"\xFF", "\x80", "\xC0\x80", "\xED\xA0\x80", "\xE2\x82"}) {
      std::string text(at, 'a');
      text += bad;
      const std::string atEnd = text;
      text += std::string(20, 'b');
      EXPECT_EQ(FindInvalidUtf8(text), at) << "offset " << at << ", " << bad.size() << " bytes";
      EXPECT_EQ(FindInvalidUtf8(atEnd), at) << "offset " << at << " at the end";
    }
    // A valid sequence at every offset, across the eight-byte steps, then an error further on.
    for (const std::string_view good : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
      const std::string text = std::string(at, 'a') + std::string(good) + std::string(9, 'b');
      EXPECT_EQ(FindInvalidUtf8(text), kValid) << "offset " << at << ", " << good.size();
      EXPECT_EQ(FindInvalidUtf8(text + "\xFF"), text.size()) << "offset " << at;
      // Cut short by the end of the text, at every offset.
      const std::string cut = std::string(at, 'a') + std::string(good.substr(0, good.size() - 1));
      EXPECT_EQ(FindInvalidUtf8(cut), at) << "cut at offset " << at << ", " << good.size();
    }
  }
  EXPECT_EQ(FindInvalidUtf8(std::string(1000, 'x')), kValid);
}

TEST(Utf8TextCheck, AgreesWithADecodingReference) {
  // Every sequence of up to three bytes that starts with a byte of a multi-byte lead or above, and
  // four-byte sequences over every lead and second byte with the edges of the continuation range
  // after them; each alone and behind seven ASCII bytes, so that both paths see it.
  char buffer[16] = "abcdefg";
  std::size_t checked = 0;
  auto check = [&](const unsigned char* bytes, std::size_t size) {
    std::memcpy(buffer + 7, bytes, size);
    const std::string_view alone(buffer + 7, size);
    const std::string_view behind(buffer, 7 + size);
    const std::size_t expected = ReferenceFindInvalid(alone);
    ASSERT_EQ(FindInvalidUtf8(alone), expected) << std::hex << int{bytes[0]} << " " << size;
    ASSERT_EQ(FindInvalidUtf8(behind), expected == kValid ? kValid : expected + 7)
        << std::hex << int{bytes[0]} << " " << size;
    ++checked;
  };
  unsigned char bytes[4];
  for (unsigned first = 0; first < 256; ++first) {
    bytes[0] = static_cast<unsigned char>(first);
    check(bytes, 1);
    for (unsigned second = 0; second < 256; ++second) {
      bytes[1] = static_cast<unsigned char>(second);
      check(bytes, 2);
      if (first < 0xC0) continue;
      for (unsigned third = 0; third < 256; ++third) {
        bytes[2] = static_cast<unsigned char>(third);
        check(bytes, 3);
      }
      if (first < 0xF0) continue;
      for (const unsigned third : {0x7Fu, 0x80u, 0xBFu, 0xC0u}) {
        for (const unsigned fourth : {0x7Fu, 0x80u, 0xBFu, 0xC0u}) {
          bytes[2] = static_cast<unsigned char>(third);
          bytes[3] = static_cast<unsigned char>(fourth);
          check(bytes, 4);
        }
      }
    }
  }
  EXPECT_GT(checked, 4000000u);
}

}  // namespace
}  // namespace vyn::diagnostics
