// "vyn-host serve": the plugin's endpoints, the sibling resources and the plugin's published
// events over HTTP on the loopback interface, until SIGINT or SIGTERM.
#pragma once

#include <string>

namespace vyn::host {

struct ServeOptions {
  std::string pluginPath;
  std::string configPath;
  int port = 0;  // 0: any free port; the chosen one is printed
};

// Blocks SIGINT and SIGTERM in the calling thread (and so in every thread it starts) and waits
// for them; returns 0 after a clean shutdown, 1 when the host could not start.
int RunServe(const ServeOptions& options);

}  // namespace vyn::host
