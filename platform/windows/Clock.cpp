// Wall clock through GetLocalTime, elapsed time through the performance counter.
#include "platform/Clock.h"

#include "platform/windows/SystemHeaders.h"

namespace vyn::platform {

LocalTimeParts GetLocalTimeParts() noexcept {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return LocalTimeParts{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                        now.wMinute, now.wSecond, now.wMilliseconds};
}

int64_t PerformanceCounter() noexcept {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

int64_t PerformanceFrequency() noexcept {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart;
}

}  // namespace vyn::platform
