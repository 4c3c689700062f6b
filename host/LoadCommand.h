// "vyn-host load": a load benchmark of "vyn-host serve" over loopback, not a test. It starts the
// server as a child process with the embedded feedback service, drives it with mixed traffic at
// rising concurrency and reports throughput, latency, failures and the server's memory.
#pragma once

#include <string>

namespace vyn::host {

// Returns 0 when every request was answered as expected, 1 otherwise or when the server did
// not start.
int RunLoad(const std::string& pluginPath, int requestsPerClient);

}  // namespace vyn::host
