// Base64 with the standard alphabet and "=" padding; decoding is lenient and never fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vyn::base {

// Encodes any bytes; the text has no line breaks.
std::string Base64Encode(const uint8_t* bytes, std::size_t length);
inline std::string Base64Encode(std::span<const uint8_t> bytes) {
  return Base64Encode(bytes.data(), bytes.size());
}

// Decodes up to the end of the text, the first "=", or the first character outside the
// alphabet, whichever comes first; the rest is ignored without an error. A final group of two or
// three characters gives one or two bytes; a single leftover character gives none. Callers that
// need strictness check the characters first.
std::vector<uint8_t> Base64Decode(std::string_view text);

}  // namespace vyn::base
