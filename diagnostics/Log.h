// The log entry used by the rest of the plugin: printf-style messages with a level and a
// category mask, filtered and handed to the registered log targets.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "diagnostics/LogCategories.h"
#include "diagnostics/LogLevel.h"
#include "platform/PrintfFormat.h"

namespace vyn::diagnostics {

// Messages are formatted into a stack buffer of this size; a longer one is cut at 4095 bytes.
inline constexpr std::size_t kLogMessageSize = 4096;

// Drops the message while logging is suspended, below the minimum level, or when it carries a
// muted category; otherwise formats it and hands it to each target that takes it. Creates the
// log manager if none exists. No heap use per message; safe on any thread.
void LogV(int32_t level, uint64_t categories, const char* format, va_list args) noexcept
    VYN_PRINTF_FORMAT(3, 0);
void LogPrintf(int32_t level, uint64_t categories, const char* format, ...) noexcept
    VYN_PRINTF_FORMAT(3, 4);

}  // namespace vyn::diagnostics
