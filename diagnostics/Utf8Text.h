// The check that a text is well-formed UTF-8, made where text from outside enters the plugin
// (bodies, typed values, decoded path and query values), so that every text the plugin holds,
// and so writes as JSON or uploads, is valid UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vyn::diagnostics {

namespace utf8_detail {

inline constexpr uint64_t kHighBits = 0x8080808080808080ull;

inline uint64_t Load64(const char* at) noexcept {
  uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

inline uint32_t Load32(const char* at) noexcept {
  uint32_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// The full check from `start`, where the ASCII run before it ends.
std::size_t FindInvalidUtf8From(const char* text, std::size_t length, std::size_t start) noexcept;

}  // namespace utf8_detail

// The offset of the first byte that does not start a well-formed UTF-8 sequence, or
// std::string_view::npos when every byte is part of one. Well-formed is the standard's
// definition (Unicode table 3-7): no overlong forms (C0, C1, E0 80..9F, F0 80..8F), no surrogates
// (ED A0..BF), nothing above U+10FFFF (F4 90..BF, F5..FF), no stray continuation bytes and no
// sequence cut short by the end of the text. A NUL byte is valid UTF-8. One pass, eight ASCII
// bytes at a time, no allocation.
inline std::size_t FindInvalidUtf8(const char* text, std::size_t length) noexcept {
  using utf8_detail::FindInvalidUtf8From;
  using utf8_detail::kHighBits;
  using utf8_detail::Load32;
  using utf8_detail::Load64;
  // Inline, because most texts are short ASCII names and words, for which a call would cost more
  // than the check: eight bytes at a time, the last word overlapping the one before, and texts
  // shorter than eight bytes in two overlapping loads. The first byte above 0x7F hands over to the
  // full check at the start of its word.
  if (length < 8) {
    if (length >= 4) {
      if (((Load32(text) | Load32(text + length - 4)) & 0x80808080u) == 0) {
        return std::string_view::npos;
      }
    } else if (length == 0 ||
               static_cast<unsigned char>(text[0] | text[length / 2] | text[length - 1]) < 0x80) {
      return std::string_view::npos;
    }
    return FindInvalidUtf8From(text, length, 0);
  }
  std::size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    if ((Load64(text + i) & kHighBits) != 0) return FindInvalidUtf8From(text, length, i);
  }
  if (i < length && (Load64(text + length - 8) & kHighBits) != 0) {
    return FindInvalidUtf8From(text, length, i);
  }
  return std::string_view::npos;
}

inline std::size_t FindInvalidUtf8(std::string_view text) noexcept {
  return FindInvalidUtf8(text.data(), text.size());
}

inline bool IsValidUtf8(std::string_view text) noexcept {
  return FindInvalidUtf8(text.data(), text.size()) == std::string_view::npos;
}

}  // namespace vyn::diagnostics
