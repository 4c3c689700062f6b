// The plugin's answer to an endpoint call, turned into the host's reply.
#include "host/EndpointResponse.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/HostValueJson.h"

namespace vyn::host {
namespace {

constexpr char kInvalidFunction[] = "Invalid function";
// A streamed endpoint answer is held in memory whole; past this size it is refused.
constexpr size_t kMaxStreamBytes = 64u << 20;
// Empty reads in a row, a millisecond apart, before a stream that never ends is given up.
constexpr int kMaxIdleStreamReads = 30000;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
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

}  // namespace

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

}  // namespace vyn::host
