// Host-side helpers for endpoint tests: request records with owned storage, a guard that releases
// response records, and readers that copy the packed API description chains out.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "base/HostAbi.h"
#include "support/FakeHost.h"

namespace vyn::test {

// A RequestRecord with storage for its texts and arrays. Record() stays valid while the builder
// lives and is not changed again.
class RequestBuilder {
 public:
  RequestBuilder(uint32_t method, const std::string& path);

  RequestBuilder& Context(void* endpointContext) {
    record_.endpointContext = endpointContext;
    return *this;
  }
  RequestBuilder& Header(const std::string& name, const std::string& value);
  // The body is stored with a NUL after it that the length does not count, as hosts send it.
  RequestBuilder& Body(const std::string& contentType, const std::string& bytes);
  // A typed argument; an empty name is positional. Strings are lent as kind 5.
  RequestBuilder& StringArg(const std::string& name, const std::string& value);
  RequestBuilder& Arg(const std::string& name, const HostValue& value);
  RequestBuilder& HostHandle(uint32_t handle) {
    record_.hostHandle = handle;
    return *this;
  }

  const RequestRecord& Record();

 private:
  const char* Keep(const std::string& text);

  std::deque<std::string> texts_;
  std::vector<HostHeader> headers_;
  std::vector<HostArgument> args_;
  RequestRecord record_{};
};

// Owns a response record and calls its clean-up exactly once.
class HostResponse {
 public:
  HostResponse() = default;
  HostResponse(const HostResponse&) = delete;
  HostResponse& operator=(const HostResponse&) = delete;
  ~HostResponse() { Release(); }

  ResponseRecord* Out() { return &record_; }
  const ResponseRecord& Get() const { return record_; }
  void Release();

  bool failed() const { return record_.error.failed != 0; }
  std::string ErrorText() const { return record_.error.message ? record_.error.message : ""; }
  uint32_t Status() const { return record_.status; }
  CopiedValue Value() const { return CopiedValue::From(HostValue{record_.error.value}); }

 private:
  ResponseRecord record_{};
};

// Calls the descriptor's invoke entry as a host does: the endpoint context is copied into the
// request first.
void InvokeEndpoint(const EndpointDescriptor& endpoint, RequestBuilder& request,
                    HostResponse& response);

// A packed field by value. Assertion macros bind references to their arguments, and a reference
// to a field of a packed record may be misaligned: pass such fields through this.
template <typename T>
T Read(T value) { return value; }

// Packed records may sit at any address: copy them out whole.
template <typename Record>
Record CopyRecord(const void* address) {
  Record record;
  std::memcpy(&record, address, sizeof record);
  return record;
}

// The records of one chain, followed through "next" (at most `limit` of them).
template <typename Record>
std::vector<Record> ListChain(const void* first, std::size_t limit = 100000) {
  std::vector<Record> records;
  for (const void* at = first; at != nullptr && records.size() < limit;) {
    records.push_back(CopyRecord<Record>(at));
    at = records.back().next;
  }
  return records;
}

std::vector<EndpointDescriptor> ListEndpoints(const ApiDescription& api);
std::vector<uint32_t> ListLocations(const EndpointDescriptor& endpoint);
std::vector<std::string> ListTexts(const char* const* texts, uint32_t count);
std::string Text(const char* text);

// The endpoint whose function has that name; fails the current test when there is none.
EndpointDescriptor FindEndpoint(const ApiDescription& api, const std::string& functionName);

}  // namespace vyn::test
