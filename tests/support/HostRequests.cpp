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

RequestBuilder& RequestBuilder::Header(const std::string& name, const std::string& value) {
  headers_.push_back({Keep(name), Keep(value)});
  return *this;
}

RequestBuilder& RequestBuilder::Body(const std::string& contentType, const std::string& bytes) {
  record_.contentType = Keep(contentType);
  record_.body = Keep(bytes);
  record_.bodyLength = static_cast<uint32_t>(bytes.size());
  return *this;
}

RequestBuilder& RequestBuilder::StringArg(const std::string& name, const std::string& value) {
  HostValue host{};
  host.kind = kHostValueStringBorrowed;
  host.payload.ref = HostValueRef{Keep(value), static_cast<uint32_t>(value.size())};
  return Arg(name, host);
}

RequestBuilder& RequestBuilder::Arg(const std::string& name, const HostValue& value) {
  args_.push_back({name.empty() ? nullptr : Keep(name), value});
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
