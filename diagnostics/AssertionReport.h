// The report of a failed check: a fixed multi-line text, logged as an error.
//
// Tracing for outside consumers (trace providers registered at load, the loading thread named
// "Main thread") would start and stop beside this at library load and unload; this platform has
// no system event tracing, so there is nothing to register.
#pragma once

#include <cstdint>
#include <string>

namespace vyn::diagnostics {

// Replaces out with the report. Absent (null) and empty texts leave their part out, and so
// does line 0:
//   "Assertion failed!\n\n" "File: <file>\n" "Line: <line>\n\n" "Function: <function>\n\n"
//   "Expression: <expression>" "\n\nDescription: <description>"
void BuildAssertionReport(std::string& out, const char* expression, const char* file, int32_t line,
                          const char* function, const char* description);

// Logs the report at ERROR in category "DBG". It does not stop the process; the caller decides.
void ReportAssertion(const char* expression, const char* description, const char* file,
                     int32_t line, const char* function) noexcept;

}  // namespace vyn::diagnostics
