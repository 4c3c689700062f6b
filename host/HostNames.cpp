// Names of the numeric codes that cross the host boundary.
#include "host/HostNames.h"

namespace vyn::host {
namespace {

constexpr const char* kMethodNames[] = {"",        "DELETE", "GET",  "HEAD",
                                        "OPTIONS", "PATCH",  "POST", "PUT"};
constexpr const char* kTypeKindNames[] = {"",       "bool",   "int8",   "uint8",    "int16",
                                          "uint16", "int32",  "uint32", "int64",    "uint64",
                                          "float",  "double", "string", "object",   "blob",
                                          "vector", "enum",   "struct", "callback", "map"};

}  // namespace

const char* MethodName(uint32_t code) { return code >= 1 && code <= 7 ? kMethodNames[code] : ""; }

uint32_t MethodCode(std::string_view name) {
  for (uint32_t code = 1; code <= 7; ++code) {
    if (name == kMethodNames[code]) return code;
  }
  return kMethodCustom;
}

const char* TypeKindName(uint32_t code) { return code <= 19 ? kTypeKindNames[code] : ""; }

std::string LocationName(uint32_t code) {
  switch (code) {
    case 0:
      return "any";
    case 1:
      return "query";
    case 2:
      return "path";
    case 4:
      return "header";
    case 5:
      return "body";
    default:
      return "location " + std::to_string(code);
  }
}

std::string LevelName(int32_t level) {
  static constexpr const char* kLevels[] = {"OKAY", "WARN", "ERROR", "ALWAYS"};
  if (level >= 0 && level < 4) return kLevels[level];
  return "LEVEL " + std::to_string(level);
}

}  // namespace vyn::host
