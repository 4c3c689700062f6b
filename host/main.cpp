// vyn-host: runs a plugin built to the host boundary outside the game client.
#include <cstdio>
#include <cstring>
#include <string>

#include "host/Describe.h"
#include "host/LoadedLibrary.h"

namespace {

constexpr uint32_t kHostMajor = 18;
constexpr uint32_t kHostMinor = 0;
constexpr uint32_t kHostPatch = 0;

// A host function table that only writes the plugin's log lines to standard error; every
// other service answers as unavailable.
struct MinimalHost {
  HostFunctions functions;
};

void NoRequest(HostFunctions*, ResponseRecord* response, const RequestRecord*) {
  static const char kMessage[] = "not available in this host";
  response->error.message = kMessage;
  response->error.failed = 1;
  response->status = 503;
}
void NoExternalRequest(HostFunctions*, ExternalResponseRecord* response,
                       const ExternalRequestRecord*) {
  static const char kMessage[] = "no network in this host";
  response->transport = 1;
  response->body = kMessage;
  response->bodyLength = sizeof(kMessage) - 1;
}
void IgnoreEvent(HostFunctions*, const EventRecord*) {}
void IgnoreSubscribe(HostFunctions*, const char*, uint32_t, EventCallback, void*, uint8_t) {}
void IgnoreUnsubscribe(HostFunctions*, const char*, uint32_t) {}
void IgnoreReserved(HostFunctions*, uint32_t, uint32_t, uint32_t, double, uint32_t) {}
void IgnoreYield(HostFunctions*) {}
void IgnoreBeginWait(HostFunctions*, const char*, uint32_t) {}
void IgnoreEndWait(HostFunctions*) {}
void LogToStdErr(HostFunctions*, int32_t level, const char* message) {
  static const char* const kLevels[] = {"OKAY", "WARN", "ERROR", "ALWAYS"};
  const char* name = level >= 0 && level < 4 ? kLevels[level] : "?";
  std::fprintf(stderr, "[plugin %s] %s\n", name, message != nullptr ? message : "");
}

int Describe(const char* path) {
  vyn::host::LoadedLibrary plugin;
  std::string error;
  if (!plugin.Load(path, kHostMajor, kHostMinor, kHostPatch, error)) {
    std::fprintf(stderr, "vyn-host: %s: %s\n", path, error.c_str());
    return 1;
  }
  const PluginLoadBlock& block = plugin.block();
  std::printf("plugin: %s\n", block.shortName != nullptr ? block.shortName : "");
  std::printf("plugin API: host %u.%u.%u, plugin %u.%u.%u\n", kHostMajor, kHostMinor, kHostPatch,
              block.major, block.minor, block.patch);
  MinimalHost host{{NoRequest, NoExternalRequest, IgnoreEvent, IgnoreSubscribe, IgnoreUnsubscribe,
                    IgnoreReserved, IgnoreYield, IgnoreBeginWait, IgnoreEndWait, LogToStdErr}};
  HostApi api{&host.functions, 1};
  std::printf("initialized: %s\n", plugin.Initialize(&api) ? "ready" : "not ready");
  if (block.api != nullptr) vyn::host::PrintApiDescription(stdout, *block.api);
  uint32_t stats[14];
  plugin.MemoryStats(stats);
  std::printf("memory:\n");
  vyn::host::PrintMemoryStats(stdout, stats);
  plugin.Unload();
  return 0;
}

void Usage() { std::fprintf(stderr, "usage: vyn-host describe PLUGIN.so\n"); }

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "describe") == 0) return Describe(argv[2]);
  Usage();
  return 2;
}
