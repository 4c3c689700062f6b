// Event subscription and dispatch.
#include "plugin/EventSubscriber.h"

#include <algorithm>
#include <cstring>

#include "base/PluginAllocator.h"
#include "binding/HostValueConversion.h"
#include "binding/RecordToValue.h"
#include "diagnostics/FormatText.h"
#include "diagnostics/Log.h"
#include "diagnostics/Trace.h"

namespace vyn::plugin {

using diagnostics::PftTrace;

namespace {

constexpr std::string_view kResourceEventBase = "OnJsonApiEvent";
constexpr std::size_t kInitialBuckets = 8;

}  // namespace

std::size_t Fnv1aHash::operator()(std::string_view text) const noexcept {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : text) {
    hash ^= static_cast<uint8_t>(c);
    hash *= 1099511628211ull;
  }
  return static_cast<std::size_t>(hash);
}

EventName::EventName(std::string_view path) {
  std::memcpy(room_, kResourceEventBase.data(), kResourceEventBase.size());
  length_ = kResourceEventBase.size();
  room_[length_] = '\0';
  // The kept pieces count the leading event name, so a path gives three of its own, or five.
  // Paths are short: a loop over their bytes beats a search call per piece.
  std::size_t keep = 4, kept = 1;
  const char* const end = path.data() + path.size();
  for (const char* at = path.data(); at != end && kept < keep;) {
    if (*at == '/') {
      ++at;
      continue;
    }
    const char* pieceEnd = at;
    while (pieceEnd != end && *pieceEnd != '/') ++pieceEnd;
    const std::string_view piece(at, static_cast<std::size_t>(pieceEnd - at));
    if (kept == 1 && piece == "vyn-platform-config") keep = 6;
    AppendPiece(piece);
    ++kept;
    at = pieceEnd;
  }
}

void EventName::AppendPiece(std::string_view piece) {
  if (spill_.empty() && length_ + 1 + piece.size() < kRoomBytes) {
    room_[length_] = '_';
    std::memcpy(room_ + length_ + 1, piece.data(), piece.size());
    length_ += 1 + piece.size();
    room_[length_] = '\0';
    return;
  }
  if (spill_.empty()) spill_.assign(room_, length_);
  spill_.append(1, '_').append(piece);
  length_ = spill_.size();
}

std::string EventNameForPath(std::string_view path) { return std::string(EventName(path).view()); }

bool MatchResourcePattern(std::string_view pattern, std::string_view uri) noexcept {
  std::size_t u = 0;
  for (std::size_t p = 0; p < pattern.size(); ++p) {
    if (pattern[p] != '*') {
      if (u >= uri.size() || uri[u] != pattern[p]) return false;
      ++u;
      continue;
    }
    const std::size_t start = u;
    while (u < uri.size() && uri[u] != '/') ++u;
    // Ending at the uri's end, the star must have taken something: "items/*" is no "items/".
    if (u == uri.size() && u == start) return false;
  }
  return u == uri.size();
}

EventSubscriber::EventSubscriber()
    : exactHandlers_(kInitialBuckets),
      eventHandlers_(kInitialBuckets),
      subscriptionCounts_(kInitialBuckets),
      asyncHandlers_(kInitialBuckets) {}

EventSubscriber::~EventSubscriber() = default;

void EventSubscriber::ObserveResource(std::string_view path, ResourceHandler handler) {
  if (path.find('*') != std::string_view::npos) {
    bool replaced = false;
    for (auto& [pattern, existing] : patternHandlers_) {
      if (pattern == path) {
        existing = std::move(handler);
        replaced = true;
        break;
      }
    }
    if (!replaced) patternHandlers_.emplace_back(std::string(path), std::move(handler));
  } else {
    exactHandlers_.insert_or_assign(std::string(path), std::move(handler));
  }
  Subscribe(path);
}

void EventSubscriber::Subscribe(std::string_view path) {
  const std::string name = EventNameForPath(path);
  uint32_t& count = subscriptionCounts_[name];
  if (++count != 1) return;
  PftTrace("%s: Subscribing to event: %s", shortName_.c_str(), name.c_str());
  RegisterEventHandler(
      name, [this](const PluginResourceEvent& event) { DispatchResource(event); }, 0);
}

