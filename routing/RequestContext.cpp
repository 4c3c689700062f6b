// Header look-up in the request context.
#include "routing/RequestContext.h"

#include "routing/AsciiCase.h"

namespace vyn::routing {

std::string_view RequestContext::Header(std::string_view name) const noexcept {
  for (const RequestHeader& header : headers) {
    if (EqualNoCase(header.name, name)) return header.value;
  }
  return {};
}

}  // namespace vyn::routing
