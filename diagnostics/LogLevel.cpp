// Names of the log levels as they appear in log lines.
#include "diagnostics/LogLevel.h"

namespace vyn::diagnostics {

const char* LevelName(int32_t level) noexcept {
  static constexpr const char* kNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
  if (level < kLogOkay || level > kLogAlways) return "  ????";
  return kNames[level];
}

}  // namespace vyn::diagnostics