void EventSubscriber::Unsubscribe(std::string_view path) {
  const std::string name = EventNameForPath(path);
  const auto found = subscriptionCounts_.find(name);
  if (found == subscriptionCounts_.end() || found->second == 0) return;
  if (--found->second != 0) return;
  PftTrace("%s: Unsubscribing to event: %s", shortName_.c_str(), name.c_str());
  if (attached_) HostUnsubscribe(name.c_str(), hostHandle_);
  eventHandlers_.erase(name);
}

void EventSubscriber::StoreHandler(std::string_view eventName,
                                   std::shared_ptr<HandlerRecord> record) {
  const HandlerRecord& stored =
      *eventHandlers_.insert_or_assign(std::string(eventName), std::move(record)).first->second;
  if (attached_) {
    HostSubscribe(std::string(eventName).c_str(), hostHandle_, CallbackFor(stored.kind), this,
                  stored.flag);
  }
}

void EventSubscriber::RegisterEventHandler(std::string_view eventName, ResourceHandler handler,
                                           uint8_t flag) {
  StoreHandler(eventName, std::make_shared<HandlerRecord>(HandlerRecord{
                              EventPayloadKind::ResourceEvent, std::move(handler), {}, flag}));
}

void EventSubscriber::RegisterEventHandler(std::string_view eventName, ServiceProxyHandler handler,
                                           uint8_t flag) {
  StoreHandler(eventName,
               std::make_shared<HandlerRecord>(HandlerRecord{
                   EventPayloadKind::ServiceProxyResponse, {}, std::move(handler), flag}));
}

std::shared_ptr<EventSubscriber::HandlerRecord> EventSubscriber::FindHandler(
    std::string_view eventName) const {
  const auto found = eventHandlers_.find(eventName);
  return found != eventHandlers_.end() ? found->second : nullptr;
}

EventCallback EventSubscriber::CallbackFor(EventPayloadKind kind) noexcept {
  return kind == EventPayloadKind::ResourceEvent ? &DeliverResourceEvent
                                                 : &DeliverServiceProxyEvent;
}

namespace {

// The payload of a host event as record T; false (after a trace) when either conversion fails.
template <typename T>
bool ConvertPayload(const binding::BindingRegistry* registry, const EventRecord& record,
                    const char* shortName, T& out) {
  if (registry == nullptr) return false;
  const HostValue payload = record.payload;  // out of the packed record
  binding::BindingProperty value;
  HostError error{};
  bool ok = binding::FromHostValue(error, value, payload, "<value>");
  std::string message = error.message != nullptr ? error.message : "";
  base::PluginFree(const_cast<char*>(error.message));
  if (ok) {
    const binding::BindingResult converted =
        binding::ValueToNative(*registry, value, out, "<value>");
    ok = converted.ok();
    if (!ok) message = converted.ErrorText();
  }
  if (!ok) {
    PftTrace("%s: Couldn't convert payload %s for event %s: %s", shortName,
             binding::HostValueKindName(payload.kind), record.name, message.c_str());
  }
  return ok;
}

}  // namespace

template <typename Payload>
void EventSubscriber::Deliver(const EventRecord* record, EventPayloadKind kind,
                              void (*call)(const HandlerRecord&, const Payload&)) noexcept {
  if (record == nullptr || record->context == nullptr || record->name == nullptr) return;
  auto* self = static_cast<EventSubscriber*>(record->context);
  try {
    // Held for the call: the handler may replace or remove its own registration.
    const std::shared_ptr<HandlerRecord> handler = self->FindHandler(record->name);
    if (!handler || handler->kind != kind) return;
    PftTrace("%s: Handling event %s", self->shortName_.c_str(), record->name);
    Payload payload;
    if (!ConvertPayload(self->registry_, *record, self->shortName_.c_str(), payload)) return;
    call(*handler, payload);
  } catch (...) {
    // Nothing may cross back into the host; an event that cannot be handled is dropped.
  }
}

void EventSubscriber::DeliverResourceEvent(const EventRecord* record) noexcept {
  Deliver<PluginResourceEvent>(record, EventPayloadKind::ResourceEvent,
                               [](const HandlerRecord& handler, const PluginResourceEvent& event) {
                                 handler.onResource(event);
                               });
}

void EventSubscriber::DeliverServiceProxyEvent(const EventRecord* record) noexcept {
  Deliver<PluginServiceProxyResponse>(
      record, EventPayloadKind::ServiceProxyResponse,
      [](const HandlerRecord& handler, const PluginServiceProxyResponse& response) {
        handler.onServiceProxy(response);
      });
}

