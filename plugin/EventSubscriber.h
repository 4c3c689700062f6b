// The event side of the plugin object: resource observations by path, one host subscription per
// event name with a reference count, delivery of host events converted into typed records,
// publication of the plugin's own resource events, and the service-proxy responses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/AssignValue.h"
#include "binding/BindingProperty.h"
#include "binding/HostValueConversion.h"
#include "diagnostics/Trace.h"
#include "plugin/FrameTypes.h"
#include "base/HostAbi.h"

namespace vyn::binding {
class BindingRegistry;
}

namespace vyn::plugin {

// "OnJsonApiEvent" joined by "_" with the first pieces of the path (empty pieces dropped): four
// pieces, or six when the second is "vyn-platform-config".
std::string EventNameForPath(std::string_view path);

// The same name, built in room of its own: every resource event sends one, and the names of this
// plugin's paths fit, so the heap is only used for a longer one.
class EventName {
 public:
  explicit EventName(std::string_view path);
  EventName(const EventName&) = delete;
  EventName& operator=(const EventName&) = delete;

  const char* c_str() const noexcept { return spill_.empty() ? room_ : spill_.c_str(); }
  std::string_view view() const noexcept { return {c_str(), length_}; }

 private:
  // Adds "_" and the piece.
  void AppendPiece(std::string_view piece);

  static constexpr std::size_t kRoomBytes = 96;
  char room_[kRoomBytes];
  std::size_t length_ = 0;
  std::string spill_;  // the whole name once it does not fit the room
};

// Whether a resource pattern matches a whole uri. Other characters match themselves; a "*"
// consumes characters other than "/" and ends at the next "/" of the uri, or at the uri's end
// when it consumed at least one character.
bool MatchResourcePattern(std::string_view pattern, std::string_view uri) noexcept;

// FNV-1a over the bytes of a text; the hash of the event tables.
struct Fnv1aHash {
  using is_transparent = void;  // looks up by string_view without a copy
  std::size_t operator()(std::string_view text) const noexcept;
};

enum class EventPayloadKind : uint8_t { ResourceEvent, ServiceProxyResponse };

using ResourceHandler = std::function<void(const PluginResourceEvent&)>;
using ServiceProxyHandler = std::function<void(const PluginServiceProxyResponse&)>;

class EventSubscriber {
 public:
  EventSubscriber();
  EventSubscriber(const EventSubscriber&) = delete;
  EventSubscriber& operator=(const EventSubscriber&) = delete;

  // Counts the path's event name; the first count subscribes at the host.
  virtual void Subscribe(std::string_view path);
  // Uncounts it; the last one unsubscribes at the host. The count itself stays, at 0.
  virtual void Unsubscribe(std::string_view path);
  virtual ~EventSubscriber();
  // Unsubscribes every event at the host and empties every handler table; counts stay.
  virtual void Shutdown();

  // The host function table, entries 0 to 8, with the table put first. Valid once attached.
  virtual void HostRequest(ResponseRecord* response, const RequestRecord* request) = 0;
  virtual void HostExternalRequest(ExternalResponseRecord* response,
                                   const ExternalRequestRecord* request) = 0;
  virtual void HostSendEvent(const EventRecord* event) = 0;
  virtual void HostSubscribe(const char* eventName, uint32_t hostHandle, EventCallback callback,
                             void* context, uint8_t flag) = 0;
  virtual void HostUnsubscribe(const char* eventName, uint32_t hostHandle) = 0;
  virtual void HostReserved5(uint32_t a, uint32_t b, uint32_t c, double d, uint32_t e) = 0;
  virtual void HostYield() = 0;
  virtual void HostBeginWait(const char* label, uint32_t zero) = 0;
  virtual void HostEndWait() = 0;

  // Installs a handler for a path (a path with "*" is a pattern) and subscribes to the path. An
  // exact path or a pattern observed again gets the new handler in place of the old.
  void ObserveResource(std::string_view path, ResourceHandler handler);

  // A typed observation: Create and Update events have their data converted into T (label
  // "<value>"), and the handler is not called when that fails; Delete passes a default T.
  template <typename T>
  void ObserveResource(std::string_view path,
                       std::function<void(std::string_view uri, PluginResourceEventType type,
                                          const T& data)>
                           handler);

  // Stores the handler under the event name (replacing an older one) and subscribes at the host
  // with the delivery callback of the payload kind, this object as context, and the flag.
  void RegisterEventHandler(std::string_view eventName, ResourceHandler handler, uint8_t flag);
  void RegisterEventHandler(std::string_view eventName, ServiceProxyHandler handler, uint8_t flag);

