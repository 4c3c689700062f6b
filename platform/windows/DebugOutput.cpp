// The debugger console of Windows.
#include "platform/DebugOutput.h"

#include "platform/windows/SystemHeaders.h"

namespace vyn::platform {

void WriteDebugOutput(const char* text) noexcept { OutputDebugStringA(text); }

}  // namespace vyn::platform