void EventSubscriber::DispatchResource(const PluginResourceEvent& incoming) {
  const PluginResourceEvent* event = &incoming;
  PluginResourceEvent rooted;
  if (incoming.uri.empty() || incoming.uri.front() != '/') {
    rooted.uri = "/" + incoming.uri;
    rooted.eventType = incoming.eventType;
    rooted.data.copyFrom(incoming.data);
    event = &rooted;
  }
  // Handlers may observe or drop paths while they run: each is copied out before its call, and
  // the pattern table is walked by index.
  const auto exact = exactHandlers_.find(event->uri);
  if (exact != exactHandlers_.end()) {
    const ResourceHandler handler = exact->second;
    handler(*event);
  }
  for (std::size_t i = 0; i < patternHandlers_.size(); ++i) {
    if (!MatchResourcePattern(patternHandlers_[i].first, event->uri)) continue;
    const ResourceHandler handler = patternHandlers_[i].second;
    handler(*event);
  }
}

binding::BindingResult EventSubscriber::SendResourceEvent(
    std::string_view baseEventName, const PluginResourceEvent& event, uint32_t word,
    std::span<const binding::HostValueGraft> grafts) {
  // The event is converted without its data, which the view then shows in place: the data can
  // be a whole survey, and a copy of it would only live for the two sends.
  PluginResourceEvent shell;
  shell.uri = event.uri;
  shell.eventType = event.eventType;
  return SendResourceEvent(baseEventName, shell, event.data, word, grafts);
}

binding::BindingResult EventSubscriber::SendResourceEvent(
    std::string_view baseEventName, const PluginResourceEvent& shell,
    const binding::BindingProperty& data, uint32_t word,
    std::span<const binding::HostValueGraft> grafts) {
  binding::BindingResult result;
  if (registry_ == nullptr) {
    result.SetError("No type registry to convert the event");
    return result;
  }
  binding::BindingResult value = binding::NativeToValue(*registry_, shell);
  if (!value.ok()) return value;
  const binding::BindingProperty* placeholder = &value.member("data");
  if (placeholder == &binding::BindingProperty::EmptyNode()) {
    // A registration that leaves the data out of the shell: convert the whole event after all.
    PluginResourceEvent event = shell;
    event.data = data;
    value = binding::NativeToValue(*registry_, event);
    if (!value.ok()) return value;
  }
  if (!attached_) {
    result.SetError("The plugin is not connected to its host");
    return result;
  }
  // The event's data first, then the caller's grafts.
  binding::HostValueGraftList shown(grafts.size() + 1);
  shown[0] = {placeholder, &data};
  for (std::size_t i = 0; i < grafts.size(); ++i) shown[i + 1] = grafts[i];
  const binding::HostValueView payload(value, registry_, shown.View());
  const EventName name(shell.uri);
  EventRecord record{};
  record.name = name.c_str();
  record.payload = payload.value();
  record.word = word;
  PftTrace("%s: Sending event: %s", shortName_.c_str(), name.c_str());
  HostSendEvent(&record);
  if (baseEventName != name.view()) {
    const std::string base(baseEventName);
    record.name = base.c_str();
    PftTrace("%s: Sending event: %s", shortName_.c_str(), base.c_str());
    HostSendEvent(&record);
  }
  return result;
}

void EventSubscriber::AttachEvents(uint32_t hostHandle, std::string shortName,
                                   std::string userAgent) {
  hostHandle_ = hostHandle;
  shortName_ = std::move(shortName);
  userAgent_ = std::move(userAgent);
  attached_ = true;
  // Observations made before the host link existed reach the host now.
  for (const auto& [name, record] : eventHandlers_) {
    HostSubscribe(name.c_str(), hostHandle_, CallbackFor(record->kind), this, record->flag);
  }
  RegisterEventHandler(
      "OnServiceProxyUuidEvent",
      [this](const PluginServiceProxyResponse& r) { OnServiceProxyUuid(r); }, 1);
  RegisterEventHandler(
      "OnServiceProxyMethodEvent",
      [this](const PluginServiceProxyResponse& r) { OnServiceProxyMethod(r); }, 1);
  RegisterEventHandler(
      "OnServiceProxyAsyncEvent",
      [this](const PluginServiceProxyResponse& r) { OnServiceProxyAsync(r); }, 1);
}

