// The identity of the calling thread, as the system's tools show it.
#pragma once

#include <cstdint>

namespace vyn::platform {

// Unique among live threads of the process; stable for the life of the thread.
uint32_t CurrentThreadId() noexcept;

}  // namespace vyn::platform
