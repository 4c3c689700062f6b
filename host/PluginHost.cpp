// The reference host around one loaded plugin.
#include "host/PluginHost.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <unordered_map>

#include "host/EndpointResponse.h"
#include "host/EventName.h"
#include "host/HostNames.h"
#include "host/HostValueJson.h"
#include "host/JsonDocument.h"
#include "host/OutgoingHttp.h"
#include "host/OwnedHostValue.h"

namespace vyn::host {
namespace {

constexpr uint32_t kMethodGet = 2;

// What the host allocated for one answer to the plugin's local request. The plugin gives the
// record back through its cleanup function, so every allocation is found again by the
// addresses that the record holds: the result tree's root array or text, and the error text.
struct KeptAnswer {
  OwnedHostValue value;
  std::string message;
};

class KeptAnswers {
 public:
  static KeptAnswers& Instance() {
    static KeptAnswers instance;
    return instance;
  }

  void Keep(std::shared_ptr<KeptAnswer> answer, const void* valueKey, const void* messageKey) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (valueKey != nullptr) answers_[valueKey] = answer;
    if (messageKey != nullptr) answers_[messageKey] = answer;
  }

  void Release(const void* key) {
    if (key == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.erase(key);
  }

 private:
  std::mutex mutex_;  // guards answers_
  std::unordered_map<const void*, std::shared_ptr<KeptAnswer>> answers_;
};

const void* TreeKey(const HostValue& value) {
  return value.kind >= kHostValueStringBorrowed && value.kind <= kHostValueStructure
             ? value.payload.ref.ptr
             : nullptr;
}

void ReleaseLocalAnswer(ResponseRecord* record) {
  if (record == nullptr) return;
  const HostError error = record->error;
  KeptAnswers::Instance().Release(TreeKey(error.value));
  KeptAnswers::Instance().Release(error.message);
  std::memset(static_cast<void*>(record), 0, sizeof *record);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string PathOf(const std::string& target) { return target.substr(0, target.find('?')); }

HttpReply JsonReply(int status, std::string json) {
  HttpReply reply;
  reply.status = status;
  reply.contentType = "application/json";
  reply.body = std::move(json);
  return reply;
}

std::string ResourceEventJson(const std::string& path, const char* eventType, size_t delivered) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("uri");
  writer.String(path.data(), static_cast<rapidjson::SizeType>(path.size()), true);
  writer.Key("eventType");
  writer.String(eventType);
  writer.Key("delivered");
  writer.Uint64(delivered);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string EventErrorJson(const std::string& name, const std::string& message) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("event");
  writer.String(name.data(), static_cast<rapidjson::SizeType>(name.size()), true);
  writer.Key("message");
  writer.String(message.data(), static_cast<rapidjson::SizeType>(message.size()), true);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string ValueJson(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace

PluginHost::PluginHost(ResourceValues resources) : resources_(std::move(resources)) {
  table_.functions =
      HostFunctions{OnRequest,   OnExternalRequest, OnSendEvent, OnSubscribe, OnUnsubscribe,
                    OnReserved5, OnYield,           OnBeginWait, OnEndWait,   OnLog};
  table_.owner = this;
  hostApi_.functions = &table_.functions;
  hostApi_.hostHandle = kPluginHandle;
}

PluginHost::~PluginHost() { Stop(); }

bool PluginHost::Start(const std::string& libraryPath, std::string& error) {
  bool loaded = false;
  const bool ran = executor_.Run([&] {
    if (!library_.Load(libraryPath, kApiMajor, kApiMinor, kApiPatch, error)) return;
    loaded = true;
    const PluginLoadBlock& block = library_.block();
    if (block.api != nullptr) {
      const ApiDescription description = *block.api;
      api_ = SnapshotApi(description);
    }
    for (const EndpointInfo& endpoint : api_.endpoints) routes_.emplace_back(endpoint.pathTemplate);
    started_ = true;
    ready_ = library_.Initialize(&hostApi_);
  });
  if (!ran) error = "the host is stopped";
  return ran && loaded;
}

void PluginHost::Stop() {
  if (stopped_.exchange(true)) return;
  static_cast<void>(executor_.Run([&] { library_.Unload(); }));
  executor_.Stop();
}

void PluginHost::MemoryStats(uint32_t out[14]) {
  std::fill(out, out + 14, 0u);
  static_cast<void>(executor_.Run([&] { library_.MemoryStats(out); }));
}

int PluginHost::AddEventListener(EventListener listener) {
  std::lock_guard<std::mutex> lock(listenersMutex_);
  const int id = nextListener_++;
  listeners_[id] = std::move(listener);
  return id;
}

void PluginHost::RemoveEventListener(int id) {
  std::lock_guard<std::mutex> lock(listenersMutex_);
  listeners_.erase(id);
}

HttpReply PluginHost::Handle(const HttpCall& call) {
  if (call.body.size() > UINT32_MAX) return ErrorReply(413, "the body is too large");
  if (call.target.empty() || call.target[0] != '/') {
    return ErrorReply(400, "the target '" + call.target + "' is not a path");
  }
  if (!started_ || stopped_) return ErrorReply(503, "the host is shutting down");
  if (EndpointsMayTake(call)) {
    HttpReply reply = ErrorReply(503, "the host is shutting down");
    bool taken = false;
    const bool ran =
        executor_.Run([&] { taken = !started_ || stopped_ || CallEndpoints(call, reply); });
    if (!ran) return ErrorReply(503, "the host is shutting down");
    if (taken) return reply;
  }
  const std::string path = PathOf(call.target);
  if (call.method == "PUT" || call.method == "DELETE")
    return ChangeResource(call.method, path, call.body);
  if (call.method == "GET" || call.method == "HEAD") return ReadResource(path);
  if (MethodCode(call.method) == kMethodCustom) {
    return ErrorReply(
        501, "the method " + call.method + " is not implemented here: no endpoint takes it");
  }
  return ErrorReply(404, "no endpoint takes " + call.method + " " + path);
}

bool PluginHost::EndpointsMayTake(const HttpCall& call) const {
  const std::string method = call.method == "HEAD" ? "GET" : call.method;
  const uint32_t code = MethodCode(method);
  for (size_t i = 0; i < api_.endpoints.size() && i < routes_.size(); ++i) {
    const EndpointInfo& endpoint = api_.endpoints[i];
    if (endpoint.invoke == nullptr) continue;
    if (endpoint.methodCode != 0 && endpoint.methodCode != code) continue;
    if (code == kMethodCustom && endpoint.methodCode == kMethodCustom &&
        endpoint.customMethod != method) {
      continue;
    }
    if (routes_[i].Takes(call.target)) return true;
  }
  return false;
}

std::vector<std::string> PluginHost::MissingResources(const std::vector<std::string>& paths) {
  std::lock_guard<std::mutex> lock(resourcesMutex_);
  std::vector<std::string> missing;
  for (const std::string& path : paths) {
    if (resources_.count(path) == 0) missing.push_back(path);
  }
  return missing;
}

bool PluginHost::CallEndpoints(const HttpCall& call, HttpReply& reply) {
  // A HEAD asks what a GET would answer; the server leaves out the body.
  const std::string method = call.method == "HEAD" ? "GET" : call.method;
  const uint32_t code = MethodCode(method);

  // Header names go in lower case: the plugin looks its header arguments up that way.
  std::vector<std::pair<std::string, std::string>> texts;
  texts.reserve(call.headers.size());
  std::string contentType;
  for (const auto& [name, value] : call.headers) {
    std::string lower = Lower(name);
    if (lower == "content-type") contentType = value;
    texts.emplace_back(std::move(lower), value);
  }
  std::vector<HostHeader> headers;
  headers.reserve(texts.size());
  for (const auto& [name, value] : texts)
    headers.push_back(HostHeader{name.c_str(), value.c_str()});

  RequestRecord request{};
  request.method = code;
  request.path = call.target.c_str();
  request.headers = headers.empty() ? nullptr : headers.data();
  request.headerCount = static_cast<uint32_t>(headers.size());
  request.contentType = contentType.c_str();
  // std::string keeps a NUL after its bytes, which the plugin's text parsers rely on.
  request.body = call.body.empty() ? nullptr : call.body.c_str();
  request.bodyLength = static_cast<uint32_t>(call.body.size());
  request.hostHandle = 0;
  request.customMethod = code == kMethodCustom ? method.c_str() : nullptr;

  for (const EndpointInfo& endpoint : api_.endpoints) {
    if (endpoint.invoke == nullptr) continue;
    if (endpoint.methodCode != 0 && endpoint.methodCode != code) continue;
    if (code == kMethodCustom && endpoint.methodCode == kMethodCustom &&
        endpoint.customMethod != method) {
      continue;
    }
    request.endpointContext = endpoint.endpointContext;
    ResponseRecord response{};
    endpoint.invoke(&response, &request);
    bool notThisEndpoint = false;
    HttpReply answer = ReadEndpointResponse(response, notThisEndpoint);
    if (!notThisEndpoint) {
      reply = std::move(answer);
      return true;
    }
  }
  return false;
}

HttpReply PluginHost::ReadResource(const std::string& path) {
  std::lock_guard<std::mutex> lock(resourcesMutex_);
  auto found = resources_.find(path);
  if (found == resources_.end()) return ErrorReply(404, "no endpoint or resource at " + path);
  return JsonReply(200, ValueJson(found->second));
}

HttpReply PluginHost::ChangeResource(const std::string& method, const std::string& path,
                                     const std::string& body) {
  rapidjson::Document data;
  const char* eventType = "Delete";
  if (method == "PUT") {
    if (body.find_first_not_of(" \t\r\n") == std::string::npos) {
      data.SetNull();
    } else {
      std::string reason;
      size_t offset = 0;
      const JsonParse parsed = ParseJsonDocument(body, data, reason, offset);
      if (parsed != JsonParse::Ok) {
        return ErrorReply(
            400,
            std::string(parsed == JsonParse::TooDeep ? "the body is " : "the body is not JSON: ") +
                reason + " at offset " + std::to_string(offset));
      }
    }
    std::lock_guard<std::mutex> lock(resourcesMutex_);
    auto found = resources_.find(path);
    eventType = found == resources_.end() ? "Create" : "Update";
    rapidjson::Document stored;
    stored.CopyFrom(data, stored.GetAllocator());  // no deeper than the parse allowed
    resources_[path] = std::move(stored);
  } else {
    std::lock_guard<std::mutex> lock(resourcesMutex_);
    if (resources_.erase(path) == 0) return ErrorReply(404, "no resource at " + path);
    data.SetNull();
  }
  size_t delivered = 0;
  if (HasSubscribers(path)) {
    const bool ran = executor_.Run([&] {
      if (started_ && !stopped_) delivered = DeliverResourceEvent(path, eventType, data);
    });
    if (!ran) return ErrorReply(503, "the host is shutting down");
  }
  return JsonReply(200, ResourceEventJson(path, eventType, delivered));
}

bool PluginHost::HasSubscribers(const std::string& path) {
  const std::string name = EventNameForPath(path);
  std::lock_guard<std::mutex> lock(subscriptionsMutex_);
  for (const auto& subscription : subscriptions_) {
    if (subscription.name == name || subscription.name == kResourceEventBase) return true;
  }
  return false;
}

size_t PluginHost::DeliverResourceEvent(const std::string& path, const char* eventType,
                                        const rapidjson::Value& data) {
  OwnedHostValue uri;
  uri.AssignString(path);
  OwnedHostValue type;
  type.AssignString(eventType);
  OwnedHostValue tree;
  std::string error;
  if (!tree.Assign(data, error)) {
    std::fprintf(stderr, "vyn-host: the data of %s is not delivered: %s\n", path.c_str(),
                 error.c_str());
    return 0;
  }
  OwnedHostValue payload;
  payload.AssignStructure(
      {{"uri", uri.value()}, {"eventType", type.value()}, {"data", tree.value()}});

  std::vector<std::string> names{EventNameForPath(path)};
  if (names[0] != kResourceEventBase) names.emplace_back(kResourceEventBase);
  size_t delivered = 0;
  for (const std::string& name : names) {
    std::vector<Subscription> targets;
    {
      std::lock_guard<std::mutex> lock(subscriptionsMutex_);
      for (const auto& subscription : subscriptions_) {
        if (subscription.name == name) targets.push_back(subscription);
      }
    }
    for (const auto& target : targets) {
      if (target.callback == nullptr) continue;
      EventRecord record{};
      record.name = name.c_str();
      record.payload = payload.value();
      record.word = 0;
      record.context = target.context;
      target.callback(&record);
      ++delivered;
    }
  }
  return delivered;
}

PluginHost& PluginHost::From(HostFunctions* self) {
  return *reinterpret_cast<HostTable*>(self)->owner;
}

void PluginHost::OnRequest(HostFunctions* self, ResponseRecord* response,
                           const RequestRecord* request) {
  if (response == nullptr || request == nullptr) return;
  From(self).AnswerLocalRequest(*response, *request);
}

void PluginHost::AnswerLocalRequest(ResponseRecord& response, const RequestRecord& request) {
  auto answer = std::make_shared<KeptAnswer>();
  const std::string path = PathOf(request.path != nullptr ? request.path : "");
  const uint32_t method = request.method;
  bool found = false;
  if (method == kMethodGet) {
    std::lock_guard<std::mutex> lock(resourcesMutex_);
    auto resource = resources_.find(path);
    if (resource != resources_.end()) {
      std::string error;
      if (answer->value.Assign(resource->second, error)) {
        found = true;
      } else {
        answer->message = "the resource " + path + " cannot be handed over: " + error;
      }
    }
  }
  HostError error{};
  if (found) {
    response.status = 200;
    error.value = answer->value.value();
  } else {
    if (answer->message.empty()) {
      answer->message = method == kMethodGet ? "no resource at " + path
                                             : std::string("the method ") + MethodName(method) +
                                                   " is not allowed on " + path;
    }
    response.status = method == kMethodGet ? 404 : 405;
    error.message = answer->message.c_str();
    error.failed = 1;
  }
  response.error = error;
  response.cleanup = ReleaseLocalAnswer;
  const void* valueKey = TreeKey(error.value);
  const void* messageKey = error.message;
  KeptAnswers::Instance().Keep(std::move(answer), valueKey, messageKey);
}

void PluginHost::OnExternalRequest(HostFunctions* self, ExternalResponseRecord* response,
                                   const ExternalRequestRecord* request) {
  if (response == nullptr || request == nullptr) return;
  // The answer's texts stay valid until this thread asks again, as the plugin expects.
  struct LastAnswer {
    OutgoingResponse response;
    std::vector<HostHeader> headers;
  };
  thread_local LastAnswer last;

  const ExternalRequestRecord record = *request;
  OutgoingRequest outgoing;
  outgoing.method = MethodName(record.method);
  outgoing.url = record.url != nullptr ? record.url : "";
  outgoing.timeoutSeconds = From(self).serviceTimeoutSeconds_;
  if (record.headers != nullptr) {
    for (uint32_t i = 0; i < record.headerCount; ++i) {
      HostHeader header;
      std::memcpy(&header, record.headers + i, sizeof header);
      if (header.name == nullptr) continue;
      outgoing.headers.emplace_back(header.name, header.value != nullptr ? header.value : "");
    }
  }
  if (record.body != nullptr) outgoing.body.assign(record.body, record.bodyLength);

  if (outgoing.method.empty()) {
    last.response = OutgoingResponse{};
    last.response.transport = kTransportFailed;
    last.response.body =
        "the method code " + std::to_string(record.method) + " cannot be sent as an HTTP request";
  } else {
    last.response = SendOutgoing(outgoing);
  }
  last.headers.clear();
  for (const auto& [name, value] : last.response.headers) {
    last.headers.push_back(HostHeader{name.c_str(), value.c_str()});
  }
  ExternalResponseRecord answer{};
  answer.transport = last.response.transport;
  answer.status = last.response.status;
  answer.headers = last.headers.empty() ? nullptr : last.headers.data();
  answer.headerCount = static_cast<uint32_t>(last.headers.size());
  answer.body = last.response.body.c_str();
  answer.bodyLength = static_cast<uint32_t>(last.response.body.size());
  *response = answer;
}

void PluginHost::OnSendEvent(HostFunctions* self, const EventRecord* event) {
  if (event == nullptr) return;
  From(self).PublishFromPlugin(*event);
}

void PluginHost::PublishFromPlugin(const EventRecord& event) {
  PublishedEvent published;
  published.name = event.name != nullptr ? event.name : "";
  std::string error;
  const HostValue payload = event.payload;
  if (!HostValueToJson(payload, published.payloadJson, error)) {
    // Readers learn that something was published and why they cannot see it.
    std::fprintf(stderr, "vyn-host: the event %s is not passed on: %s\n", published.name.c_str(),
                 error.c_str());
    published.payloadJson = EventErrorJson(published.name, error);
    published.name = kEventErrorName;
  }
  std::vector<EventListener> listeners;
  {
    std::lock_guard<std::mutex> lock(listenersMutex_);
    for (const auto& entry : listeners_) listeners.push_back(entry.second);
  }
  for (const auto& listener : listeners) listener(published);
}

void PluginHost::OnSubscribe(HostFunctions* self, const char* eventName, uint32_t hostHandle,
                             EventCallback callback, void* context, uint8_t flag) {
  if (eventName == nullptr) return;
  PluginHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.subscriptionsMutex_);
  // One subscription per name and handle: subscribing again replaces the callback.
  for (auto& subscription : host.subscriptions_) {
    if (subscription.name == eventName && subscription.hostHandle == hostHandle) {
      subscription.callback = callback;
      subscription.context = context;
      subscription.flag = flag;
      return;
    }
  }
  host.subscriptions_.push_back(Subscription{eventName, hostHandle, callback, context, flag});
}

void PluginHost::OnUnsubscribe(HostFunctions* self, const char* eventName, uint32_t hostHandle) {
  if (eventName == nullptr) return;
  PluginHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.subscriptionsMutex_);
  auto& list = host.subscriptions_;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const Subscription& s) {
                              return s.name == eventName && s.hostHandle == hostHandle;
                            }),
             list.end());
}

void PluginHost::OnReserved5(HostFunctions*, uint32_t, uint32_t, uint32_t, double, uint32_t) {}

// Deliveries run only between the plugin's calls, never inside one, so there is nothing
// pending for a yield to run.
void PluginHost::OnYield(HostFunctions*) { std::this_thread::yield(); }
void PluginHost::OnBeginWait(HostFunctions*, const char*, uint32_t) {}
void PluginHost::OnEndWait(HostFunctions*) {}

void PluginHost::OnLog(HostFunctions* self, int32_t level, const char* message) {
  const PluginLoadBlock& block = From(self).library_.block();
  std::string text = message != nullptr ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  std::fprintf(stderr, "[%s %s] %s\n", block.shortName != nullptr ? block.shortName : "plugin",
               LevelName(level).c_str(), text.c_str());
}

}  // namespace vyn::host
