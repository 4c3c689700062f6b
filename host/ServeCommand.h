// "vyn-host serve": the plugin's endpoints, the sibling resources and the plugin's published
// events over HTTP on the loopback interface, until SIGINT or SIGTERM.
#pragma once

#include <string>

namespace vyn::host {

struct ServeOptions {
  std::string pluginPath;
  std::string configPath;  // may be empty with the embedded service
  int port = 0;            // 0: any free port; the chosen one is printed
  // Starts the demo's feedback service inside the host, points the backend resource at it and
  // fills the feature's resources that the configuration does not give with the demo's values.
  bool embeddedService = false;
  long serviceTimeoutSeconds = 10;  // per outside request the plugin makes
};

// Blocks SIGINT and SIGTERM in the calling thread (and so in every thread it starts) and waits
// for them; returns 0 after a clean shutdown, 1 when the host could not start.
int RunServe(const ServeOptions& options);

}  // namespace vyn::host
