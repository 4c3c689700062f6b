// The request context: what a handler may learn about the request beyond its arguments, and the
// type identities by which a handler asks for it.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "binding/BindingTypeId.h"
#include "routing/HttpMethod.h"

namespace vyn::binding {
class BindingRegistry;
}

namespace vyn::routing {

struct RequestHeader {
  std::string_view name;
  std::string_view value;
};

// Valid during the call only: the texts are the host's.
struct RequestContext {
  uint32_t callerHandle = 0;
  uint64_t time = 0;  // wall-clock time in 100-nanosecond units since 1970-01-01 UTC
  const binding::BindingRegistry* registry = nullptr;
  std::string_view path;  // as the host gave it, query included
  HttpMethod method = HttpMethod::None;
  std::string_view customMethod;
  std::vector<RequestHeader> headers;

  // The value of the first header of that name (ASCII case-insensitive); empty when absent.
  std::string_view Header(std::string_view name) const noexcept;
};

// The identities of the two request-context parameter types (a reference and a pointer to the
// context); a handler whose context type is one of them receives the context.
inline constexpr uint32_t kRequestContextTypeNumber = 0x466F9860;
inline constexpr uint32_t kRequestContextPointerTypeNumber = 0x89462EBF;
constexpr uint32_t BindingTypeNumber(binding::BindingTypeTag<RequestContext>) noexcept {
  return kRequestContextTypeNumber;
}
constexpr uint32_t BindingTypeNumber(binding::BindingTypeTag<const RequestContext*>) noexcept {
  return kRequestContextPointerTypeNumber;
}

}  // namespace vyn::routing
