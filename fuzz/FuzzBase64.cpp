// Fuzzes Base64 in both directions. The input is taken once as text to decode, which gives no more
// bytes than its groups hold, and once as bytes to encode: they must survive encode then decode,
// and encoded text must be padded alphabet characters of the right length.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Base64.h"
#include "fuzz/FuzzSupport.h"

namespace {

using vyn::fuzz::Violated;

void CheckEncoded(const std::string& text, std::size_t byteCount) {
  if (text.size() != (byteCount + 2) / 3 * 4) Violated("encoded length is not 4 * ceil(n / 3)");
  const std::size_t padding = (3 - byteCount % 3) % 3;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((c == '=') != (i >= text.size() - padding)) Violated("padding in the wrong place");
    if (c != '=' && !std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/') {
      Violated("character outside alphabet");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // Decoding stops at the first character outside the alphabet: at most the whole text's groups.
  const std::vector<uint8_t> decoded =
      vyn::base::Base64Decode(std::string_view(reinterpret_cast<const char*>(data), size));
  if (decoded.size() > (size + 3) / 4 * 3) Violated("more bytes decoded than the text can hold");

  const std::string encoded = vyn::base::Base64Encode(data, size);
  CheckEncoded(encoded, size);
  const std::vector<uint8_t> back = vyn::base::Base64Decode(encoded);
  if (!std::equal(back.begin(), back.end(), data, data + size)) {
    Violated("Decode(Encode(bytes)) changed bytes");
  }
  return 0;
}
