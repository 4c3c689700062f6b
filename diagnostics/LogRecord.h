// What a log target receives for one accepted message.
#pragma once

#include <cstdint>

#include "platform/Clock.h"

namespace vyn::diagnostics {

struct LogRecord {
  platform::LocalTimeParts time;  // local wall clock at the moment of the call
  int32_t level;
  uint32_t categoriesLow;   // the category mask, low half
  uint32_t categoriesHigh;  // and high half
  const char* message;      // formatted, NUL-terminated; valid only during the call

  uint64_t Categories() const noexcept {
    return (static_cast<uint64_t>(categoriesHigh) << 32) | categoriesLow;
  }
};

}  // namespace vyn::diagnostics
