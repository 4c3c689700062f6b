// The reference host around one loaded plugin.
#include "host/PluginHost.h"

#include <rapidjson/error/en.h>
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

#include "host/EventName.h"
#include "host/HostNames.h"
#include "host/HostValueJson.h"
#include "host/OutgoingHttp.h"
#include "host/OwnedHostValue.h"

namespace vyn::host {
namespace {

constexpr uint32_t kMethodGet = 2;
constexpr char kInvalidFunction[] = "Invalid function";
// A streamed endpoint answer is held in memory whole; past this size it is refused.
constexpr size_t kMaxStreamBytes = 64u << 20;
// Empty reads in a row, a millisecond apart, before a stream that never ends is given up.
constexpr int kMaxIdleStreamReads = 30000;
constexpr long kOutgoingTimeoutSeconds = 30;

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

const char* ErrorCodeForStatus(int status) {
  switch (status) {
    case 400:
      return "BAD_REQUEST";
    case 404:
      return "NOT_FOUND";
    case 405:
      return "METHOD_NOT_ALLOWED";
    case 413:
      return "PAYLOAD_TOO_LARGE";
    case 502:
      return "BAD_GATEWAY";
    case 503:
      return "UNAVAILABLE";
    default:
      return status >= 500 ? "INTERNAL_ERROR" : "REQUEST_FAILED";
  }
}

HttpReply JsonReply(int status, std::string json) {
  HttpReply reply;
  reply.status = status;
  reply.contentType = "application/json";
  reply.body = std::move(json);
  return reply;
}

// A failure with status 0 is one the plugin found in the call itself (arguments it could not
// bind); a failure that claims a success status is still a failure.
int FailureStatus(uint32_t status) {
  if (status >= 400 && status <= 599) return static_cast<int>(status);
  return status == 0 ? 400 : 500;
}

HttpReply ReadStream(ResponseRecord& response, int status,
                     const std::vector<std::pair<std::string, std::string>>& headers, bool& ok) {
  std::string body;
  std::string failure;
  int idle = 0;
  for (;;) {
    char buffer[4096];
    uint32_t length = sizeof buffer;
    uint8_t more = 1;
    if (response.read(response.stream, buffer, &length, &more) == 0) {
      failure = "the plugin's stream failed while it was read";
      break;
    }
    if (length > sizeof buffer) {
      failure = "the plugin's stream reported more bytes than the buffer holds";
      break;
    }
    body.append(buffer, length);
    if (more == 0) break;
    if (body.size() > kMaxStreamBytes) {
      failure = "the plugin's stream is larger than " + std::to_string(kMaxStreamBytes) + " bytes";
      break;
    }
    if (length == 0) {
      if (++idle > kMaxIdleStreamReads) {
        failure = "the plugin's stream stopped delivering";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
      idle = 0;
    }
  }
  if (response.close != nullptr) response.close(response.stream);
  ok = failure.empty();
  if (!ok) return ErrorReply(500, failure);
  HttpReply reply;
  reply.status = status;
  reply.body = std::move(body);
  reply.contentType = "application/json";
  for (const auto& [name, value] : headers) {
    if (Lower(name) == "content-type") reply.contentType = value;
  }
  return reply;
}

// Turns the plugin's answer into a reply and gives the record back exactly once. Sets
// notThisEndpoint when the endpoint's route did not take the call.
HttpReply ReadEndpointResponse(ResponseRecord& response, bool& notThisEndpoint) {
  const HostError error = response.error;
  const bool failed = error.failed != 0 || error.message != nullptr;
  const std::string message = error.message != nullptr ? error.message : "";
  const uint32_t status = response.status;
  notThisEndpoint = failed && status == 404 && message == kInvalidFunction;

  std::vector<std::pair<std::string, std::string>> headers;
  const HostHeader* headerArray = response.headers;
  if (headerArray != nullptr) {
    for (uint32_t i = 0; i < response.headerCount; ++i) {
      HostHeader header;
      std::memcpy(&header, headerArray + i, sizeof header);
      if (header.name == nullptr) continue;
      const std::string name = header.name;
      const std::string lower = Lower(name);
      if (lower == "content-length" || lower == "transfer-encoding" || lower == "connection") {
        continue;
      }
      headers.emplace_back(name, header.value != nullptr ? header.value : "");
    }
  }

  HttpReply reply;
  // The plugin's own headers go with the plugin's own answer, not with a host error replacing it.
  bool pluginAnswer = false;
  if (notThisEndpoint) {
    if (response.read != nullptr && response.close != nullptr) response.close(response.stream);
  } else if (response.read != nullptr) {
    const bool valid = status == 0 || (status >= 200 && status <= 599);
    reply = ReadStream(response,
                       status == 0 ? 200
                       : valid     ? static_cast<int>(status)
                                   : 500,
                       headers, pluginAnswer);
  } else if (failed) {
    reply = ErrorReply(FailureStatus(status), message);
    pluginAnswer = true;
  } else if (status != 0 && (status < 200 || status > 599)) {
    reply = ErrorReply(500, "the plugin answered with the status " + std::to_string(status));
  } else {
    reply.status = status == 0 ? 200 : static_cast<int>(status);
    pluginAnswer = true;
    if (error.value.kind != kHostValueEmpty) {
      std::string json;
      std::string why;
      if (HostValueToJson(error.value, json, why)) {
        reply.contentType = "application/json";
        reply.body = std::move(json);
      } else {
        reply = ErrorReply(500, "the plugin's result cannot be shown as JSON: " + why);
        pluginAnswer = false;
      }
    }
  }
  if (pluginAnswer) {
    for (auto& header : headers) {
      if (Lower(header.first) != "content-type") reply.headers.push_back(std::move(header));
    }
  }
  if (response.cleanup != nullptr) response.cleanup(&response);
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

std::string ValueJson(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace

HttpReply ErrorReply(int status, const std::string& message) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("errorCode");
  writer.String(ErrorCodeForStatus(status));
  writer.Key("httpStatus");
  writer.Int(status);
  writer.Key("message");
  writer.String(message.data(), static_cast<rapidjson::SizeType>(message.size()), true);
  writer.EndObject();
  return JsonReply(status, std::string(buffer.GetString(), buffer.GetSize()));
}

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
  HttpReply reply = ErrorReply(503, "the host is shutting down");
  const bool ran = executor_.Run([&] {
    if (!started_ || stopped_) return;
    if (CallEndpoints(call, reply)) return;
    const std::string path = PathOf(call.target);
    if (call.method == "PUT" || call.method == "DELETE") {
      reply = ChangeResource(call.method, path, call.body);
    } else if (call.method == "GET" || call.method == "HEAD") {
      reply = ReadResource(path);
    } else {
      reply = ErrorReply(404, "no endpoint takes " + call.method + " " + path);
    }
  });
  if (!ran) return ErrorReply(503, "the host is shutting down");
  return reply;
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
      data.Parse<rapidjson::kParseIterativeFlag>(body.data(), body.size());
      if (data.HasParseError()) {
        return ErrorReply(400, std::string("the body is not JSON: ") +
                                   rapidjson::GetParseError_En(data.GetParseError()) +
                                   " at offset " + std::to_string(data.GetErrorOffset()));
      }
    }
    std::lock_guard<std::mutex> lock(resourcesMutex_);
    auto found = resources_.find(path);
    eventType = found == resources_.end() ? "Create" : "Update";
    rapidjson::Document stored;
    stored.CopyFrom(data, stored.GetAllocator());
    resources_[path] = std::move(stored);
  } else {
    std::lock_guard<std::mutex> lock(resourcesMutex_);
    if (resources_.erase(path) == 0) return ErrorReply(404, "no resource at " + path);
    data.SetNull();
  }
  const size_t delivered = DeliverResourceEvent(path, eventType, data);
  return JsonReply(200, ResourceEventJson(path, eventType, delivered));
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

void PluginHost::OnExternalRequest(HostFunctions*, ExternalResponseRecord* response,
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
  outgoing.timeoutSeconds = kOutgoingTimeoutSeconds;
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
    std::fprintf(stderr, "vyn-host: the event %s is not passed on: %s\n", published.name.c_str(),
                 error.c_str());
    return;
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
