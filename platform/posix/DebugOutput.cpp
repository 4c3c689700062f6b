// The debugger console has no counterpart here, so its lines go nowhere.
#include "platform/DebugOutput.h"

namespace vyn::platform {

// Deliberately empty. The same lines already reach standard error in the same format, and the
// system log would mean opening a socket, which the plugin must not do on its own. A developer
// who wants the lines can break on this function. Not inlined, so that the breakpoint exists.
[[gnu::noinline]] void WriteDebugOutput(const char* text) noexcept { static_cast<void>(text); }

}  // namespace vyn::platform
