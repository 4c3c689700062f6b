// The raw libraries' own ways of reading the corpora, shared by the format and endpoint
// benchmarks so that both compare against the same baseline code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vyn::bench {

// RapidJSON's Document::Parse with default flags; false on a parse error.
bool RapidJsonDomParse(const std::string& json);
// msgpack-c's unpack with default settings (strings copied into its zone); false on an error.
bool MsgPackCUnpack(const std::vector<uint8_t>& bytes);
// libyaml's events, parsed and deleted one by one until the stream ends; false on an error.
bool LibYamlEventLoop(const std::string& yaml);

}  // namespace vyn::bench
