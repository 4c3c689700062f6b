// Timestamps for log lines and the process's elapsed-time clock.
#include "diagnostics/LogTime.h"

#include <cstdint>

#include "diagnostics/FormatText.h"

namespace vyn::diagnostics {

int FormatTimestamp(char* buffer, std::size_t size, const LocalTimeParts& parts) noexcept {
  return BufferPrintf(buffer, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", parts.year, parts.month,
                        parts.day, parts.hour, parts.minute, parts.second, parts.millisecond);
}

int FormatFileTimestamp(char* buffer, std::size_t size, const LocalTimeParts& parts) noexcept {
  return BufferPrintf(buffer, size, "%04d-%02d-%02dT%02d-%02d-%02d", parts.year, parts.month,
                        parts.day, parts.hour, parts.minute, parts.second);
}

double ElapsedSeconds() noexcept {
  // Both taken once, on first use; the frequency never changes while the process runs.
  static const int64_t start = platform::PerformanceCounter();
  static const double secondsPerTick = 1.0 / static_cast<double>(platform::PerformanceFrequency());
  return static_cast<double>(platform::PerformanceCounter() - start) * secondsPerTick;
}

}  // namespace vyn::diagnostics
