// Outgoing HTTP(S) requests that the plugin asks the host to make, sent with libcurl.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vyn::host {

// Transport codes handed to the plugin: 0 success; otherwise the request got no HTTP answer.
inline constexpr int32_t kTransportOk = 0;
inline constexpr int32_t kTransportFailed = 1;
inline constexpr int32_t kTransportTimedOut = 2;

struct OutgoingRequest {
  std::string method;  // "GET", "POST", ...
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  long timeoutSeconds = 30;
};

struct OutgoingResponse {
  int32_t transport = kTransportFailed;
  uint32_t status = 0;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // the answer's body; on a transport failure the error text
};

// Process-wide libcurl set-up; call once before any thread sends, and the cleanup at the end.
void InitializeOutgoingHttp();
void CleanupOutgoingHttp();

// Sends the request and waits for the whole answer, the timeout or a cancel. Redirects are not
// followed: the caller sees the 3xx answer itself.
OutgoingResponse SendOutgoing(const OutgoingRequest& request);

// Ends every request in flight at once, and every later one before it starts, with a transport
// failure: a host that stops does not wait for a service that does not answer. Any thread.
void CancelOutgoing();

}  // namespace vyn::host
