// The plugin frame's lifecycle: loading, initialisation, memory statistics.
#include "plugin/PluginBase.h"

#include <cstdlib>

#include "diagnostics/AssertionReport.h"
#include "diagnostics/FormatText.h"
#include "diagnostics/Log.h"
#include "plugin/FrameTypes.h"
#include "base/PluginAllocator.h"
#include "plugin/PluginLogTarget.h"
#include "routing/FunctionDispatcher.h"
#include "routing/MakeIdentifier.h"

namespace vyn::plugin {

PluginApiVersion PluginOwnApiVersion() { return PluginApiVersion{18, 0, 0, {}, {}}; }

bool IsPluginApiCompatible(const PluginApiVersion& plugin, const PluginApiVersion& host) {
  if (host.major != plugin.major) return false;
  if (host.minor != plugin.minor) return host.minor > plugin.minor;
  return host.patch >= plugin.patch;
}

const PluginType& BackendPluginType() {
  static const PluginType kBackend{"backend", ""};
  return kBackend;
}

const PluginType& FrontendPluginType() {
  static const PluginType kFrontend{"frontend", ""};
  return kFrontend;
}

std::string FullNameFromShortNameAndType(std::string_view shortName, const PluginType& type) {
  const char* prefix = "zup-xx-";
  if (type.type == BackendPluginType().type) {
    prefix = "zup-be-";
  } else if (type.type == FrontendPluginType().type) {
    prefix = "zup-fe-";
  } else {
    const std::string message = diagnostics::FormatText(
        "GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type", shortName,
        type.type);
    diagnostics::LogPrintf(diagnostics::kLogError, diagnostics::kCategoryDbg,
                           "            Plugin Manager| %s", message.c_str());
  }
  return std::string(prefix).append(shortName);
}

namespace {

uint8_t OnPluginInitialize(void* context, const HostApi* api) noexcept {
  try {
    return static_cast<PluginBase*>(context)->Initialize(api) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

void OnPluginUnload(void* context) noexcept {
  auto* plugin = static_cast<PluginBase*>(context);
  try {
    plugin->Shutdown();
  } catch (...) {
    // Shutdown only releases; the object is destroyed whatever happened.
  }
  delete plugin;
}

void OnPluginMemoryStats(void*, uint32_t out[14]) noexcept { PluginBase::FillMemoryStats(out); }

}  // namespace

PluginBase::PluginBase() : registry_(std::make_unique<routing::FunctionDispatcher>()) {
  BindRegistry(registry_.get());
  callbacks_.initialize = OnPluginInitialize;
  callbacks_.unload = OnPluginUnload;
  callbacks_.memoryStats = OnPluginMemoryStats;
}

PluginBase::~PluginBase() = default;

const ApiDescription& PluginBase::apiDescription() const { return registry_->apiDescription(); }

HostFunctions* PluginBase::Functions() const { return hostApi_->functions; }

void PluginBase::HostRequest(ResponseRecord* response, const RequestRecord* request) {
  Functions()->request(Functions(), response, request);
}
void PluginBase::HostExternalRequest(ExternalResponseRecord* response,
                                     const ExternalRequestRecord* request) {
  Functions()->externalRequest(Functions(), response, request);
}
void PluginBase::HostSendEvent(const EventRecord* event) {
  Functions()->sendEvent(Functions(), event);
}
void PluginBase::HostSubscribe(const char* eventName, uint32_t hostHandle, EventCallback callback,
                               void* context, uint8_t flag) {
  Functions()->subscribe(Functions(), eventName, hostHandle, callback, context, flag);
}
void PluginBase::HostUnsubscribe(const char* eventName, uint32_t hostHandle) {
  Functions()->unsubscribe(Functions(), eventName, hostHandle);
}
void PluginBase::HostReserved5(uint32_t a, uint32_t b, uint32_t c, double d, uint32_t e) {
  Functions()->reserved5(Functions(), a, b, c, d, e);
}
void PluginBase::HostYield() { Functions()->yield(Functions()); }
void PluginBase::HostBeginWait(const char* label, uint32_t zero) {
  Functions()->beginWait(Functions(), label, zero);
}
void PluginBase::HostEndWait() { Functions()->endWait(Functions()); }

void PluginBase::RegisterApi() {}

bool PluginBase::OnInitialized() { return true; }

void PluginBase::Register(const char* shortName, PluginLoadBlock& block) {
  const PluginApiVersion own = PluginOwnApiVersion();
  PluginApiVersion host{block.major, block.minor, block.patch, {}, {}};
  if (!IsPluginApiCompatible(own, host)) {
    const std::string detail =
        diagnostics::FormatText("%1 which supports plugin API %2 is not compatible with core's "
                                "plugin API %3",
                                shortName, own, host);
    diagnostics::ReportAssertion("ALE-EECF0606", detail.c_str(), __FILE__, __LINE__, __func__);
    // The host must not run a plugin that speaks another API; it is not returned to.
    std::abort();
  }
  hostVersion_ = std::move(host);
  names_.shortName = shortName;
  names_.fullName = FullNameFromShortNameAndType(shortName, BackendPluginType());
  names_.type = BackendPluginType().type;
  names_.typeDetail = BackendPluginType().detail;
  tags_ = {"Plugins", std::string("Plugin ") + shortName};
  typeNamePrefix_ = routing::MakeIdentifier("", shortName);
  RegisterFrameTypes(*registry_);
  RegisterApi();
  registry_->BuildApiDescription();

  block.major = own.major;
  block.minor = own.minor;
  block.patch = own.patch;
  block.callbacks = &callbacks_;
  block.context = this;
  block.shortName = names_.shortName.c_str();
  block.api = &registry_->apiDescription();
}

bool PluginBase::Initialize(const HostApi* api) {
  hostApi_ = api;
  if (auto target = InstallPluginLogTarget(api->functions)) logTarget_ = std::move(target);
  AttachEvents(api->hostHandle, names_.shortName,
               diagnostics::FormatText("TarnClient/%1 (%2)", hostVersion_, names_.shortName));
  return OnInitialized();
}

void PluginBase::FillMemoryStats(uint32_t out[14]) {
  const base::AllocationStats stats = base::GetAllocationStats();
  const uint64_t counters[6] = {stats.peakBytes,      stats.peakBlocks,
                                stats.bytesAllocated, stats.blocksAllocated,
                                stats.bytesFreed,     stats.blocksFreed};
  for (int i = 0; i < 6; ++i) {
    out[2 * i] = static_cast<uint32_t>(counters[i]);
    out[2 * i + 1] = static_cast<uint32_t>(counters[i] >> 32);
  }
  out[12] = 0;
  out[13] = 0;
}

}  // namespace vyn::plugin
