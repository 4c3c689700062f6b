// Fuzzes whole endpoint calls as a host makes them: the plugin is loaded through its export, a
// player is signed in, and each input becomes one request record for an endpoint's invoke entry.
// The first byte chooses how the host answers: requests fail, or, in service mode, the
// configuration is answered and the service's status and body are fuzzed. Checked: a failure flag
// with a message and no value, or neither; well-formed texts, headers and values; a stream read
// and closed; a clean-up that zeroes the record; host responses cleaned up once; waits ended.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "base/HostAbi.h"
#include "binding/HostValueConversion.h"
#include "binding/PageCache.h"
#include "formats/Json.h"
#include "fuzz/FuzzSupport.h"

extern "C" void load_vyn_pft(PluginLoadBlock* block) noexcept;

namespace {

using vyn::fuzz::Violated;

constexpr uint32_t kHostHandle = 0x5EED;
constexpr char kTransportError[] = "fuzz host: no network";
constexpr char kEventsPath[] = "/vyn-pft/v2/events";

// The host; its function table comes first, so that the plugin's table pointer leads to the rest.
struct FuzzHost {
  HostFunctions functions;
  long outstandingResponses = 0;  // filled by the host, not yet cleaned up by the plugin
  long openWaits = 0;
  bool serviceMode = false;  // the configuration is answered, and the service with these
  uint32_t serviceStatus = 0;
  std::string serviceBody;  // the host's until the next outside request
  std::vector<std::tuple<std::string, EventCallback, void*>> subscriptions;
};

FuzzHost gHost;
HostApi gHostApi;
PluginLoadBlock gBlock;
void* gPlugin = nullptr;  // the packed load block hides the plugin from the leak checker
std::vector<EndpointDescriptor> gEndpoints;
std::deque<std::string> gTexts;  // the current input's texts; a deque keeps their addresses

const char* Keep(std::string text) { return gTexts.emplace_back(std::move(text)).c_str(); }

FuzzHost& HostOf(HostFunctions* self) {
  if (self != &gHost.functions) Violated("a host function called with another table");
  return gHost;
}

void CleanupHostResponse(ResponseRecord* record) {
  if (record == nullptr) Violated("a host response cleaned up without its record");
  std::free(const_cast<char*>(record->error.message));
  HostValue value = record->error.value;
  vyn::binding::ReleaseHostValue(value);
  *record = ResponseRecord{};
  --gHost.outstandingResponses;
}

HostValue HostValueOf(const char* json) {
  return vyn::binding::ToHostValue(vyn::formats::ParseJson(json), nullptr);
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

// Local requests fail as a host answers an unknown local endpoint, unless in service mode.
void HostRequest(HostFunctions* self, ResponseRecord* response, const RequestRecord* request) {
  FuzzHost& host = HostOf(self);
  if (response == nullptr || request == nullptr) Violated("a local request without its records");
  const RequestRecord asked = *request;
  if (asked.path == nullptr) Violated("a local request without a path");
  if (asked.argCount != 0 && asked.args == nullptr) Violated("local request arguments missing");
  const char* resource = host.serviceMode ? SiblingResource(asked.path) : nullptr;
  ResponseRecord out{};
  if (resource != nullptr) {
    out.error.value = HostValueOf(resource);
  } else {
    out.error.message = strdup("fuzz host: no local API");
    out.error.failed = 1;
    out.status = 503;
  }
  out.cleanup = &CleanupHostResponse;
  ++host.outstandingResponses;
  *response = out;
}

void HostExternalRequest(HostFunctions* self, ExternalResponseRecord* response,
                         const ExternalRequestRecord* request) {
  FuzzHost& host = HostOf(self);
  if (response == nullptr || request == nullptr) Violated("an outside request without records");
  if (request->url == nullptr) Violated("an outside request without a URL");
  const std::string_view body =
      host.serviceMode ? std::string_view(host.serviceBody) : kTransportError;
  ExternalResponseRecord out{};
  out.transport = host.serviceMode ? 0 : 1;
  out.status = host.serviceMode ? host.serviceStatus : 0;
  out.body = body.data();
  out.bodyLength = static_cast<uint32_t>(body.size());
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

void Deliver(const char* eventName, const char* payloadJson) {
  for (const auto& [name, callback, context] : gHost.subscriptions) {
    if (name != eventName) continue;
    HostValue payload = HostValueOf(payloadJson);
    const EventRecord record{name.c_str(), payload, 0, context};
    callback(&record);
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

void ListEndpoints(const ApiDescription& api) {
  for (const void* at = api.endpoints; at != nullptr; at = gEndpoints.back().function.next) {
    std::memcpy(&gEndpoints.emplace_back(), at, sizeof(EndpointDescriptor));
  }
  if (gEndpoints.size() != api.endpointCount || gEndpoints.empty()) {
    Violated("the endpoint chain and its count disagree");
  }
}

void ReadStream(const ResponseRecord& response) {
  uint8_t (*read)(void*, char*, uint32_t*, uint8_t*) = response.read;
  void (*close)(void*) = response.close;
  if ((read == nullptr) != (close == nullptr)) Violated("a stream without a read or a close");
  if (read == nullptr) return;
  char buffer[4096];
  uint8_t more = 1;
  for (int reads = 0; more != 0 && reads < 1 << 16; ++reads) {
    uint32_t length = sizeof buffer;
    if (read(response.stream, buffer, &length, &more) == 0) break;
    if (length > sizeof buffer) Violated("a stream read more than its buffer");
  }
  close(response.stream);
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
    vyn::fuzz::CheckMadeRecords(value);
  }
  if (!knownEndpoint && (error.failed != 1 || response.status != 404 ||
                         std::string_view(error.message) != "Invalid function")) {
    Violated("an unknown endpoint was not answered 404 \"Invalid function\"");
  }
  if (response.resultMode > 3) Violated("a result mode outside 0 to 3");
  if (response.text == nullptr) Violated("a response without its text");
  const HostHeader* headers = response.headers;
  if (response.headerCount != 0 && headers == nullptr) Violated("response headers without data");
  for (uint32_t i = 0; i < response.headerCount; ++i) {
    const HostHeader header = headers[i];
    if (header.name == nullptr || header.value == nullptr) Violated("a response header text null");
  }
  ReadStream(response);

  void (*cleanup)(ResponseRecord*) = response.cleanup;
  if (cleanup == nullptr) Violated("a response with allocations but no clean-up");
  cleanup(&response);
  const ResponseRecord zero{};
  if (std::memcmp(&response, &zero, sizeof zero) != 0) Violated("clean-up left the record set");
}

const char* ContentType(vyn::fuzz::FuzzInput& in) {
  static const char* const kTypes[] = {
      "application/json", "application/x-msgpack", "application/x-yaml", "application/vnd.api+json",
      // Other spellings and an alias of the readers' types, then types no reader takes.
      "Application/JSON; charset=utf-8", "APPLICATION/X-MSGPACK", "text/x-yaml", "text/plain", ""};
  const uint8_t choice = in.Byte() % 12;
  if (choice < std::size(kTypes)) return kTypes[choice];
  return choice == std::size(kTypes) ? nullptr : Keep(in.Text());
}

// Calls the endpoint, checks the response and cleans it up; the failure flag.
uint8_t Invoke(const EndpointDescriptor& endpoint, const RequestRecord& request, bool known) {
  ResponseRecord response{};
  const InvokeEntry invoke = endpoint.invoke;
  invoke(&response, &request);
  const uint8_t failed = response.error.failed;
  CheckResponse(response, known);
  return failed;
}

// Every upload carries all events since the last success; one gets through now and then.
void FlushEventLog() {
  const auto events = std::ranges::find_if(gEndpoints, [](const EndpointDescriptor& endpoint) {
    return std::string_view(endpoint.pathTemplate) == kEventsPath;
  });
  if (events == gEndpoints.end()) Violated("the plugin has no events endpoint");
  static const char kClose[] = R"({"playerSurveyId": 1, "action": "close", "data": []})";
  RequestRecord request{};
  request.method = events->methodCode;
  request.path = kEventsPath;
  request.endpointContext = events->function.endpointContext;
  request.contentType = "application/json";
  request.body = kClose;
  request.bodyLength = sizeof kClose - 1;
  gHost.serviceMode = true;
  gHost.serviceStatus = 204;
  gHost.serviceBody.clear();
  if (Invoke(*events, request, true) != 0) Violated("the event log could not be uploaded");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gHost.functions = HostFunctions{
      &HostRequest,   &HostExternalRequest, &HostSendEvent, &HostSubscribe, &HostUnsubscribe,
      &HostReserved5, &HostYield,           &HostBeginWait, &HostEndWait,   &HostLog};
  gHostApi.functions = &gHost.functions;
  gHostApi.hostHandle = kHostHandle;

  gBlock = PluginLoadBlock{};
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
  Deliver("OnJsonApiEvent_vyn-login_v1_session",
          R"({"uri": "/vyn-login/v1/session", "eventType": "Create", "data": {"state": "SUCCEEDED",
              "summonerId": 9, "accountId": 8, "puuid": "p-fuzz", "idToken": "t"}})");
  vyn::binding::PageCache::Instance().SetRetainedRegionLimit(1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  vyn::fuzz::FuzzInput in(data, size);
  gTexts.clear();

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

  RequestRecord request{};
  request.endpointContext = knownEndpoint ? endpoint.function.endpointContext : nullptr;
  request.hostHandle = in.Byte();

  const uint8_t methodChoice = in.Byte();
  request.method = methodChoice < 0x80   ? endpoint.methodCode
                   : methodChoice < 0xF0 ? methodChoice % 10u
                                         : in.U32();
  if (request.method == 8 || (methodChoice & 0x40) != 0) request.customMethod = Keep(in.Text());

  const uint8_t pathChoice = in.Byte() % 4;  // 3: no path at all
  if (pathChoice == 0) request.path = Keep(pathTemplate);
  if (pathChoice == 1) request.path = Keep(pathTemplate + in.Text());
  if (pathChoice == 2) request.path = Keep(in.Text());

  request.contentType = ContentType(in);

  // Choice 7 of headers and arguments, and of the body, is a count or length without data.
  std::vector<HostHeader> headers;
  const uint8_t headerChoice = in.Byte() % 8;
  for (uint8_t i = 0; headerChoice != 7 && i < headerChoice % 4; ++i) {
    const uint8_t nameChoice = in.Byte();
    HostHeader& header = headers.emplace_back();
    header.name = nameChoice == 0xFF  ? nullptr
                  : nameChoice < 0x40 ? (nameChoice % 2 == 0 ? "survey" : "pftEvent")
                                      : Keep(in.Text());
    header.value = nameChoice == 0xFE ? nullptr : Keep(in.Text());
  }
  request.headers = headers.empty() ? nullptr : headers.data();
  request.headerCount = headerChoice == 7 ? 1u + in.Byte() : static_cast<uint32_t>(headers.size());

  vyn::fuzz::HostTreeBuilder trees(300);
  std::vector<HostArgument> arguments;
  const uint8_t argumentChoice = in.Byte() % 8;
  for (uint8_t i = 0; argumentChoice != 7 && i < argumentChoice % 3; ++i) {
    static const char* const kNames[] = {nullptr, "", "survey", "pftEvent"};
    const uint8_t nameChoice = in.Byte() % 5;
    HostArgument& argument = arguments.emplace_back();
    argument.name = nameChoice < std::size(kNames) ? kNames[nameChoice] : Keep(in.Text());
    argument.value = trees.Build(in);
  }
  request.args = arguments.empty() ? nullptr : arguments.data();
  request.argCount = argumentChoice == 7 ? 1u + in.Byte() : static_cast<uint32_t>(arguments.size());

  // The rest, followed by the NUL that a host always puts after it; choice 6: no body.
  const uint8_t bodyChoice = in.Byte() % 8;
  const std::string rest = in.Rest();
  const std::vector<char> body(rest.c_str(), rest.c_str() + rest.size() + 1);
  if (bodyChoice != 6) {
    request.body = bodyChoice == 7 ? nullptr : body.data();
    request.bodyLength = static_cast<uint32_t>(rest.size()) + (bodyChoice == 7 ? 1 : 0);
  }

  (void)Invoke(endpoint, request, knownEndpoint);

  if (gHost.outstandingResponses != 0) Violated("a host response was not cleaned up once");
  if (gHost.openWaits != 0) Violated("a wait began and never ended");
  static unsigned inputs = 0;
  if (++inputs % 256 == 0) FlushEventLog();
  return 0;
}
