// Local and external requests through the host.
#include "plugin/OutgoingRequests.h"

#include <algorithm>
#include <cstring>

#include "binding/HostValueConversion.h"
#include "diagnostics/FormatText.h"
#include "diagnostics/Trace.h"
#include "formats/Json.h"
#include "base/PluginAllocator.h"

namespace vyn::plugin {

using diagnostics::PftTrace;
using routing::HttpMethod;
using routing::HttpMethodName;

namespace {

constexpr std::string_view kErrorResponse = "Error response for {method} {url}: {error}";
constexpr std::string_view kParametersNotConverted =
    "Request not sent: Error converting parameters for {method} {url}: {error}";
constexpr std::string_view kStreamNotRead =
    "Error reading streamed response for {method} {url}: {error}";
constexpr std::string_view kResponseNotConverted =
    "Error converting response for {method} {url}: {error}";

constexpr uint32_t kStreamReadSize = 4096;
// A size hint is the host's guess; beyond this the text grows as it is read instead.
constexpr uint64_t kMaxStreamReservation = uint64_t{64} << 20;

// Calls the clean-up of a response record the host filled, exactly once, on every path.
class HostFilledResponse {
 public:
  HostFilledResponse() = default;
  HostFilledResponse(const HostFilledResponse&) = delete;
  HostFilledResponse& operator=(const HostFilledResponse&) = delete;
  ~HostFilledResponse() {
    if (record_.cleanup != nullptr) record_.cleanup(&record_);
  }
  ResponseRecord* get() noexcept { return &record_; }
  const ResponseRecord& operator*() const noexcept { return record_; }

 private:
  ResponseRecord record_{};
};

// Fills a zeroed request record, sends it and reads the error text of the answer.
RequestResult Send(PluginBase& plugin, HttpMethod method, std::string_view url,
                   std::span<const HostArgument> arguments, ResponseRecord* response) {
  RequestResult result;
  const std::string path(url);
  RequestRecord request{};
  request.method = static_cast<uint32_t>(method);
  request.path = path.c_str();
  request.args = arguments.data();
  request.argCount = static_cast<uint32_t>(arguments.size());
  request.hostHandle = plugin.hostHandle();
  plugin.HostRequest(response, &request);
  const char* message = response->error.message;
  const uint32_t status = response->status;
  // A failure flag without a text is still a failure: it is never read as success.
  if (message != nullptr || response->error.failed != 0) {
    result.Fail(status, kErrorResponse, method, url, message != nullptr ? message : "");
  }
  return result;
}

// Frees the named arguments made from a parameter table.
class OwnedArguments {
 public:
  OwnedArguments() = default;
  OwnedArguments(const OwnedArguments&) = delete;
  OwnedArguments& operator=(const OwnedArguments&) = delete;
  ~OwnedArguments() {
    for (HostArgument& argument : arguments_) {
      HostValue value = argument.value;
      binding::ReleaseHostValue(value);
    }
  }
  std::vector<HostArgument>& list() noexcept { return arguments_; }

