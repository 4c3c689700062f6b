// The reference host around one loaded plugin: it implements the host functions, keeps the
// sibling resources the plugin reads and watches, routes HTTP-style calls to the plugin's
// endpoints, and hands the events the plugin publishes to listeners. Every call into the
// plugin runs on the host's executor thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/HostAbi.h"
#include "host/ApiSnapshot.h"
#include "host/EndpointRoute.h"
#include "host/Executor.h"
#include "host/HttpMessage.h"
#include "host/LoadedLibrary.h"
#include "host/ResourceConfig.h"

namespace vyn::host {

// The name under which an event that the host cannot pass on is published instead; its payload
// is {"event": the event's name, "message": why}.
inline constexpr const char* kEventErrorName = "HostEventError";

struct PublishedEvent {
  std::string name;
  std::string payloadJson;
};

class PluginHost {
 public:
  static constexpr uint32_t kApiMajor = 18;
  static constexpr uint32_t kApiMinor = 0;
  static constexpr uint32_t kApiPatch = 0;
  static constexpr uint32_t kPluginHandle = 1;

  explicit PluginHost(ResourceValues resources);
  ~PluginHost();  // Stop()
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

  // Loads the library, copies its API description and initialises the plugin. The plugin may
  // report itself not ready; that is no failure (see ready()).
  [[nodiscard]] bool Start(const std::string& libraryPath, std::string& error);

  // An HTTP call: the plugin's endpoints whose method and route can take it are tried first,
  // in their order; a call that none of them takes reads (GET), replaces (PUT) or removes
  // (DELETE) a sibling resource, the latter two publishing Create/Update/Delete events to the
  // plugin's subscriptions. Plugin calls run one at a time; a call that needs none (a read, a
  // change nobody subscribed to) never waits for them. Any thread.
  HttpReply Handle(const HttpCall& call);

  // How long one outside request that the plugin asks for may take; 30 s unless set.
  void SetServiceTimeout(long seconds) { serviceTimeoutSeconds_ = seconds; }

  // The paths of the given resources that the host does not have.
  std::vector<std::string> MissingResources(const std::vector<std::string>& paths);

  // Listeners see every event the plugin publishes, on the executor thread, while the plugin
  // waits: they must be quick and must not call back into the host.
  using EventListener = std::function<void(const PublishedEvent&)>;
  int AddEventListener(EventListener listener);
  void RemoveEventListener(int id);

  // Unloads the plugin on the executor thread and ends that thread. Idempotent.
  void Stop();

  const ApiSnapshot& api() const { return api_; }
  const PluginLoadBlock& block() const { return library_.block(); }
  bool ready() const { return ready_; }
  void MemoryStats(uint32_t out[14]);

 private:
  // The table the plugin calls back through sits at the start of this record, so each entry
  // can find its host again from the table pointer.
  struct HostTable {
    HostFunctions functions;
    PluginHost* owner;
  };
  struct Subscription {
    std::string name;
    uint32_t hostHandle;
    EventCallback callback;
    void* context;
    uint8_t flag;
  };

  static PluginHost& From(HostFunctions* self);
  static void OnRequest(HostFunctions* self, ResponseRecord* response,
                        const RequestRecord* request);
  static void OnExternalRequest(HostFunctions* self, ExternalResponseRecord* response,
                                const ExternalRequestRecord* request);
  static void OnSendEvent(HostFunctions* self, const EventRecord* event);
  static void OnSubscribe(HostFunctions* self, const char* eventName, uint32_t hostHandle,
                          EventCallback callback, void* context, uint8_t flag);
  static void OnUnsubscribe(HostFunctions* self, const char* eventName, uint32_t hostHandle);
  static void OnReserved5(HostFunctions* self, uint32_t, uint32_t, uint32_t, double, uint32_t);
  static void OnYield(HostFunctions* self);
  static void OnBeginWait(HostFunctions* self, const char* label, uint32_t zero);
  static void OnEndWait(HostFunctions* self);
  static void OnLog(HostFunctions* self, int32_t level, const char* message);

  void AnswerLocalRequest(ResponseRecord& response, const RequestRecord& request);
  bool EndpointsMayTake(const HttpCall& call) const;
  bool HasSubscribers(const std::string& path);
  void PublishFromPlugin(const EventRecord& event);

  // Runs on the executor thread.
  bool CallEndpoints(const HttpCall& call, HttpReply& reply);
  HttpReply ChangeResource(const std::string& method, const std::string& path,
                           const std::string& body);
  HttpReply ReadResource(const std::string& path);
  // Delivers a resource event under the path's event name and then under the base name, to
  // every subscription of each; returns the number of deliveries. Runs on the executor thread.
  size_t DeliverResourceEvent(const std::string& path, const char* eventType,
                              const rapidjson::Value& data);

  Executor executor_;
  LoadedLibrary library_;
  HostTable table_{};
  HostApi hostApi_{};
  ApiSnapshot api_;
  std::vector<EndpointRoute> routes_;  // one per endpoint of api_, in order; set by Start
  std::atomic<long> serviceTimeoutSeconds_{30};
  std::atomic<bool> ready_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> stopped_{false};

  std::mutex resourcesMutex_;  // guards resources_
  ResourceValues resources_;

  std::mutex subscriptionsMutex_;  // guards subscriptions_
  std::vector<Subscription> subscriptions_;

  std::mutex listenersMutex_;  // guards listeners_ and nextListener_
  std::map<int, EventListener> listeners_;
  int nextListener_ = 1;
};

}  // namespace vyn::host
