// PascalCase identifiers from a prefix and a path, for function names ("GetVynPftV2Survey") and
// the plugin's record-type prefix ("VynPft").
#pragma once

#include <string>
#include <string_view>

namespace vyn::routing {

// The prefix (when non-empty) is normalised to its first character followed by the rest in lower
// case, so "GET" and "get" give the same name. Separators "!", "+", "-", ".", "/", "_" are
// dropped and capitalise what follows; a template's "{name}" reads as "ByName". Only ASCII
// letters change case; other bytes are copied, so UTF-8 passes through intact.
std::string MakeIdentifier(std::string_view prefix, std::string_view path);

}  // namespace vyn::routing
