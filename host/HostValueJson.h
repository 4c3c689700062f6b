// JSON text of a HostValue tree that the plugin lent the host (an endpoint's result, an event
// payload). The tree is read through copies of its packed records, never written.
#pragma once

#include <string>

#include "base/HostAbi.h"

namespace vyn::host {

// Writes the tree as compact JSON: strings as strings, blobs as Base64 strings, non-finite
// floats as null, structures as objects in array order. Returns false with a reason for a
// kind outside 0..10, a null array with a non-zero count, or nesting deeper than 256 levels;
// json is then unusable.
[[nodiscard]] bool HostValueToJson(const HostValue& value, std::string& json, std::string& error);

}  // namespace vyn::host
