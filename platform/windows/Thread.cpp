// The system's thread id, as debuggers and trace consumers show it.
#include "platform/Thread.h"

#include "platform/windows/SystemHeaders.h"

namespace vyn::platform {

uint32_t CurrentThreadId() noexcept { return GetCurrentThreadId(); }

}  // namespace vyn::platform
