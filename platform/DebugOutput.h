// The debugger's console: a side channel for log lines that only a developer watches.
#pragma once

namespace vyn::platform {

// Hands one NUL-terminated line to the debugger console, if the system has one.
void WriteDebugOutput(const char* text) noexcept;

}  // namespace vyn::platform
