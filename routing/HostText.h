// Texts of the host's request records, which may be null: a null text reads as the empty one.
#pragma once

#include <string_view>

namespace vyn::routing {

inline std::string_view TextOrEmpty(const char* text) noexcept {
  return text != nullptr ? std::string_view(text) : std::string_view();
}

}  // namespace vyn::routing
