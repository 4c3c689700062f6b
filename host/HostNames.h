// Names of the numeric codes that cross the host boundary: HTTP methods, value type kinds,
// argument locations and log levels, as the host prints and parses them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vyn::host {

constexpr uint32_t kMethodCustom = 8;

// "DELETE" .. "PUT" for codes 1..7, the empty text for any other code.
const char* MethodName(uint32_t code);
// The code of a method name (exact, upper case); kMethodCustom for any other name.
uint32_t MethodCode(std::string_view name);
// "bool" .. "map" for the type kind codes 1..19, the empty text otherwise.
const char* TypeKindName(uint32_t code);
// "any", "query", "path", "header", "body"; "location <n>" for codes without a name.
std::string LocationName(uint32_t code);
// "OKAY", "WARN", "ERROR", "ALWAYS"; "LEVEL <n>" for others.
std::string LevelName(int32_t level);

}  // namespace vyn::host
