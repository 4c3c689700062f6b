// The host's configuration file: the sibling resources that the plugin reads with local
// requests, as a map from local path to value, written in YAML or JSON.
#pragma once

#include <rapidjson/document.h>

#include <map>
#include <string>
#include <string_view>

namespace vyn::host {

// One document per resource, so that a resource can be replaced on its own.
using ResourceValues = std::map<std::string, rapidjson::Document>;

// Text whose first non-blank character is "{" is read as JSON, any other as YAML (first
// document only). The top level must be a mapping whose keys are paths starting with "/"; a
// text without a document (empty, or comments only) gives no resources.
// YAML plain scalars resolve to null (empty, "~", "null"), booleans ("true", "false" in any of
// the three usual cases), integers (decimal, "0x" hexadecimal, "0o" octal), floats, or else
// strings; quoted and block scalars are strings. Anchors and aliases are followed.
// On failure returns false with a reason that names the line and column; out is then unchanged.
[[nodiscard]] bool ParseResourceConfig(std::string_view text, ResourceValues& out,
                                       std::string& error);

// Reads the file and parses it; the reason of a failure starts with the path.
[[nodiscard]] bool LoadResourceConfig(const std::string& path, ResourceValues& out,
                                      std::string& error);

}  // namespace vyn::host
