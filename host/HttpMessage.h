// The host's own shape of an HTTP exchange, shared by the server, the plugin host and the
// commands: a call as received, a reply to send, and the JSON error object every failure
// carries.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vyn::host {

struct HttpCall {
  std::string method;  // upper case, as sent
  std::string target;  // path, and "?" and the query when there is one
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

// What a long-lived reply writes to, on the connection's own thread.
class StreamSink {
 public:
  virtual ~StreamSink() = default;
  // Sends the bytes at once; false when the reader is gone and nothing more can be sent.
  [[nodiscard]] virtual bool Write(std::string_view bytes) = 0;
  // Waits up to the timeout for the reader to go away (or the server to stop); true when it has.
  [[nodiscard]] virtual bool Gone(int timeoutMilliseconds) = 0;
};

struct HttpReply {
  int status = 200;
  std::string contentType;  // empty when there is no body
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  // When set, the body is not `body` but whatever this writes until it returns; the connection
  // ends with it.
  std::function<void(StreamSink&)> stream;
};

// The JSON error object of a reply: {"errorCode", "httpStatus", "message"}.
HttpReply ErrorReply(int status, const std::string& message);

// "Not Found" for 404; "Unknown" for statuses without a common phrase.
const char* ReasonPhrase(int status);

}  // namespace vyn::host
