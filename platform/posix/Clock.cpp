// Wall clock through localtime_r, elapsed time through the monotonic clock.
#include "platform/Clock.h"

#include <sys/time.h>
#include <time.h>

namespace vyn::platform {

LocalTimeParts GetLocalTimeParts() noexcept {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  if (localtime_r(&now.tv_sec, &local) == nullptr) return LocalTimeParts{};
  return LocalTimeParts{local.tm_year + 1900,
                        local.tm_mon + 1,
                        local.tm_mday,
                        local.tm_hour,
                        local.tm_min,
                        local.tm_sec,
                        static_cast<int32_t>(now.tv_nsec / 1000000)};
}

int64_t PerformanceCounter() noexcept {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t PerformanceFrequency() noexcept { return 1000000000; }

}  // namespace vyn::platform
