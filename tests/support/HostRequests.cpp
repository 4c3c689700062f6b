// Host-side helpers for endpoint tests.
#include "support/HostRequests.h"

#include <gtest/gtest.h>

namespace vyn::test {

RequestBuilder::RequestBuilder(uint32_t method, const std::string& path) {
  record_.method = method;
  record_.path = Keep(path);
}

const char* RequestBuilder::Keep(const std::string& text) {
  texts_.push_back(text);  // a deque never moves what it holds
  return texts_.back().c_str();
}

RequestBuilder& RequestBuilder::Context(void* endpointContext) {
  record_.endpointContext = endpointContext;
  return *this;
}

RequestBuilder& RequestBuilder::Header(const std::string& name, const std::string& value) {
  HostHeader header{};
  header.name = Keep(name);
  header.value = Keep(value);
  headers_.push_back(header);
  return *this;
}

RequestBuilder& RequestBuilder::Body(const std::string& contentType, const std::string& bytes) {
  record_.contentType = Keep(contentType);
  const std::string& kept = texts_.emplace_back(bytes);
  record_.body = kept.c_str();
  record_.bodyLength = static_cast<uint32_t>(kept.size());
  return *this;
}

RequestBuilder& RequestBuilder::Body(const std::string& contentType,
                                     const std::vector<uint8_t>& bytes) {
  return Body(contentType, std::string(bytes.begin(), bytes.end()));
}

RequestBuilder& RequestBuilder::StringArg(const std::string& name, const std::string& value) {
  HostValue host{};
  host.kind = kHostValueStringBorrowed;
  const char* text = Keep(value);
  host.payload.ref.ptr = text;
  host.payload.ref.count = static_cast<uint32_t>(value.size());
  return Arg(name, host);
}

RequestBuilder& RequestBuilder::Arg(const std::string& name, const HostValue& value) {
  HostArgument argument{};
  argument.name = name.empty() ? nullptr : Keep(name);
  argument.value = value;
  args_.push_back(argument);
  return *this;
}

RequestBuilder& RequestBuilder::HostHandle(uint32_t handle) {
  record_.hostHandle = handle;
  return *this;
}

RequestBuilder& RequestBuilder::CustomMethod(const std::string& name) {
  record_.customMethod = Keep(name);
  return *this;
}

const RequestRecord& RequestBuilder::Record() {
  record_.headers = headers_.empty() ? nullptr : headers_.data();
  record_.headerCount = static_cast<uint32_t>(headers_.size());
  record_.args = args_.empty() ? nullptr : args_.data();
  record_.argCount = static_cast<uint32_t>(args_.size());
  return record_;
}

void HostResponse::Release() {
  if (record_.cleanup != nullptr) record_.cleanup(&record_);
  record_ = ResponseRecord{};
}

std::string HostResponse::ErrorText() const { return Text(record_.error.message); }

CopiedValue HostResponse::Value() const {
  const HostValue value = record_.error.value;
  return CopiedValue::From(value);
}

void InvokeEndpoint(const EndpointDescriptor& endpoint, RequestBuilder& request,
                    HostResponse& response) {
  if (endpoint.invoke == nullptr) {
    ADD_FAILURE() << "the endpoint has no invoke entry";
    return;
  }
  request.Context(endpoint.function.endpointContext);
  endpoint.invoke(response.Out(), &request.Record());
}

std::vector<EndpointDescriptor> ListEndpoints(const ApiDescription& api) {
  std::vector<EndpointDescriptor> endpoints;
  for (const void* at = api.endpoints; at != nullptr && endpoints.size() < 100000;) {
    endpoints.push_back(CopyRecord<EndpointDescriptor>(at));
    at = endpoints.back().function.next;
  }
  return endpoints;
}

std::vector<uint32_t> ListLocations(const EndpointDescriptor& endpoint) {
  std::vector<uint32_t> locations;
  for (const auto& record : ListChain<ArgumentLocationRecord>(endpoint.argumentLocations)) {
    locations.push_back(Read(record.location));
  }
  return locations;
}

std::vector<std::string> ListTexts(const char* const* texts, uint32_t count) {
  std::vector<std::string> out;
  for (uint32_t i = 0; texts != nullptr && i < count; ++i) {
    out.push_back(Text(CopyRecord<const char*>(texts + i)));
  }
  return out;
}

std::string Text(const char* text) { return text != nullptr ? text : ""; }

EndpointDescriptor FindEndpoint(const ApiDescription& api, const std::string& functionName) {
  for (const EndpointDescriptor& endpoint : ListEndpoints(api)) {
    if (Text(endpoint.function.name) == functionName) return endpoint;
  }
  ADD_FAILURE() << "no endpoint " << functionName;
  return EndpointDescriptor{};
}

}  // namespace vyn::test
