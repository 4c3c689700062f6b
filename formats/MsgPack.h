// Reading MessagePack bodies into generic values: one value per call, decoded iteratively so that
// nesting depth never reaches the native stack. The plugin only reads MessagePack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "binding/BindingProperty.h"

namespace vyn::formats {

// The deepest nesting of arrays and maps ParseMsgPack accepts (the root container is level 1), the
// same as the JSON reader's kMaxJsonDepth. Reading needs no native stack per level, but value
// trees are released, copied and converted recursively elsewhere, and a hostile body of 100 KB
// could otherwise nest 100,000 levels. The header of a container that would open a deeper level
// fails with "Invalid MessagePack data. Nesting deeper than 1000 levels at position <offset of
// that header>."
inline constexpr std::size_t kMaxMsgPackDepth = 1000;

// Reads exactly one value from the start of the buffer; bytes after it are not looked at.
// `consumed` receives the bytes used (0 for an empty buffer); after a failure it holds the position
// where reading stopped. An empty buffer (or a null pointer) gives an empty value with ok set.
//
// Positive fixints read as signed, uint 8..64 as unsigned; nil leaves an empty value; map keys must
// be strings and a repeated key keeps the later value; extension types are refused. Strings and
// keys must be well-formed UTF-8 (binary types are blobs and are not checked). Every failure names
// a byte position, and a buffer that ends inside an array or map is an error: the message names
// the announced size and the position of the container's first item. A string that is cut short
// or not valid UTF-8 is named by its size and the position of its first byte.
[[nodiscard]] binding::BindingResult ParseMsgPack(const uint8_t* bytes, std::size_t length,
                                                  std::size_t& consumed);
[[nodiscard]] inline binding::BindingResult ParseMsgPack(std::span<const uint8_t> bytes,
                                                         std::size_t& consumed) {
  return ParseMsgPack(bytes.data(), bytes.size(), consumed);
}

// True when the buffer is not empty and starts with a map or array header (0x80 to 0x9F, 0xDC to
// 0xDF): how a body without a content type is recognised as MessagePack.
bool LooksLikeMsgPack(const uint8_t* bytes, std::size_t length) noexcept;

}  // namespace vyn::formats
