// Printing what a loaded plugin tells the host about itself.
#pragma once

#include <cstdio>

#include "plugin/HostAbi.h"

namespace vyn::host {

void PrintApiDescription(std::FILE* out, const ApiDescription& api);
void PrintMemoryStats(std::FILE* out, const uint32_t stats[14]);

}  // namespace vyn::host
