// The name under which the host's event bus carries changes of a local resource path; the
// plugin subscribes under the same name, so both sides must derive it identically.
#pragma once

#include <string>
#include <string_view>

namespace vyn::host {

inline constexpr const char* kResourceEventBase = "OnJsonApiEvent";

// "OnJsonApiEvent" joined by "_" with the path's first pieces (empty pieces dropped): four
// pieces in all, six when the second piece is "vyn-platform-config".
std::string EventNameForPath(std::string_view path);

}  // namespace vyn::host
