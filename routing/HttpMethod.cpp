// Names of the HTTP method codes.
#include "routing/HttpMethod.h"

#include <array>

namespace vyn::routing {
namespace {

constexpr std::array<std::string_view, 8> kMethodNames = {
    "", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT",
};

}  // namespace

std::string_view HttpMethodName(uint32_t code) {
  return code < kMethodNames.size() ? kMethodNames[code] : std::string_view{};
}

HttpMethod HttpMethodFromCode(uint32_t code) {
  return code >= 1 && code <= 8 ? static_cast<HttpMethod>(code) : HttpMethod::None;
}

}  // namespace vyn::routing
