// The plugin's answer to an endpoint call, turned into the host's reply: its result as JSON,
// its failure as the JSON error object, or the bytes of its stream.
#pragma once

#include "base/HostAbi.h"
#include "host/HttpMessage.h"

namespace vyn::host {

// Turns the plugin's answer into a reply and gives the record back exactly once. Sets
// notThisEndpoint when the endpoint's route did not take the call. Runs where the plugin was
// called.
HttpReply ReadEndpointResponse(ResponseRecord& response, bool& notThisEndpoint);

}  // namespace vyn::host
