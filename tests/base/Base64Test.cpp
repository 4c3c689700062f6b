// Base64 encoding with padding, and lenient decoding that stops at the first non-alphabet byte.
#include "base/Base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vyn::base {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(Base64Encoding, PadsFinalGroups) {
  struct Case {
    const char* desc;
    std::vector<uint8_t> bytes;
    const char* text;
  };
  const Case cases[] = {
      {"empty input", {}, ""},
      {"full group", Bytes("abc"), "YWJj"},
      {"two bytes left", Bytes("ab"), "YWI="},
      {"one byte left", Bytes("a"), "YQ=="},
      {"bytes 1 2 3", {1, 2, 3}, "AQID"},
      {"high bytes use + and /", {0xFB, 0xFF, 0xBF}, "+/+/"},
      {"zeros", {0, 0, 0, 0}, "AAAAAA=="},
      {"two groups", Bytes("foobar"), "Zm9vYmFy"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Base64Encode(c.bytes.data(), c.bytes.size()), c.text) << c.desc;
    EXPECT_EQ(Base64Encode(std::span<const uint8_t>(c.bytes)), c.text) << c.desc << " (span)";
  }
}

TEST(Base64Decoding, KeepsOnlyTheValidPrefix) {
  struct Case {
    const char* desc;
    std::string text;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"empty text", "", {}},
      {"full group", "YWJj", Bytes("abc")},
      {"one pad", "YWI=", Bytes("ab")},
      {"no padding needed", "YQ", Bytes("a")},
      {"garbage after padding", "YQ==garbage", Bytes("a")},
      {"blank in the middle", "YWJj YWJj", Bytes("abc")},
      {"blank splits a group", "YW Jj", Bytes("a")},
      {"single character", "Y", {}},
      {"group and one leftover", "YWJjZ", Bytes("abc")},
      {"three characters", "YWI", Bytes("ab")},
      {"high alphabet", "+/+/", {0xFB, 0xFF, 0xBF}},
      {"embedded NUL stops", std::string("YW\0Jj", 5), Bytes("a")},
      {"non-ASCII byte stops", "YWJj\xC3\xA9YWJj", Bytes("abc")},
      {"URL-safe alphabet is not accepted", "-_", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Base64Decode(c.text), c.bytes) << c.desc;
  }
}

TEST(Base64RoundTrip, EveryByteValueAndLength) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<uint8_t>(255 - i));
  for (std::size_t length = 0; length <= bytes.size(); length += 1) {
    const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<long>(length));
    const std::string text = Base64Encode(prefix.data(), prefix.size());
    ASSERT_EQ(text.size(), (length + 2) / 3 * 4) << "length " << length;
    ASSERT_EQ(Base64Decode(text), prefix) << "length " << length;
  }
}

}  // namespace
}  // namespace vyn::base
