// HTTP method codes as they cross the host boundary, and their names.
#pragma once

#include <cstdint>
#include <string_view>

namespace vyn::routing {

// The numbers are part of the host boundary (request records, endpoint descriptors).
enum class HttpMethod : uint32_t {
  None = 0,  // no method; as a requirement on a route it accepts every method
  Delete = 1,
  Get = 2,
  Head = 3,
  Options = 4,
  Patch = 5,
  Post = 6,
  Put = 7,
  Custom = 8,  // its name travels beside the code as a separate text
};

// "DELETE", "GET", ... for codes 1..7; empty for Custom, whose name is not in the code, and for
// every code outside the table.
std::string_view HttpMethodName(uint32_t code);
inline std::string_view HttpMethodName(HttpMethod method) {
  return HttpMethodName(static_cast<uint32_t>(method));
}

// A code read from the host: anything outside 1..8 is None, so that an unknown code can never
// satisfy a route that requires a particular method.
HttpMethod HttpMethodFromCode(uint32_t code);

}  // namespace vyn::routing
