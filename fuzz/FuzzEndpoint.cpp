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
#include <vector>

#include "base/HostAbi.h"
#include "binding/HostValueConversion.h"
#include "binding/PageCache.h"
#include "formats/Json.h"
#include "fuzz/FuzzSupport.h"
#include "support/FakeHost.h"

extern "C" void load_vyn_pft(PluginLoadBlock* block) noexcept;

namespace {

using vyn::fuzz::Violated;

constexpr char kTransportError[] = "fuzz host: no network";
constexpr char kEventsPath[] = "/vyn-pft/v2/events";

// The recording test host, answering as set below. What it records of an input is checked, then
// forgotten.
vyn::test::FakeHost* gHost = nullptr;
long gOutstandingResponses = 0;  // filled by the host, not yet cleaned up by the plugin
bool gServiceMode = false;       // the configuration is answered, and the service with these
uint32_t gServiceStatus = 0;
std::string gServiceBody;  // the host's until the next outside request
PluginLoadBlock gBlock;
void* gPlugin = nullptr;  // the packed load block hides the plugin from the leak checker
std::vector<EndpointDescriptor> gEndpoints;
std::deque<std::string> gTexts;  // the current input's texts; a deque keeps their addresses

const char* Keep(std::string text) { return gTexts.emplace_back(std::move(text)).c_str(); }

void CleanupHostResponse(ResponseRecord* record) {
  if (record == nullptr) Violated("a host response cleaned up without its record");
  std::free(const_cast<char*>(record->error.message));
  HostValue value = record->error.value;
  vyn::binding::ReleaseHostValue(value);
  *record = ResponseRecord{};
  --gOutstandingResponses;
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
void AnswerRequest(ResponseRecord* response, const RequestRecord* request) {
  if (request->path == nullptr) Violated("a local request without a path");
  const char* resource = gServiceMode ? SiblingResource(request->path) : nullptr;
  ResponseRecord out{};
  if (resource != nullptr) {
    out.error.value = vyn::binding::ToHostValue(vyn::formats::ParseJson(resource), nullptr);
  } else {
    out.error.message = strdup("fuzz host: no local API");
    out.error.failed = 1;
    out.status = 503;
  }
  out.cleanup = &CleanupHostResponse;
  ++gOutstandingResponses;
  *response = out;
}

void AnswerExternalRequest(ExternalResponseRecord* response, const ExternalRequestRecord* request) {
  if (request->url == nullptr) Violated("an outside request without a URL");
  const std::string_view body = gServiceMode ? std::string_view(gServiceBody) : kTransportError;
  ExternalResponseRecord out{};
  out.transport = gServiceMode ? 0 : 1;
  out.status = gServiceMode ? gServiceStatus : 0;
  out.body = body.data();
  out.bodyLength = static_cast<uint32_t>(body.size());
  *response = out;
}

void Deliver(const char* eventName, const char* payloadJson) {
  if (!gHost->Deliver(eventName, vyn::formats::ParseJson(payloadJson))) {
    Violated("the plugin did not subscribe to an event it needs");
  }
}

// What the host recorded of one input: events with names, waits that began before they ended and
// all ended. Then it is forgotten.
void CheckRecords() {
  for (const auto& event : gHost->sentEvents) {
    if (event.name.empty()) Violated("an event without a name");
  }
  long open = 0;
  for (const std::string& call : gHost->waitCalls) {
    if (call.starts_with("begin:")) {
      if (call.size() == 6) Violated("a wait without a label");
      ++open;
    } else if (call == "end" && --open < 0) {
      Violated("a wait ended that never began");
    }
  }
  if (open != 0) Violated("a wait began and never ended");
  gHost->sentEvents.clear();
  gHost->waitCalls.clear();
  gHost->requests.clear();
  gHost->externalRequests.clear();
  gHost->logs.clear();
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
  gServiceMode = true;
  gServiceStatus = 204;
  gServiceBody.clear();
  if (Invoke(*events, request, true) != 0) Violated("the event log could not be uploaded");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gHost = new vyn::test::FakeHost();  // lives as long as the plugin
  gHost->onRequest = &AnswerRequest;
  gHost->onExternalRequest = &AnswerExternalRequest;

  gBlock = PluginLoadBlock{};
  gBlock.major = 18;
  load_vyn_pft(&gBlock);
  const PluginCallbacks* callbacks = gBlock.callbacks;
  const ApiDescription* api = gBlock.api;
  if (callbacks == nullptr || gBlock.context == nullptr || api == nullptr) {
    Violated("the plugin did not load");
  }
  if (callbacks->initialize(gBlock.context, &gHost->api) != 1) Violated("the plugin is not ready");
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
  gServiceMode = (first & 0x80) != 0;
  if (gServiceMode) {
    gServiceStatus = in.U16() % 700;
    gServiceBody = in.Text();
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

  if (gOutstandingResponses != 0) Violated("a host response was not cleaned up once");
  CheckRecords();
  static unsigned inputs = 0;
  if (++inputs % 256 == 0) FlushEventLog();
  return 0;
}
