// The log target that hands every record to the host's log, and its installation when the host
// initialises the plugin.
#pragma once

#include <memory>

#include "diagnostics/LogTarget.h"
#include "base/HostAbi.h"

namespace vyn::plugin {

// Passes each record's level and message to HostFunctions::log; the line format is not applied
// to what the host receives. The host table must outlive the target.
class PluginLogTarget final : public diagnostics::LogTarget {
 public:
  explicit PluginLogTarget(HostFunctions* host);
  ~PluginLogTarget() override;
  const char* GetName() const override;
  // Always reports success; a table without a log entry drops the record.
  bool Write(const diagnostics::LogRecord& record) override;

 private:
  HostFunctions* host_;
};

// When no target named "PluginLogTarget" is registered: unregisters the three built-in targets,
// sets the minimum level to OKAY and mutes "XTR", and returns a new PluginLogTarget registered
// with the current minimum level, no categories and the line format "#D| #L| #G| #M".
// Returns null, and changes nothing, when such a target is registered already: the caller then
// keeps the one it has.
std::unique_ptr<PluginLogTarget> InstallPluginLogTarget(HostFunctions* host);

}  // namespace vyn::plugin
