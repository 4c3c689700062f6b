// Printing what a loaded plugin tells the host about itself: its endpoints, types and events,
// as text for a reader or as JSON for tools.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "host/ApiSnapshot.h"

namespace vyn::host {

struct PluginFacts {
  std::string shortName;
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t patch = 0;
  bool ready = false;
  uint32_t memoryStats[14] = {};
};

void PrintApiDescription(std::FILE* out, const ApiSnapshot& api);
void PrintMemoryStats(std::FILE* out, const uint32_t stats[14]);
// {"peakBytes": .., "peakBlocks", "bytesAllocated", "blocksAllocated", "bytesFreed",
// "blocksFreed"}
std::string MemoryStatsJson(const uint32_t stats[14]);

// The whole description as one pretty-printed JSON document.
std::string DescriptionJson(const PluginFacts& facts, const ApiSnapshot& api);

// The description read back from DescriptionJson's document (the invoke entries and endpoint
// contexts excepted, which the document does not carry). Returns false with a reason for a
// document that is not that JSON, or not UTF-8.
[[nodiscard]] bool ReadDescriptionJson(const std::string& json, ApiSnapshot& api,
                                       std::string& error);

}  // namespace vyn::host