  // Publishes a resource event under the name of its uri and, when it differs, again under the
  // base name. Fails only when the event cannot be converted for the host. The host is shown the
  // event's data in place, not a copy; `grafts` show other trees in place of nodes of that data
  // (see HostValueView), so that a caller need not copy them into it first.
  [[nodiscard]] binding::BindingResult SendResourceEvent(
      std::string_view baseEventName, const PluginResourceEvent& event, uint32_t word,
      std::span<const binding::HostValueGraft> grafts = {});
  // The same for an event given as its `shell`, whose own data stays empty, and the `data` to
  // show as its data: a caller that makes the event only to send it need not move the data in.
  [[nodiscard]] binding::BindingResult SendResourceEvent(
      std::string_view baseEventName, const PluginResourceEvent& shell,
      const binding::BindingProperty& data, uint32_t word,
      std::span<const binding::HostValueGraft> grafts = {});

  // Service-proxy bookkeeping: a request waiting for the response of a key ("uuid", or
  // "service.method"), and the handler of asynchronous responses of a key.
  void AddPendingServiceProxyRequest(std::string key, ServiceProxyHandler completion);
  void SetAsyncServiceProxyHandler(std::string key, ServiceProxyHandler handler);

  // The number of observations of an event name (0 when never observed).
  uint32_t SubscriptionCount(std::string_view eventName) const;
  bool HasEventHandler(std::string_view eventName) const;
  bool attached() const noexcept { return attached_; }
  uint32_t hostHandle() const noexcept { return hostHandle_; }
  const std::string& shortName() const noexcept { return shortName_; }
  const std::string& userAgent() const noexcept { return userAgent_; }
  // The registry that converts event payloads and records; set by the plugin object.
  const binding::BindingRegistry* typeRegistry() const noexcept { return registry_; }

 protected:
  // Set by the plugin object once its registry exists; the registry outlives this part.
  void BindRegistry(const binding::BindingRegistry* registry) noexcept { registry_ = registry; }
  // Connects to the host at initialisation: handlers registered before reach the host now, and
  // the three service-proxy events are subscribed with flag 1.
  void AttachEvents(uint32_t hostHandle, std::string shortName, std::string userAgent);

 private:
  struct HandlerRecord {
    EventPayloadKind kind;
    ResourceHandler onResource;
    ServiceProxyHandler onServiceProxy;
    uint8_t flag;
  };
  using HandlerTable =
      std::unordered_map<std::string, std::shared_ptr<HandlerRecord>, Fnv1aHash, std::equal_to<>>;

  template <typename Payload>
  static void Deliver(const EventRecord* record, EventPayloadKind kind,
                      void (*call)(const HandlerRecord&, const Payload&)) noexcept;
  static void DeliverResourceEvent(const EventRecord* record) noexcept;
  static void DeliverServiceProxyEvent(const EventRecord* record) noexcept;
  static EventCallback CallbackFor(EventPayloadKind kind) noexcept;

  void StoreHandler(std::string_view eventName, std::shared_ptr<HandlerRecord> record);
  std::shared_ptr<HandlerRecord> FindHandler(std::string_view eventName) const;
  void DispatchResource(const PluginResourceEvent& event);
  void OnServiceProxyUuid(const PluginServiceProxyResponse& response);
  void OnServiceProxyMethod(const PluginServiceProxyResponse& response);
  void OnServiceProxyAsync(const PluginServiceProxyResponse& response);
  void FulfilServiceProxyRequest();

  std::unordered_map<std::string, ResourceHandler, Fnv1aHash, std::equal_to<>> exactHandlers_;
  std::vector<std::pair<std::string, ResourceHandler>> patternHandlers_;  // in table order
  const binding::BindingRegistry* registry_ = nullptr;
  uint32_t hostHandle_ = 0;
  bool attached_ = false;
  std::string shortName_;
  std::string userAgent_;
  HandlerTable eventHandlers_;
  std::unordered_map<std::string, uint32_t, Fnv1aHash, std::equal_to<>> subscriptionCounts_;

  // Guarded by serviceProxyMutex_; responses in arrival order.
  mutable std::mutex serviceProxyMutex_;
  std::vector<std::pair<std::string, ServiceProxyHandler>> pendingRequests_;
  std::unordered_map<std::string, ServiceProxyHandler, Fnv1aHash, std::equal_to<>> asyncHandlers_;
  std::vector<std::pair<std::string, PluginServiceProxyResponse>> receivedResponses_;
};

template <typename T>
void EventSubscriber::ObserveResource(
    std::string_view path,
    std::function<void(std::string_view uri, PluginResourceEventType type, const T& data)>
        handler) {
  ObserveResource(path, [this, handler = std::move(handler)](const PluginResourceEvent& event) {
    T data{};
    if (event.eventType != PluginResourceEventType::Delete) {
      if (registry_ == nullptr) return;
      const binding::BindingResult converted =
          binding::ValueToNative(*registry_, event.data, data, "<value>");
      if (!converted.ok()) {
        const binding::BindingType* type = binding::DescribedTypeIn<T>(*registry_);
        diagnostics::PftTrace("%s: Couldn't convert resource %s for event uri \"%s\": %s",
                              shortName_.c_str(), type != nullptr ? type->name.c_str() : "",
                              event.uri.c_str(), converted.ErrorText().c_str());
        return;  // dropped: the handler sees only records it can trust
      }
    }
    handler(event.uri, event.eventType, data);
  });
}

}  // namespace vyn::plugin
