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

#include "host/ApiSnapshot.h"
#include "host/Executor.h"
#include "host/LoadedLibrary.h"
#include "host/ResourceConfig.h"
#include "base/HostAbi.h"

namespace vyn::host {

struct HttpCall {
  std::string method;  // upper case, as sent
  std::string target;  // path, and "?" and the query when there is one
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

struct HttpReply {
  int status = 200;
  std::string contentType;  // empty when there is no body
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

struct PublishedEvent {
  std::string name;
  std::string payloadJson;
};

// The JSON error object of a reply: {"errorCode", "httpStatus", "message"}.
HttpReply ErrorReply(int status, const std::string& message);

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

  // An HTTP call: the plugin's endpoints are tried first, in their order; a call that none of
  // them takes reads (GET), replaces (PUT) or removes (DELETE) a sibling resource, the latter
  // two publishing Create/Update/Delete events to the plugin's subscriptions.
  HttpReply Handle(const HttpCall& call);

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
  void PublishFromPlugin(const EventRecord& event);

  // Both run on the executor thread.
  bool CallEndpoints(const HttpCall& call, HttpReply& reply);
  HttpReply ChangeResource(const std::string& method, const std::string& path,
                           const std::string& body);
  HttpReply ReadResource(const std::string& path);
  // Delivers a resource event under the path's event name and then under the base name, to
  // every subscription of each; returns the number of deliveries.
  size_t DeliverResourceEvent(const std::string& path, const char* eventType,
                              const rapidjson::Value& data);

  Executor executor_;
  LoadedLibrary library_;
  HostTable table_{};
  HostApi hostApi_{};
  ApiSnapshot api_;
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
