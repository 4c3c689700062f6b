// Argument binding: a host request's headers, path parameters, query, typed values and body
// bound to one value per argument of an endpoint; the checks on the request record before it,
// and the request context made for handlers that take one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/HostAbi.h"
#include "binding/BindingProperty.h"
#include "binding/BindingType.h"
#include "routing/CallResult.h"
#include "routing/EndpointArgument.h"
#include "routing/RequestContext.h"

namespace vyn::routing {

class EndpointInvocation;
struct RouteMatch;

// Binds one request to the arguments of one endpoint, stopping at the first error.
class RequestBinder {
 public:
  RequestBinder(const EndpointInvocation& endpoint, const RequestRecord& request, CallResult& call);
  RequestBinder(const RequestBinder&) = delete;
  RequestBinder& operator=(const RequestBinder&) = delete;

  // One per argument, in argument order; the call may take them apart.
  std::span<binding::BindingProperty> values() noexcept { return values_; }

  void Bind(const RouteMatch& match, std::string_view query);

 private:
  bool ok() const noexcept { return call_.ok(); }
  void Fail(const std::string& message);

  void BindHeaders();
  void BindTyped(std::size_t pathParameterCount);
  void BindBody();
  void BindOne(std::string_view name, std::string_view text, ArgumentLocation location);
  bool ParseIndex(std::string_view segment, uint64_t& index);
  void Decode(binding::BindingProperty& out, std::string_view text, bool sniff,
              std::string_view parameter);

  const EndpointInvocation& endpoint_;
  const binding::BindingFunction& function_;
  const RequestRecord& request_;
  CallResult& call_;
  // The values of an endpoint's few arguments, as most take, cost no heap block.
  static constexpr std::size_t kInlineValues = 4;
  binding::BindingProperty inline_[kInlineValues];
  std::vector<binding::BindingProperty> spilled_;
  std::span<binding::BindingProperty> values_;
};

// Malformed records from the host are answered, never followed.
bool CheckRequestShape(const RequestRecord& request, CallResult& call);

// The context of `request` for a handler that takes one; it refers to the request's texts.
RequestContext MakeRequestContext(const RequestRecord& request,
                                  const binding::BindingFunction& function);

}  // namespace vyn::routing
