// Fuzzes whole endpoint calls as a host makes them: the plugin is loaded through its export and
// initialised with a small host of this file, and each input becomes one request record (endpoint,
// method, path with query, content type, headers, typed arguments, body) handed to the invoke
// entry of an endpoint descriptor of the API description. A player is signed in from the start.
// The first byte chooses how the host answers what the plugin asks in turn: local requests with
// an error and outside requests with a transport failure, or, in service mode, the configuration
// the feature needs and a feedback service whose status and body come from the input, so that
// the service's answers are fuzzed as well. Besides crashes, leaks
// and undefined behaviour it checks the response contract: either a failure flag with a message and
// no value, or neither; well-formed texts, headers and values; a stream read to its end and closed
// once; and a clean-up function that leaves the record zeroed. It checks the host side too: every
// response the host filled was cleaned up once, and every wait that began has ended.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/HostValueConversion.h"
#include "binding/PageCache.h"
#include "formats/Json.h"
#include "fuzz/FuzzSupport.h"
#include "base/HostAbi.h"

extern "C" void load_vyn_pft(PluginLoadBlock* block) noexcept;

namespace {

using vyn::fuzz::Violated;

constexpr uint32_t kHostHandle = 0x5EED;
constexpr char kTransportError[] = "fuzz host: no network";

// The host. Its function table comes first, so that the table pointer the plugin passes back
// leads to the rest.
struct FuzzHost {
  HostFunctions functions;
  long outstandingResponses = 0;  // filled by the host, not yet cleaned up by the plugin
  long openWaits = 0;
  // Service mode: the configuration is answered, and the service answers with these.
  bool serviceMode = false;
  uint32_t serviceStatus = 0;
  std::string serviceBody;  // the host's until the next outside request
  struct Subscription {
    std::string name;
    EventCallback callback;
    void* context;
  };
  std::vector<Subscription> subscriptions;
};

FuzzHost gHost;
HostApi gHostApi;
PluginLoadBlock gBlock;
// The plugin stays loaded until the process ends. The leak checker only follows aligned pointers,
// which the packed load block does not hold, so the object is kept reachable here.
void* gPlugin = nullptr;
std::vector<EndpointDescriptor> gEndpoints;

FuzzHost& HostOf(HostFunctions* self) {
  if (self != &gHost.functions) Violated("a host function called with another table");
  return gHost;
}

void CleanupHostResponse(ResponseRecord* record) {
  if (record == nullptr) Violated("a host response cleaned up without its record");
  std::free(const_cast<char*>(record->error.message));
  std::memset(record, 0, sizeof *record);
  --gHost.outstandingResponses;
}

void CleanupHostValueResponse(ResponseRecord* record) {
  if (record == nullptr) Violated("a host response cleaned up without its record");
  HostValue value = record->error.value;
  vyn::binding::ReleaseHostValue(value);
  std::memset(record, 0, sizeof *record);
  --gHost.outstandingResponses;
}

// A host value made from JSON text, released by the caller.
HostValue HostValueOf(const char* json) {
  vyn::binding::BindingResult parsed = vyn::formats::ParseJson(json);
  if (!parsed.ok()) Violated("the harness's own JSON does not parse");
  return vyn::binding::ToHostValue(parsed, nullptr);
}

// What the sibling plugins answer in service mode; null for paths nobody serves.
const char* SiblingResource(std::string_view path) {
  if (path == "/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl") {
    return R"("https://feedback.fuzz")";
  }
  if (path == "/tarnclient/region-locale") {
    return R"({"region": "EU W", "locale": "de_DE", "webRegion": "euw", "webLanguage": "de"})";
  }
  if (path == "/vyn-login/v1/login-data-packet") return R"({"platformId": "EUW1"})";
  if (path == "/system/v1/builds") return R"({"codeBuildId": "1.2", "contentBuildId": "3"})";
  return nullptr;
}

// Local requests fail as a host answers an unknown or broken local endpoint: status and message,
// with the host's own clean-up. In service mode the feature's configuration is answered.
void HostRequest(HostFunctions* self, ResponseRecord* response, const RequestRecord* request) {
  FuzzHost& host = HostOf(self);
  if (response == nullptr || request == nullptr) Violated("a local request without its records");
  const RequestRecord asked = *request;
  if (asked.path == nullptr) Violated("a local request without a path");
  if (asked.argCount != 0 && asked.args == nullptr) Violated("local request arguments missing");
  const char* resource = host.serviceMode ? SiblingResource(asked.path) : nullptr;
  if (resource != nullptr) {
    ResponseRecord answered;
    std::memset(&answered, 0, sizeof answered);
    answered.error.value = HostValueOf(resource);
    answered.cleanup = &CleanupHostValueResponse;
    ++host.outstandingResponses;
    *response = answered;
    return;
  }
  ResponseRecord out;
  std::memset(&out, 0, sizeof out);
  char* message = static_cast<char*>(std::malloc(64));
  if (message == nullptr) std::abort();
  std::strcpy(message, "fuzz host: no local API");
  out.error.message = message;
  out.error.failed = 1;
  out.status = 503;
  out.cleanup = &CleanupHostResponse;
  ++host.outstandingResponses;
  *response = out;
}

void HostExternalRequest(HostFunctions* self, ExternalResponseRecord* response,
                         const ExternalRequestRecord* request) {
  FuzzHost& host = HostOf(self);
  if (response == nullptr || request == nullptr) Violated("an outside request without records");
  if (request->url == nullptr) Violated("an outside request without a URL");
  ExternalResponseRecord out;
  std::memset(&out, 0, sizeof out);
  if (host.serviceMode) {
    out.status = host.serviceStatus;
    out.body = host.serviceBody.data();
    out.bodyLength = static_cast<uint32_t>(host.serviceBody.size());
  } else {
    out.transport = 1;
    out.body = kTransportError;
    out.bodyLength = sizeof kTransportError - 1;
  }
  *response = out;
}

void HostSendEvent(HostFunctions* self, const EventRecord* event) {
  HostOf(self);
  if (event == nullptr || event->name == nullptr) Violated("an event without a name");
}

void HostSubscribe(HostFunctions* self, const char* eventName, uint32_t, EventCallback callback,
                   void* context, uint8_t) {
  FuzzHost& host = HostOf(self);
  if (eventName == nullptr || callback == nullptr) Violated("a subscription without a name");
  host.subscriptions.push_back({eventName, callback, context});
}

// Delivers a resource event to the plugin's subscription of that event name.
void Deliver(const char* eventName, const char* payloadJson) {
  for (const FuzzHost::Subscription& subscription : gHost.subscriptions) {
    if (subscription.name != eventName) continue;
    EventRecord record;
    std::memset(&record, 0, sizeof record);
    record.name = subscription.name.c_str();
    HostValue payload = HostValueOf(payloadJson);
    record.payload = payload;
    record.context = subscription.context;
    subscription.callback(&record);
    vyn::binding::ReleaseHostValue(payload);
    return;
  }
  Violated("the plugin did not subscribe to an event it needs");
}

void HostUnsubscribe(HostFunctions* self, const char* eventName, uint32_t) {
  HostOf(self);
  if (eventName == nullptr) Violated("an unsubscription without a name");
}

void HostReserved5(HostFunctions*, uint32_t, uint32_t, uint32_t, double, uint32_t) {
  Violated("the reserved host entry was called");
}

void HostYield(HostFunctions* self) { HostOf(self); }

void HostBeginWait(HostFunctions* self, const char* label, uint32_t) {
  if (label == nullptr) Violated("a wait without a label");
  ++HostOf(self).openWaits;
}

void HostEndWait(HostFunctions* self) {
  if (--HostOf(self).openWaits < 0) Violated("a wait ended that never began");
}

void HostLog(HostFunctions* self, int32_t, const char* message) {
  HostOf(self);
  if (message == nullptr) Violated("a log line without a message");
}

// The API description's endpoints, copied out of their packed chain.
void ListEndpoints(const ApiDescription& api) {
  const void* at = api.endpoints;
  while (at != nullptr) {
    EndpointDescriptor descriptor;
    std::memcpy(&descriptor, at, sizeof descriptor);
    gEndpoints.push_back(descriptor);
    at = descriptor.function.next;
  }
  if (gEndpoints.size() != api.endpointCount || gEndpoints.empty()) {
    Violated("the endpoint chain and its count disagree");
  }
}

// What a response value made by the plugin must look like.
void CheckValue(const HostValue& value) {
  const HostValueRef ref = value.payload.ref;
  switch (value.kind) {
    case kHostValueEmpty:
    case kHostValueBool:
    case kHostValueSigned:
    case kHostValueUnsigned:
    case kHostValueFloat:
      return;
    case kHostValueStringOwned:
      if (ref.ptr == nullptr || static_cast<const char*>(ref.ptr)[ref.count] != '\0') {
        Violated("a response text is not terminated at its count");
      }
      return;
    case kHostValueBlobOwned:
      if (ref.ptr == nullptr) Violated("a response blob has no data");
      return;
    case kHostValueCollection:
    case kHostValueStructure:
      if (ref.ptr == nullptr) Violated("a response container has no array");
      for (uint32_t i = 0; i < ref.count; ++i) {
        if (value.kind == kHostValueCollection) {
          CheckValue(static_cast<const HostValue*>(ref.ptr)[i]);
        } else {
          const HostMember member = static_cast<const HostMember*>(ref.ptr)[i];
          if (member.name == nullptr) Violated("a response member without a name");
          CheckValue(member.value);
        }
      }
      return;
    default:
      Violated("a response value of a borrowed or unknown kind");
  }
}

void ReadStream(const ResponseRecord& response) {
  uint8_t (*read)(void*, char*, uint32_t*, uint8_t*) = response.read;
  void (*close)(void*) = response.close;
  void* stream = response.stream;
  if (read == nullptr) {
    if (close != nullptr) Violated("a stream that can be closed but not read");
    return;
  }
  char buffer[4096];
  for (int reads = 0; reads < 1 << 16; ++reads) {
    uint32_t length = sizeof buffer;
    uint8_t more = 1;
    if (read(stream, buffer, &length, &more) == 0) break;
    if (length > sizeof buffer) Violated("a stream read more than its buffer");
    if (more == 0) break;
  }
  if (close == nullptr) Violated("a stream without a close function");
  close(stream);
}

void CheckResponse(ResponseRecord& response, bool knownEndpoint) {
  const HostError error = response.error;
  const HostValue value = error.value;
  if (error.failed > 1) Violated("the failure flag is neither 0 nor 1");
  if (error.failed == 1) {
    if (error.message == nullptr) Violated("a failure without a message");
    if (value.kind != kHostValueEmpty) Violated("a failure with a value");
  } else {
    if (error.message != nullptr) Violated("a message without the failure flag");
    CheckValue(value);
  }
  if (!knownEndpoint) {
    const uint32_t status = response.status;
    if (error.failed != 1 || std::string_view(error.message) != "Invalid function" ||
        status != 404) {
      Violated("an unknown endpoint was not answered 404 \"Invalid function\"");
    }
  }
  const uint32_t resultMode = response.resultMode;
  if (resultMode > 3) Violated("a result mode outside 0 to 3");
  if (response.text == nullptr) Violated("a response without its text");
  const uint32_t headerCount = response.headerCount;
  const HostHeader* headers = response.headers;
  if (headerCount != 0 && headers == nullptr) Violated("response headers without data");
  for (uint32_t i = 0; i < headerCount; ++i) {
    const HostHeader header = headers[i];
    if (header.name == nullptr || header.value == nullptr) Violated("a response header text null");
  }
  ReadStream(response);

  void (*cleanup)(ResponseRecord*) = response.cleanup;
  if (cleanup == nullptr) Violated("a response with allocations but no clean-up");
  cleanup(&response);
  ResponseRecord zero;
  std::memset(&zero, 0, sizeof zero);
  if (std::memcmp(&response, &zero, sizeof zero) != 0) Violated("clean-up left the record set");
}

// A NUL-terminated text that lives until the end of the input.
const char* Keep(std::vector<std::unique_ptr<std::string>>& store, std::string text) {
  store.push_back(std::make_unique<std::string>(std::move(text)));
  return store.back()->c_str();
}

const char* ContentType(vyn::fuzz::FuzzInput& in,
                        std::vector<std::unique_ptr<std::string>>& store) {
  static const char* const kTypes[] = {"application/json",
                                       "application/x-msgpack",
                                       "application/x-yaml",
                                       "application/vnd.api+json",
                                       "Application/JSON; charset=utf-8",
                                       "APPLICATION/X-MSGPACK",
                                       "text/x-yaml",
                                       "text/plain",
                                       ""};
  const uint8_t choice = in.Byte() % 12;
  if (choice < std::size(kTypes)) return kTypes[choice];
  if (choice == std::size(kTypes)) return nullptr;
  return Keep(store, in.Text());
}

// The plugin keeps posted events until an upload succeeds, up to its log's bound; every upload
// carries them all, so every so often the host lets one "close" upload through to keep runs fast.
void FlushEventLog() {
  for (const EndpointDescriptor& endpoint : gEndpoints) {
    if (std::string_view(endpoint.pathTemplate) != "/vyn-pft/v2/events") continue;
    static const char kClose[] = R"({"playerSurveyId": 1, "action": "close", "data": []})";
    RequestRecord request;
    std::memset(&request, 0, sizeof request);
    request.method = endpoint.methodCode;
    request.path = "/vyn-pft/v2/events";
    request.endpointContext = endpoint.function.endpointContext;
    request.contentType = "application/json";
    request.body = kClose;
    request.bodyLength = sizeof kClose - 1;
    gHost.serviceMode = true;
    gHost.serviceStatus = 204;
    gHost.serviceBody.clear();
    ResponseRecord response;
    std::memset(&response, 0, sizeof response);
    const InvokeEntry invoke = endpoint.invoke;
    invoke(&response, &request);
    if (response.error.failed != 0) Violated("the event log could not be uploaded");
    CheckResponse(response, true);
    return;
  }
  Violated("the plugin has no events endpoint");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gHost.functions = HostFunctions{
      &HostRequest,   &HostExternalRequest, &HostSendEvent, &HostSubscribe, &HostUnsubscribe,
      &HostReserved5, &HostYield,           &HostBeginWait, &HostEndWait,   &HostLog};
  gHostApi.functions = &gHost.functions;
  gHostApi.hostHandle = kHostHandle;

  std::memset(&gBlock, 0, sizeof gBlock);
  gBlock.major = 18;
  load_vyn_pft(&gBlock);
  const PluginCallbacks* callbacks = gBlock.callbacks;
  const ApiDescription* api = gBlock.api;
  if (callbacks == nullptr || gBlock.context == nullptr || api == nullptr) {
    Violated("the plugin did not load");
  }
  if (callbacks->initialize(gBlock.context, &gHostApi) != 1) Violated("the plugin is not ready");
  gPlugin = gBlock.context;
  ListEndpoints(*api);
  // A signed-in player, so that survey requests and uploads get as far as the service.
  Deliver("OnJsonApiEvent_vyn-login_v1_session",
          R"({"uri": "/vyn-login/v1/session", "eventType": "Create", "data": {"state": "SUCCEEDED",
              "summonerId": 9, "accountId": 8, "puuid": "p-fuzz", "idToken": "t"}})");
  vyn::binding::PageCache::Instance().SetRetainedRegionLimit(1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  vyn::fuzz::FuzzInput in(data, size);
  std::vector<std::unique_ptr<std::string>> texts;

  const uint8_t first = in.Byte();
  const std::size_t endpointIndex = (first & 0x7F) % (gEndpoints.size() + 1);
  gHost.serviceMode = (first & 0x80) != 0;
  if (gHost.serviceMode) {
    gHost.serviceStatus = in.U16() % 700;
    gHost.serviceBody = in.Text();
  }
  const bool knownEndpoint = endpointIndex < gEndpoints.size();
  const EndpointDescriptor& endpoint = gEndpoints[knownEndpoint ? endpointIndex : 0];
  const std::string pathTemplate = endpoint.pathTemplate;

  RequestRecord request;
  std::memset(&request, 0, sizeof request);
  request.endpointContext = knownEndpoint ? endpoint.function.endpointContext : nullptr;
  request.hostHandle = in.Byte();

  const uint8_t methodChoice = in.Byte();
  if (methodChoice < 0x80) {
    request.method = endpoint.methodCode;
  } else if (methodChoice < 0xF0) {
    request.method = methodChoice % 10;
  } else {
    request.method = in.U32();
  }
  if (request.method == 8 || (methodChoice & 0x40) != 0) {
    request.customMethod = Keep(texts, in.Text());
  }

  switch (in.Byte() % 4) {
    case 0:
      request.path = Keep(texts, pathTemplate);
      break;
    case 1:
      request.path = Keep(texts, pathTemplate + in.Text());
      break;
    case 2:
      request.path = Keep(texts, in.Text());
      break;
    default:
      break;  // no path at all
  }

  request.contentType = ContentType(in, texts);

  std::vector<HostHeader> headers;
  const uint8_t headerChoice = in.Byte() % 8;
  if (headerChoice == 7) {
    request.headerCount = 1u + in.Byte();  // a count without data
  } else {
    for (uint8_t i = 0; i < headerChoice % 4; ++i) {
      HostHeader header;
      const uint8_t nameChoice = in.Byte();
      header.name = nameChoice == 0xFF  ? nullptr
                    : nameChoice < 0x40 ? Keep(texts, nameChoice % 2 == 0 ? "survey" : "pftEvent")
                                        : Keep(texts, in.Text());
      header.value = nameChoice == 0xFE ? nullptr : Keep(texts, in.Text());
      headers.push_back(header);
    }
    request.headers = headers.empty() ? nullptr : headers.data();
    request.headerCount = static_cast<uint32_t>(headers.size());
  }

  vyn::fuzz::HostTreeBuilder trees(300);
  std::vector<HostArgument> arguments;
  const uint8_t argumentChoice = in.Byte() % 8;
  if (argumentChoice == 7) {
    request.argCount = 1u + in.Byte();  // a count without data
  } else {
    for (uint8_t i = 0; i < argumentChoice % 3; ++i) {
      HostArgument argument;
      const uint8_t nameChoice = in.Byte() % 5;
      argument.name = nameChoice == 0   ? nullptr
                      : nameChoice == 1 ? ""
                      : nameChoice == 2 ? "survey"
                      : nameChoice == 3 ? "pftEvent"
                                        : Keep(texts, in.Text());
      argument.value = trees.Build(in);
      arguments.push_back(argument);
    }
    request.args = arguments.empty() ? nullptr : arguments.data();
    request.argCount = static_cast<uint32_t>(arguments.size());
  }

  // The body is what is left, followed by the NUL that a host always puts after it.
  const uint8_t bodyChoice = in.Byte() % 8;
  const std::string rest = in.Rest();
  std::unique_ptr<char[]> body;
  if (bodyChoice == 7) {
    request.bodyLength = static_cast<uint32_t>(rest.size()) + 1;  // a length without data
  } else if (bodyChoice != 6) {
    body = std::make_unique<char[]>(rest.size() + 1);
    if (!rest.empty()) std::memcpy(body.get(), rest.data(), rest.size());
    body[rest.size()] = '\0';
    request.body = body.get();
    request.bodyLength = static_cast<uint32_t>(rest.size());
  }

  ResponseRecord response;
  std::memset(&response, 0, sizeof response);
  const InvokeEntry invoke = endpoint.invoke;
  invoke(&response, &request);
  CheckResponse(response, knownEndpoint);

  if (gHost.outstandingResponses != 0) Violated("a host response was not cleaned up once");
  if (gHost.openWaits != 0) Violated("a wait began and never ended");
  static unsigned inputs = 0;
  if (++inputs % 256 == 0) FlushEventLog();
  return 0;
}
