// The response record written back to the host from a call result, and its clean-up function.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/HostAbi.h"
#include "routing/CallResult.h"

namespace vyn::binding {
class BindingRegistry;
}

namespace vyn::routing {

// Fills `out` (which holds nothing of ours yet) from the call result. Allocation failures leave
// the affected field empty rather than failing the response.
void WriteResponse(ResponseRecord& out, const CallResult& call,
                   const binding::BindingRegistry* registry);

// Fills `out` (which holds nothing of ours yet) with an error response.
void WriteError(ResponseRecord& out, uint32_t status, std::string_view message);

// After an exception: whatever was written goes, and status 500 with the exception's message
// takes its place.
void WriteFailure(ResponseRecord& out, const char* what) noexcept;

// The clean-up function set in every response record: frees what the plugin allocated there and
// zeroes the record.
void CleanupResponse(ResponseRecord* record) noexcept;

}  // namespace vyn::routing
