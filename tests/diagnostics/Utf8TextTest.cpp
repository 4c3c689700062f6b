// The UTF-8 check at the standard's boundaries, at every offset of the word-at-a-time paths.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "diagnostics/Utf8Text.h"

namespace vyn::diagnostics {
namespace {

constexpr std::size_t kValid = std::string_view::npos;

TEST(Utf8TextCheck, FindsTheFirstBadByteAtTheStandardsBoundariesAndEveryOffset) {
  // "^" marks the first bad byte. Each text after 0 to 16 ASCII bytes, at the end of the text
  // and followed by nine more and a bad byte.
  const std::string_view texts[] = {
      // Up to three bytes.
      "\x7F", "^\x80", "a^\xBF", "^\xC1\xBF", "\xC2\x80", "\xDF\xBF", "^\xC3 ", "^\xE0\x9F\xBF",
      "\xE0\xA0\x80", "^\xE1\x7F\x80", "^\xE1\xC0\x80", "\xEC\xBF\xBF", "\xED\x9F\xBF",
      // Surrogates, the last three-byte character, four bytes and more, texts cut short.
      "^\xED\xA0\x80", "\xEF\xBF\xBF", "^\xE2\x82 ", "^\xF0\x8F\xBF\xBF", "\xF0\x90\x80\x80",
      "\xF4\x8F\xBF\xBF", "^\xF4\x90\x80\x80", "^\xF5\x80\x80\x80", "^\xFF", "^\xF0\x9F\x98 ",
      "^\xF0\x9F\x98\xC0", "ab^\xF0\x9F\x98", "\xC3\xA9^\xA9"};
  for (const std::string_view c : texts) {
    const std::size_t bad = c.find('^');
    for (std::size_t at = 0; at <= 16; ++at) {
      std::string text = std::string(at, 'a').append(c);
      if (bad != kValid) text.erase(at + bad, 1);
      const std::string more = text + "bbbbbbbbb\xFF";
      EXPECT_EQ(FindInvalidUtf8(text), bad == kValid ? kValid : at + bad) << text;
      EXPECT_EQ(FindInvalidUtf8(more), bad == kValid ? more.size() - 1 : at + bad) << more;
      EXPECT_EQ(IsValidUtf8(text), bad == kValid) << text;
    }
  }
  EXPECT_EQ(FindInvalidUtf8(std::string_view("a\0b\0", 4)), kValid) << "NUL bytes are text";
}

}  // namespace
}  // namespace vyn::diagnostics
