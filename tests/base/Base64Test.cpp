// Base64 encoding with padding, and lenient decoding that stops at the first non-alphabet byte.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/Base64.h"

namespace vyn::base {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(Base64, EncodesWithPaddingAndDecodesTheValidPrefix) {
  // Bytes and their text.
  const std::pair<std::string, std::string> encoded[] = {
      {"", ""},      {"abc", "YWJj"},          {"ab", "YWI="},
      {"a", "YQ=="}, {"\xFB\xFF\xBF", "+/+/"}, {"foobar", "Zm9vYmFy"},
  };
  const std::pair<std::string, std::string> decoded[] = {
      {"a", "YQ"},          {"ab", "YWI"},     {"", "Y"},
      {"abc", "YWJjZ"},     {"a", "YQ==YWJj"}, {"a", "YW Jj"},
      {"abc", "YWJj YWJj"}, {"", "-_"},        {"abc", "YWJj\xC3\xA9YWJj"},
  };
  for (const auto& [bytes, text] : encoded) EXPECT_EQ(Base64Encode(Bytes(bytes)), text) << text;
  for (const auto& [bytes, text] : decoded) EXPECT_EQ(Base64Decode(text), Bytes(bytes)) << text;
  EXPECT_EQ(Base64Decode(std::string_view("YW\0Jj", 5)), Bytes("a")) << "a NUL ends the text";
}

TEST(Base64, RoundTripsEveryByteValueAndLength) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<uint8_t>(255 - i));
  for (std::size_t length = 0; length <= bytes.size(); ++length) {
    const std::string text = Base64Encode(bytes.data(), length);
    ASSERT_EQ(text.size(), (length + 2) / 3 * 4) << "length " << length;
    ASSERT_EQ(Base64Decode(text), std::vector<uint8_t>(bytes.begin(), bytes.begin() + length))
        << "length " << length;
  }
}

}  // namespace
}  // namespace vyn::base
