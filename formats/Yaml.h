// Reading one YAML document into a generic value: scalars typed by their tag or their text,
// anchors and aliases expanded into copies. The library's event parser does the tokenizing.
#pragma once

#include <cstddef>
#include <string_view>

#include "binding/BindingProperty.h"

namespace vyn::formats {

// Containers may nest this deep, alias copies included; deeper input is an error, so that no
// recursive walk over the value (copy, reset, serialisation) can exhaust the stack.
inline constexpr std::size_t kYamlMaxDepth = 512;
// What aliases may copy into one call, in nodes and in bytes of strings and member names. A few
// lines of nested aliases can otherwise ask for an exponential number of copies.
inline constexpr std::size_t kYamlMaxAliasNodes = 100000;
inline constexpr std::size_t kYamlMaxAliasTextBytes = std::size_t{16} << 20;

// Parses `text` (UTF-8). An empty text gives an empty value. On failure the result holds the
// first error; the value built so far is dropped.
binding::BindingResult ParseYaml(std::string_view text);

// True when the text, after leading blanks (" " only), starts with "---".
bool LooksLikeYaml(std::string_view text);

}  // namespace vyn::formats
