// The base of the one plugin object: the host link, the plugin's names and tags, the callback
// table handed to the host, and the lifecycle (load-time registration, initialisation, unload).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "binding/PageCache.h"
#include "diagnostics/VersionText.h"
#include "plugin/EventSubscriber.h"
#include "base/HostAbi.h"

namespace vyn::routing {
class FunctionDispatcher;
}

namespace vyn::plugin {

class PluginLogTarget;

using diagnostics::PluginApiVersion;
using diagnostics::PluginType;

// The plugin-API version this library speaks.
PluginApiVersion PluginOwnApiVersion();

// Same major; then the host's minor not lower; on equal minors the host's patch not lower.
bool IsPluginApiCompatible(const PluginApiVersion& plugin, const PluginApiVersion& host);

const PluginType& BackendPluginType();
const PluginType& FrontendPluginType();

// "zup-be-" / "zup-fe-" + short name; any other type gives "zup-xx-" and an ERROR log line.
std::string FullNameFromShortNameAndType(std::string_view shortName, const PluginType& type);

struct PluginNames {
  std::string fullName;
  std::string shortName;
  std::string type;
  std::string typeDetail;
};

class PluginBase : public EventSubscriber {
 public:
  PluginBase();
  ~PluginBase() override;

  // Forwarders to the host function table; valid only after PluginInitialize.
  void HostRequest(ResponseRecord* response, const RequestRecord* request) override;
  void HostExternalRequest(ExternalResponseRecord* response,
                           const ExternalRequestRecord* request) override;
  void HostSendEvent(const EventRecord* event) override;
  void HostSubscribe(const char* eventName, uint32_t hostHandle, EventCallback callback,
                     void* context, uint8_t flag) override;
  void HostUnsubscribe(const char* eventName, uint32_t hostHandle) override;
  void HostReserved5(uint32_t a, uint32_t b, uint32_t c, double d, uint32_t e) override;
  void HostYield() override;
  void HostBeginWait(const char* label, uint32_t zero) override;
  void HostEndWait() override;

  // The feature registers its types and endpoints here, during loading.
  virtual void RegisterApi();
  // The feature subscribes here, at initialisation, and returns its readiness.
  virtual bool OnInitialized();

  // Loading steps after construction: version check (an incompatible host ends the process),
  // names, tags, the frame's records and events, the feature's registrations, API description (built from the registry after RegisterApi), and
  // the load block written back.
  void Register(const char* shortName, PluginLoadBlock& block);
  // PluginInitialize: host link, log target, user agent, event side, OnInitialized.
  bool Initialize(const HostApi* api);
  // PluginMemoryStats: the six allocation counters, low word first, then two zero words.
  static void FillMemoryStats(uint32_t out[14]);

  const PluginApiVersion& hostVersion() const { return hostVersion_; }
  const PluginNames& names() const { return names_; }
  const std::string& typeNamePrefix() const { return typeNamePrefix_; }
  const std::array<std::string, 2>& tags() const { return tags_; }
  const HostApi* hostApi() const { return hostApi_; }
  const PluginCallbacks& callbacks() const { return callbacks_; }
  // The plugin's type registry and endpoint dispatcher; lives as long as the object.
  routing::FunctionDispatcher& registry() { return *registry_; }
  const routing::FunctionDispatcher& registry() const { return *registry_; }
  // Valid from Register on, until the object is destroyed.
  const ApiDescription& apiDescription() const;

 private:
  HostFunctions* Functions() const;

  // Declared first, so it goes last: every tree of the object is gone when the page cache
  // releases what it kept for them.
  binding::PageCacheRetention retention_;
  PluginApiVersion hostVersion_;
  std::unique_ptr<PluginLogTarget> logTarget_;
  PluginNames names_;
  std::string typeNamePrefix_;
  std::array<std::string, 2> tags_;
  std::unique_ptr<routing::FunctionDispatcher> registry_;
  const HostApi* hostApi_ = nullptr;
  PluginCallbacks callbacks_{};
};

}  // namespace vyn::plugin
