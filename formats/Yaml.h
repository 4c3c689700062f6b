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

// Types one scalar into `slot`: by `tag` when there is one (null for none), else a quoted scalar
// is a string and a plain one is null, a number, a bool or a string by its text. `text` holds
// `length` bytes and need not end in NUL. A tag-driven failure only sets the error on `result`
// (which drops the tree `slot` may belong to). Nothing happens when `result` already failed.
void ResolveYamlScalar(binding::BindingResult& result, binding::BindingProperty& slot,
                       const char* tag, const char* text, std::size_t length, bool quoted);

// True when the text, after leading blanks (" " only), starts with "---".
bool LooksLikeYaml(std::string_view text);

}  // namespace vyn::formats
