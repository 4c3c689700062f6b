// Percent-encoding, percent-decoding and query splitting.
#include "routing/PercentCoding.h"

#include <cstdint>
#include <utility>

namespace vyn::routing {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '~';
}

// 16 for anything that is not a hexadecimal digit; see PercentDecode for what that yields.
unsigned HexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 16;
}

}  // namespace

std::string PercentEncode(std::string_view text) {
  std::string encoded;
  encoded.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsUnreserved(byte)) {
      encoded.push_back(c);
    } else {
      encoded.push_back('%');
      encoded.push_back(kHexDigits[byte >> 4]);
      encoded.push_back(kHexDigits[byte & 0x0F]);
    }
  }
  return encoded;
}

std::string PercentDecode(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      decoded.push_back(' ');
    } else if (c == '%') {
      if (text.size() - i < 3) continue;  // too short to be an escape: drop the "%"
      const unsigned high = HexValue(text[i + 1]);
      const unsigned low = HexValue(text[i + 2]);
      decoded.push_back(static_cast<char>(static_cast<uint8_t>(((high << 4) & 0xFF) | low)));
      i += 2;
    } else {
      decoded.push_back(c);
    }
  }
  return decoded;
}

std::string_view QueryText(std::string_view path) {
  const std::size_t mark = path.find('?');
  return mark == std::string_view::npos ? std::string_view{} : path.substr(mark + 1);
}

QueryParameters ParseQuery(std::string_view query) {
  QueryParameters parameters;
  while (true) {
    const std::size_t end = query.find('&');
    const std::string_view item = query.substr(0, end);
    if (!item.empty()) {
      const std::size_t equals = item.find('=');
      std::string name = PercentDecode(item.substr(0, equals));
      std::string value =
          equals == std::string_view::npos ? std::string{} : PercentDecode(item.substr(equals + 1));
      parameters.insert_or_assign(std::move(name), std::move(value));
    }
    if (end == std::string_view::npos) break;
    query.remove_prefix(end + 1);
  }
  return parameters;
}

}  // namespace vyn::routing