 private:
  std::vector<HostArgument> arguments_;
};

// Reads a stream to its end: full reads follow at once, a short read with more to come waits
// for the host first. The stream is closed whatever happened.
bool ReadStream(PluginBase& plugin, const ResponseRecord& response, std::string& text) {
  text.clear();
  const uint64_t sizeHint = response.sizeHint;  // out of the packed record
  text.reserve(static_cast<std::size_t>(std::min(sizeHint, kMaxStreamReservation)));
  bool ok = true;
  char buffer[kStreamReadSize];
  for (;;) {
    uint32_t length = kStreamReadSize;
    uint8_t more = 0;
    if (response.read(response.stream, buffer, &length, &more) == 0) {
      ok = false;
      break;
    }
    text.append(buffer, std::min(length, kStreamReadSize));
    if (more == 0) break;
    if (length < kStreamReadSize) {
      plugin.HostBeginWait("Wait: yield", 0);
      plugin.HostYield();
      plugin.HostEndWait();
    }
  }
  if (response.close != nullptr) response.close(response.stream);
  return ok;
}

bool HasNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

}  // namespace

std::string RequestResult::Detail(const std::string& name) const {
  const auto found = details_.find(name);
  return found != details_.end() ? found->second.text : std::string();
}

void RequestResult::Fail(std::optional<uint32_t> status, std::string_view messageTemplate,
                         HttpMethod method, std::string_view url, std::string_view error) {
  if (!ok_) return;
  ok_ = false;
  status_ = status;
  details_.clear();
  message_ = diagnostics::ExpandMessage(messageTemplate, {HttpMethodName(method), url, error},
                                        &details_);
}

RequestResult LocalRequest(PluginBase& plugin, HttpMethod method, std::string_view url,
                           std::span<const HostArgument> arguments) {
  HostFilledResponse response;
  return Send(plugin, method, url, arguments, response.get());
}

RequestResult LocalRequestTyped(PluginBase& plugin, HttpMethod method, std::string_view url,
                                const RequestParameters& parameters) {
  for (const auto& [name, value] : parameters) {
    std::string error;
    if (name.empty()) {
      error = "a parameter has no name";
    } else if (HasNul(name)) {
      error = diagnostics::FormatText("the name of parameter '%1' holds a NUL byte", name.c_str());
    }
    if (!error.empty()) {
      RequestResult result;
      result.Fail(400, kParametersNotConverted, method, url, error);
      return result;
    }
  }
  binding::BindingProperty table;
  table.makeStructure();
  for (const auto& [name, value] : parameters) table.memberAt(name).setString(value);
  OwnedArguments arguments;
  arguments.list().reserve(table.size());
  for (const binding::MemberView member : table.members()) {
    HostArgument argument{};
    argument.name = member.name.data();  // the table's interned names outlive the request
    argument.value = binding::ToHostValue(member.value, plugin.typeRegistry());
    arguments.list().push_back(argument);
  }
  return LocalRequest(plugin, method, url, arguments.list());
}

namespace outgoing_internal {

void FailConversion(RequestResult& result, HttpMethod method, std::string_view url,
                    std::string_view error) {
  result.Fail(std::nullopt, kResponseNotConverted, method, url, error);
}

RequestResult LocalGetValue(PluginBase& plugin, HttpMethod method, std::string_view url,
                            std::span<const HostArgument> arguments,
                            binding::BindingProperty& value) {
  HostFilledResponse response;
  RequestResult result = Send(plugin, method, url, arguments, response.get());
  const ResponseRecord& answer = *response;
  if (!result.ok()) {
    // A stream handed over with an error is still the reader's to close.
    if (answer.read != nullptr && answer.close != nullptr) answer.close(answer.stream);
    return result;
  }
  if (answer.read != nullptr) {
    std::string text;
    if (!ReadStream(plugin, answer, text)) {
      result.Fail(std::nullopt, kStreamNotRead, method, url, "Stream read error");
      return result;
    }
    binding::BindingResult parsed = formats::ParseJson(text);
    if (!parsed.ok()) {
      result.Fail(std::nullopt, kStreamNotRead, method, url, parsed.ErrorText());
      return result;
    }
    value.moveFrom(parsed);
    return result;
  }
  HostError error{};
  const HostValue record = answer.error.value;  // out of the packed record
  if (!binding::FromHostValue(error, value, record, "<result>")) {
    FailConversion(result, method, url, error.message != nullptr ? error.message : "");
    value.reset();
  }
  base::PluginFree(const_cast<char*>(error.message));
  return result;
}

}  // namespace outgoing_internal

ExternalHttpResponse ExternalRequest(PluginBase& plugin, const ExternalHttpRequest& request) {
  ExternalHttpResponse answer;
  const std::string_view methodName = HttpMethodName(request.method);
  const auto failBeforeSending = [&](const char* what, std::string detail) {
    PftTrace("%s: Couldn't convert external request %s to %s: %s", plugin.shortName().c_str(),
             what, request.url.c_str(), detail.c_str());
    answer.transport = 1;
    answer.error = diagnostics::FormatText("Error converting request %1 for %2 %3: %4", what,
                                           methodName, request.url, detail);
    return answer;
  };

  // Texts cross as C strings: a NUL inside one would silently cut it.
  if (HasNul(request.url)) return failBeforeSending("url", "it holds a NUL byte");
  const bool hasUserAgent =
      std::any_of(request.headers.begin(), request.headers.end(),
                  [](const auto& header) { return EqualsNoCase(header.first, "user-agent"); });
  std::vector<HostHeader> headers;
  headers.reserve(request.headers.size() + 1);
  if (!hasUserAgent) headers.push_back({"user-agent", plugin.userAgent().c_str()});
  for (const auto& [name, value] : request.headers) {
    if (HasNul(name) || HasNul(value)) {
      return failBeforeSending("headers",
                               diagnostics::FormatText("header '%1' holds a NUL byte",
                                                       name.c_str()));
    }
    headers.push_back({name.c_str(), value.c_str()});
  }
  if (request.body.size() > UINT32_MAX) {
    return failBeforeSending("body", diagnostics::FormatText("%1 bytes are more than a request "
                                                             "can carry",
                                                             uint64_t{request.body.size()}));
  }

  ExternalRequestRecord record{};
  record.method = static_cast<uint32_t>(request.method);
  record.url = request.url.c_str();
  record.headers = headers.data();
  record.headerCount = static_cast<uint32_t>(headers.size());
  record.body = request.body.data();
  record.bodyLength = static_cast<uint32_t>(request.body.size());
  record.option = request.option;
  record.flag = request.flag;
  ExternalResponseRecord response{};
  plugin.HostExternalRequest(&response, &record);

  const int32_t transport = response.transport;
  answer.transport = transport == -1 || transport == 0 || transport == 2 ? transport : 1;
  const char* body = response.body;
  const uint32_t bodyLength = response.bodyLength;
  if (answer.transport != 0) {
    if (body != nullptr) answer.error.assign(body, bodyLength);
    PftTrace("%s: Couldn't connect to %s: %d - %s", plugin.shortName().c_str(),
             request.url.c_str(), transport, answer.error.c_str());
    return answer;
  }
  answer.status = response.status;
  const std::string target = diagnostics::FormatText("%1 %2", methodName, request.url);
  const HostHeader* responseHeaders = response.headers;
  const uint32_t headerCount = response.headerCount;
  // A record that announces data it does not hold is no answer: it fails as a transport would.
  if (headerCount != 0 && responseHeaders == nullptr) {
    answer.transport = 1;
    answer.error =
        diagnostics::FormatText("Error converting response for %1: headers was null", target);
    return answer;
  }
  if (bodyLength != 0 && body == nullptr) {
    answer.transport = 1;
    answer.error =
        diagnostics::FormatText("Error converting response for %1: body was null", target);
    return answer;
  }
  answer.headers.reserve(headerCount);
  for (uint32_t i = 0; i < headerCount; ++i) {
    const HostHeader header = responseHeaders[i];  // out of the packed array
    answer.headers.emplace_back(header.name != nullptr ? header.name : "",
                                header.value != nullptr ? header.value : "");
  }
  if (body != nullptr) answer.body.assign(body, bodyLength);
  return answer;
}

std::future<RequestResult> SendTelemetry(PluginBase& plugin, std::string_view eventName,
                                         const RequestParameters& parameters) {
  std::promise<RequestResult> promise;
  promise.set_value(LocalRequestTyped(plugin, HttpMethod::Post,
                                      std::string("/telemetry/v1/events/").append(eventName),
                                      parameters));
  return promise.get_future();
}

}  // namespace vyn::plugin
