// The debug trace of the plugin frame and the feature. Its texts mark where a trace belongs;
// nothing reads them, so they are dropped here, while the compiler still checks every format
// against its arguments. Routing them to a log would put player tokens and survey bodies in it.
#pragma once

#include "platform/PrintfFormat.h"

namespace vyn::diagnostics {

VYN_PRINTF_FORMAT(1, 2) inline void PftTrace(const char* /*format*/, ...) noexcept {}

}  // namespace vyn::diagnostics
