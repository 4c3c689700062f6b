// JSON text that reaches the host from outside (a request body, a configuration file) parsed
// into a document without recursion, and refused when nested deeper than the host converts.
#pragma once

#include <rapidjson/document.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace vyn::host {

// The host hands values at most this deep to the plugin and to readers.
inline constexpr int kMaxJsonDepth = 256;

enum class JsonParse { Ok, Invalid, TooDeep };

// On failure gives a reason ("Invalid value.", "nested more than 256 levels deep") and the byte
// offset where it was found; out is then unusable.
[[nodiscard]] JsonParse ParseJsonDocument(std::string_view text, rapidjson::Document& out,
                                          std::string& reason, size_t& offset);

}  // namespace vyn::host
