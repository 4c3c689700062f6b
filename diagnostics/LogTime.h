// Time as log lines show it: calendar timestamps and seconds since logging first asked.
#pragma once

#include <cstddef>

#include "platform/Clock.h"

namespace vyn::diagnostics {

using platform::GetLocalTimeParts;
using platform::LocalTimeParts;

// "2024-05-01T13:02:03.004". Returns BufferPrintf's result (-1 when cut).
int FormatTimestamp(char* buffer, std::size_t size, const LocalTimeParts& parts) noexcept;
// "2024-05-01T13-02-03": no milliseconds and no colons, so it may stand in a file name.
int FormatFileTimestamp(char* buffer, std::size_t size, const LocalTimeParts& parts) noexcept;

// Seconds since the first call in this process, from the high-resolution counter.
double ElapsedSeconds() noexcept;

}  // namespace vyn::diagnostics
