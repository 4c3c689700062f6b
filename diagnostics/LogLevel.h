// Log levels: a message is written when its level is at least the threshold in force.
#pragma once

#include <cstdint>

namespace vyn::diagnostics {

inline constexpr int32_t kLogOkay = 0;
inline constexpr int32_t kLogWarn = 1;
inline constexpr int32_t kLogError = 2;
inline constexpr int32_t kLogAlways = 3;

// The level's name padded on the left to six characters ("  WARN"), as log lines show it.
// Levels outside 0..3 give "  ????", so that a stray level cannot shift the columns.
const char* LevelName(int32_t level) noexcept;

}  // namespace vyn::diagnostics
