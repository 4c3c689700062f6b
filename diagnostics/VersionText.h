// Version numbers and plugin type pairs, and their text forms ("1.2.3-beta+77", "type:detail").
// The records belong to the plugin entry but live here so that the formatter can print them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vyn::diagnostics {

struct PluginApiVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t patch = 0;
  std::string preRelease;  // appended after "-" when not empty
  std::string build;       // appended after "+" when not empty
};

struct PluginType {
  std::string type;
  std::string detail;
};

// "major.minor.patch", then "-preRelease" and "+build" when those are not empty.
std::string VersionText(const PluginApiVersion& version);

// The same texts written into a caller's buffer without touching the heap, cut to fit and always
// NUL-terminated when size > 0. Returns the number of bytes written (without the terminator).
std::size_t WriteVersionText(char* buffer, std::size_t size, const PluginApiVersion& version);
// "type:detail".
std::size_t WritePluginTypeText(char* buffer, std::size_t size, const PluginType& pluginType);

}  // namespace vyn::diagnostics