namespace {

std::string MethodKey(const PluginServiceProxyResponse& response) {
  return diagnostics::FormatText("%1.%2", response.serviceName, response.methodName);
}

template <typename Table>
void InsertOrReplace(Table& table, std::string key, typename Table::value_type::second_type value) {
  for (auto& [existingKey, existing] : table) {
    if (existingKey == key) {
      existing = std::move(value);
      return;
    }
  }
  table.emplace_back(std::move(key), std::move(value));
}

}  // namespace

void EventSubscriber::OnServiceProxyUuid(const PluginServiceProxyResponse& response) {
  {
    std::lock_guard lock(serviceProxyMutex_);
    InsertOrReplace(receivedResponses_, response.uuid, response);
  }
  FulfilServiceProxyRequest();
}

void EventSubscriber::OnServiceProxyMethod(const PluginServiceProxyResponse& response) {
  {
    std::lock_guard lock(serviceProxyMutex_);
    InsertOrReplace(receivedResponses_, MethodKey(response), response);
  }
  FulfilServiceProxyRequest();
}

void EventSubscriber::OnServiceProxyAsync(const PluginServiceProxyResponse& response) {
  const std::string key = MethodKey(response);
  ServiceProxyHandler handler;
  {
    std::lock_guard lock(serviceProxyMutex_);
    const auto found = asyncHandlers_.find(key);
    if (found != asyncHandlers_.end()) handler = found->second;
  }
  if (!handler) {
    diagnostics::LogPrintf(diagnostics::kLogError, diagnostics::kCategoryDbg,
                           "%s: Could not find registered handler for async service proxy event %s",
                           shortName_.c_str(), key.c_str());
    return;
  }
  // Called outside the lock, so that a handler may register or wait for further responses.
  handler(response);
}

void EventSubscriber::FulfilServiceProxyRequest() {
  ServiceProxyHandler completion;
  std::string key;
  PluginServiceProxyResponse response;
  {
    std::lock_guard lock(serviceProxyMutex_);
    for (auto received = receivedResponses_.begin(); received != receivedResponses_.end();
         ++received) {
      auto pending = std::find_if(pendingRequests_.begin(), pendingRequests_.end(),
                                  [&](const auto& p) { return p.first == received->first; });
      if (pending == pendingRequests_.end()) continue;
      key = received->first;
      completion = std::move(pending->second);
      response = std::move(received->second);
      pendingRequests_.erase(pending);
      receivedResponses_.erase(received);
      break;
    }
  }
  if (!completion) return;
  // As with async handlers, the completion runs outside the lock.
  completion(response);
  diagnostics::LogPrintf(diagnostics::kLogAlways, diagnostics::kCategoryDbg,
                         "%s: Fulfilled service proxy request: %s", shortName_.c_str(),
                         key.c_str());
}

void EventSubscriber::AddPendingServiceProxyRequest(std::string key,
                                                    ServiceProxyHandler completion) {
  {
    std::lock_guard lock(serviceProxyMutex_);
    InsertOrReplace(pendingRequests_, std::move(key), std::move(completion));
  }
  // A response may have come first.
  FulfilServiceProxyRequest();
}

void EventSubscriber::SetAsyncServiceProxyHandler(std::string key, ServiceProxyHandler handler) {
  std::lock_guard lock(serviceProxyMutex_);
  asyncHandlers_.insert_or_assign(std::move(key), std::move(handler));
}

uint32_t EventSubscriber::SubscriptionCount(std::string_view eventName) const {
  const auto found = subscriptionCounts_.find(eventName);
  return found != subscriptionCounts_.end() ? found->second : 0;
}

bool EventSubscriber::HasEventHandler(std::string_view eventName) const {
  return eventHandlers_.find(eventName) != eventHandlers_.end();
}

void EventSubscriber::Shutdown() {
  if (attached_) {
    for (const auto& entry : eventHandlers_) HostUnsubscribe(entry.first.c_str(), hostHandle_);
  }
  eventHandlers_.clear();
  {
    std::lock_guard lock(serviceProxyMutex_);
    pendingRequests_.clear();
    asyncHandlers_.clear();
    receivedResponses_.clear();
  }
  exactHandlers_.clear();
  patternHandlers_.clear();
}

}  // namespace vyn::plugin
