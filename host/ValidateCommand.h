// vyn-host validate: runs every check of a plugin, each in a child process of its own, prints a
// line per check and a closing count, and writes the same as a JSON report when asked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vyn::host {

struct ValidateOptions {
  std::string pluginPath;
  int strictness = 5;  // 1..10: how many generated inputs each endpoint and event check gets
  uint64_t seed = 0;
  bool seedGiven = false;         // otherwise a fresh seed is drawn and printed
  std::string reportPath;         // --json
  std::vector<std::string> only;  // check names, or their leading parts ("endpoint", "api")
};

// Reads the options that follow "validate PLUGIN". Returns false with a reason.
[[nodiscard]] bool ParseValidateOptions(const std::vector<std::string>& args,
                                        ValidateOptions& options, std::string& error);

// The exit status: 0 when every check passed, 1 when any failed or the report was not written.
int RunValidate(ValidateOptions options);

}  // namespace vyn::host
