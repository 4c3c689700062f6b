// Log forwarding to the host.
#include "plugin/PluginLogTarget.h"

#include "diagnostics/LogCategories.h"
#include "diagnostics/LogManager.h"

namespace vyn::plugin {
namespace {

constexpr const char* kName = "PluginLogTarget";

}  // namespace

PluginLogTarget::PluginLogTarget(HostFunctions* host) : host_(host) { EnableWriting(); }

PluginLogTarget::~PluginLogTarget() { Detach(); }

const char* PluginLogTarget::GetName() const { return kName; }

bool PluginLogTarget::Write(const diagnostics::LogRecord& record) {
  platform::RecursiveMutexGuard guard(OwnLock());
  if (host_ != nullptr && host_->log != nullptr) host_->log(host_, record.level, record.message);
  return true;
}

std::unique_ptr<PluginLogTarget> InstallPluginLogTarget(HostFunctions* host) {
  // One step under the manager's lock, so two initialisations cannot both install a target.
  platform::RecursiveMutexGuard guard(diagnostics::LogManagerMutex());
  if (diagnostics::FindTarget(kName) != nullptr) return nullptr;
  for (diagnostics::LogTargetTable* builtIn :
       {diagnostics::GetStdErrTarget(), diagnostics::GetStdOutTarget(),
        diagnostics::GetDebuggerConsoleTarget()}) {
    if (builtIn != nullptr) builtIn->unregisterTarget(builtIn);
  }
  diagnostics::SetMinLevel(diagnostics::kLogOkay);
  diagnostics::SetMutedCategories(diagnostics::kCategoryXtr);
  auto target = std::make_unique<PluginLogTarget>(host);
  diagnostics::LogTargetSettings settings;
  settings.level = diagnostics::GetMinLevel();
  diagnostics::ConfigureTarget(*target, settings);
  return target;
}

}  // namespace vyn::plugin
