// Requests the plugin makes through its host: to other plugins' local endpoints and to outside
// HTTP servers. Arguments go out as host values, answers come back as typed records, and every
// failure is a result with an optional status, a message and the named details it was made from.
#pragma once

#include <cstdint>
#include <future>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/AssignValue.h"
#include "binding/BindingProperty.h"
#include "diagnostics/ExpandTemplate.h"
#include "base/HostAbi.h"
#include "plugin/PluginBase.h"
#include "routing/HttpMethod.h"

namespace vyn::plugin {

// The outcome of a request without a value.
class RequestResult {
 public:
  bool ok() const noexcept { return ok_; }
  // Absent when the failure set none (or on success).
  const std::optional<uint32_t>& status() const noexcept { return status_; }
  const std::string& message() const noexcept { return message_; }
  // "method", "url" and "error": the values the message was filled with.
  const diagnostics::TemplateFields& details() const noexcept { return details_; }
  // The named detail as text; empty when absent.
  std::string Detail(const std::string& name) const;

  // Fails with a "{method} {url}: {error}" template. The first failure stands.
  void Fail(std::optional<uint32_t> status, std::string_view messageTemplate,
            routing::HttpMethod method, std::string_view url, std::string_view error);

 private:
  bool ok_ = true;
  std::optional<uint32_t> status_;
  std::string message_;
  diagnostics::TemplateFields details_;
};

// The outcome of a request that answers a value of type T.
template <typename T>
class ValueRequestResult : public RequestResult {
 public:
  T value{};
};

// A parameter table: name to text, sent as named string arguments.
using RequestParameters = std::map<std::string, std::string, std::less<>>;

// Sends a local request and waits for its answer; the arguments are the caller's and lent for
// the call. An answer with an error text fails with its status and
// "Error response for {method} {url}: {error}".
[[nodiscard]] RequestResult LocalRequest(PluginBase& plugin, routing::HttpMethod method,
                                         std::string_view url,
                                         std::span<const HostArgument> arguments = {});

// The same with a parameter table. A table that cannot become named arguments (a name that is
// empty or holds a NUL byte) sends nothing and fails with status 400 and
// "Request not sent: Error converting parameters for {method} {url}: {error}".
[[nodiscard]] RequestResult LocalRequestTyped(PluginBase& plugin, routing::HttpMethod method,
                                              std::string_view url,
                                              const RequestParameters& parameters);

namespace outgoing_internal {
// The answer of a local request as a value: read from its stream (as JSON) when it carries one,
// else from its value record. Failures carry no status.
RequestResult LocalGetValue(PluginBase& plugin, routing::HttpMethod method, std::string_view url,
                            std::span<const HostArgument> arguments,
                            binding::BindingProperty& value);
void FailConversion(RequestResult& result, routing::HttpMethod method, std::string_view url,
                    std::string_view error);
}  // namespace outgoing_internal

// A local request whose answer is converted into T (a BindingProperty or a registered record,
// label "<result>"). A conversion failure gives "Error converting response for {method} {url}:
// {error}"; a streamed answer that cannot be read or parsed gives "Error reading streamed
// response for {method} {url}: {error}".
template <typename T>
[[nodiscard]] ValueRequestResult<T> LocalGet(PluginBase& plugin, routing::HttpMethod method,
                                             std::string_view url,
                                             std::span<const HostArgument> arguments = {}) {
  ValueRequestResult<T> result;
  binding::BindingProperty value;
  static_cast<RequestResult&>(result) =
      outgoing_internal::LocalGetValue(plugin, method, url, arguments, value);
  if (!result.ok()) return result;
  if constexpr (std::is_same_v<T, binding::BindingProperty>) {
    result.value.moveFrom(value);
  } else {
    const binding::BindingResult converted =
        binding::ValueToNative(*plugin.typeRegistry(), value, result.value, "<result>");
    if (!converted.ok()) {
      outgoing_internal::FailConversion(result, method, url, converted.ErrorText());
      result.value = T{};
    }
  }
  return result;
}

// A request to an outside server, as the feature fills it.
struct ExternalHttpRequest {
  routing::HttpMethod method = routing::HttpMethod::Get;
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;  // sent in this order
  std::string body;
  uint32_t option = 0;  // passed through to the host
  uint8_t flag = 0;     // passed through to the host
};

// What came back. `transport` is 0 when the server answered; -1 and 2 are the host's own codes,
// and every other failure is 1, `error` then saying what happened.
struct ExternalHttpResponse {
  int32_t transport = 0;
  uint32_t status = 0;
  std::string error;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  bool failed() const noexcept { return transport != 0; }
};

// Sends the request through the host and copies the answer. The plugin's user agent goes first
// unless the request names a "user-agent" header itself (in any letter case).
ExternalHttpResponse ExternalRequest(PluginBase& plugin, const ExternalHttpRequest& request);

// POST "/telemetry/v1/events/" + event name with the table; the future is ready on return.
std::future<RequestResult> SendTelemetry(PluginBase& plugin, std::string_view eventName,
                                         const RequestParameters& parameters);

}  // namespace vyn::plugin
