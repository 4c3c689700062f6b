// Assertion reports.
#include "diagnostics/AssertionReport.h"

#include "diagnostics/Log.h"

namespace vyn::diagnostics {
namespace {

bool Given(const char* text) { return text != nullptr && text[0] != '\0'; }

}  // namespace

void BuildAssertionReport(std::string& out, const char* expression, const char* file, int32_t line,
                          const char* function, const char* description) {
  out = "Assertion failed!\n\n";
  if (Given(file)) out.append("File: ").append(file).append("\n");
  if (line != 0) out.append("Line: ").append(std::to_string(line)).append("\n\n");
  if (Given(function)) out.append("Function: ").append(function).append("\n\n");
  if (Given(expression)) out.append("Expression: ").append(expression);
  if (Given(description)) out.append("\n\nDescription: ").append(description);
}

void ReportAssertion(const char* expression, const char* description, const char* file,
                     int32_t line, const char* function) noexcept {
  try {
    std::string report;
    BuildAssertionReport(report, expression, file, line, function, description);
    LogPrintf(kLogError, kCategoryDbg, "%s", report.c_str());
  } catch (...) {
    // Out of memory: the report is lost, but a failed check must not turn into a throw.
    LogPrintf(kLogError, kCategoryDbg, "%s", "Assertion failed!");
  }
}

}  // namespace vyn::diagnostics
