// Base64 coding over the standard alphabet.
#include "base/Base64.h"

#include <array>

namespace vyn::base {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kInvalid = 0xFF;

constexpr std::array<uint8_t, 256> MakeValues() {
  std::array<uint8_t, 256> values{};
  for (auto& value : values) value = kInvalid;
  for (uint8_t i = 0; i < 64; ++i) values[static_cast<unsigned char>(kAlphabet[i])] = i;
  return values;
}
constexpr std::array<uint8_t, 256> kValues = MakeValues();

}  // namespace

std::string Base64Encode(const uint8_t* bytes, std::size_t length) {
  std::string text;
  if (length == 0) return text;
  text.reserve((length + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    const uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    text.push_back(kAlphabet[group >> 18]);
    text.push_back(kAlphabet[(group >> 12) & 63]);
    text.push_back(kAlphabet[(group >> 6) & 63]);
    text.push_back(kAlphabet[group & 63]);
  }
  const std::size_t rest = length - i;
  if (rest != 0) {
    const uint32_t group =
        (uint32_t{bytes[i]} << 16) | (rest == 2 ? uint32_t{bytes[i + 1]} << 8 : 0u);
    text.push_back(kAlphabet[group >> 18]);
    text.push_back(kAlphabet[(group >> 12) & 63]);
    text.push_back(rest == 2 ? kAlphabet[(group >> 6) & 63] : '=');
    text.push_back('=');
  }
  return text;
}

std::vector<uint8_t> Base64Decode(std::string_view text) {
  std::vector<uint8_t> bytes;
  bytes.reserve((text.size() + 3) / 4 * 3);
  uint32_t group = 0;
  std::size_t count = 0;
  for (const char c : text) {
    const uint8_t value = kValues[static_cast<unsigned char>(c)];
    if (value == kInvalid) break;  // "=" included: padding ends the data
    group = (group << 6) | value;
    if (++count == 4) {
      bytes.push_back(static_cast<uint8_t>(group >> 16));
      bytes.push_back(static_cast<uint8_t>(group >> 8));
      bytes.push_back(static_cast<uint8_t>(group));
      group = 0;
      count = 0;
    }
  }
  if (count == 2) {
    bytes.push_back(static_cast<uint8_t>(group >> 4));
  } else if (count == 3) {
    bytes.push_back(static_cast<uint8_t>(group >> 10));
    bytes.push_back(static_cast<uint8_t>(group >> 2));
  }
  return bytes;
}

}  // namespace vyn::base
