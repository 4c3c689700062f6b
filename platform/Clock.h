// The wall clock broken into calendar parts, and a high-resolution counter for elapsed time.
#pragma once

#include <cstdint>

namespace vyn::platform {

// Local wall-clock time; month 1..12, day 1..31, millisecond 0..999.
struct LocalTimeParts {
  int32_t year;
  int32_t month;
  int32_t day;
  int32_t hour;
  int32_t minute;
  int32_t second;
  int32_t millisecond;
};

// The local time now. All fields are 0 if the system cannot break the time down.
LocalTimeParts GetLocalTimeParts() noexcept;

// A counter that only moves forward, unaffected by changes of the wall clock.
int64_t PerformanceCounter() noexcept;
// Counter ticks per second; constant for the life of the process.
int64_t PerformanceFrequency() noexcept;

}  // namespace vyn::platform
