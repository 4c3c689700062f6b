// vyn-host: runs a plugin built to the host boundary outside the game client.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/DemoCommand.h"
#include "host/Describe.h"
#include "host/OutgoingHttp.h"
#include "host/PluginHost.h"
#include "host/ServeCommand.h"
#include "host/ValidateCommand.h"

namespace {

using vyn::host::PluginHost;

constexpr const char kUsage[] =
    "usage: vyn-host describe PLUGIN.so [--json]\n"
    "       vyn-host serve PLUGIN.so --config FILE [--port N]\n"
    "       vyn-host demo PLUGIN.so\n"
    "       vyn-host validate PLUGIN [--strictness 1..10] [--seed N] [--json REPORT]"
    " [--only NAME]...\n";

int Usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "vyn-host: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

int Describe(const std::string& path, bool json) {
  PluginHost host{vyn::host::ResourceValues{}};
  std::string error;
  if (!host.Start(path, error)) {
    std::fprintf(stderr, "vyn-host: %s: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  const PluginLoadBlock& block = host.block();
  vyn::host::PluginFacts facts;
  facts.shortName = block.shortName != nullptr ? block.shortName : "";
  facts.major = block.major;
  facts.minor = block.minor;
  facts.patch = block.patch;
  facts.ready = host.ready();
  host.MemoryStats(facts.memoryStats);
  if (json) {
    std::printf("%s\n", vyn::host::DescriptionJson(facts, host.api()).c_str());
  } else {
    std::printf("plugin: %s\n", facts.shortName.c_str());
    std::printf("plugin API: host %u.%u.%u, plugin %u.%u.%u\n", PluginHost::kApiMajor,
                PluginHost::kApiMinor, PluginHost::kApiPatch, facts.major, facts.minor,
                facts.patch);
    std::printf("initialized: %s\n", facts.ready ? "ready" : "not ready");
    vyn::host::PrintApiDescription(stdout, host.api());
    std::printf("memory:\n");
    vyn::host::PrintMemoryStats(stdout, facts.memoryStats);
  }
  host.Stop();
  return 0;
}

// Whole decimal number in 0..65535.
bool ParsePort(const char* text, int& port) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > 65535) return false;
  port = static_cast<int>(value);
  return true;
}

int Dispatch(const std::vector<std::string>& args) {
  if (args.size() < 2) return Usage(nullptr);
  const std::string& command = args[0];
  const std::string& plugin = args[1];
  if (command == "describe") {
    if (args.size() == 2) return Describe(plugin, false);
    if (args.size() == 3 && args[2] == "--json") return Describe(plugin, true);
    return Usage("describe takes the plugin and, optionally, --json");
  }
  if (command == "serve") {
    vyn::host::ServeOptions options;
    options.pluginPath = plugin;
    for (size_t i = 2; i < args.size(); ++i) {
      if (args[i] == "--config" && i + 1 < args.size()) {
        options.configPath = args[++i];
      } else if (args[i] == "--port" && i + 1 < args.size()) {
        if (!ParsePort(args[++i].c_str(), options.port)) return Usage("the port is not a number");
      } else {
        return Usage(("unknown option '" + args[i] + "'").c_str());
      }
    }
    if (options.configPath.empty()) return Usage("serve needs --config FILE");
    return vyn::host::RunServe(options);
  }
  if (command == "demo") {
    if (args.size() != 2) return Usage("demo takes only the plugin");
    return vyn::host::RunDemo(plugin);
  }
  if (command == "validate") {
    vyn::host::ValidateOptions options;
    options.pluginPath = plugin;
    std::string error;
    if (!vyn::host::ParseValidateOptions({args.begin() + 2, args.end()}, options, error)) {
      return Usage(error.c_str());
    }
    return vyn::host::RunValidate(options);
  }
  return Usage(("unknown command '" + command + "'").c_str());
}

}  // namespace

int main(int argc, char** argv) {
  // A peer that closes its connection early must not end the host.
  std::signal(SIGPIPE, SIG_IGN);
  vyn::host::InitializeOutgoingHttp();
  const int status = Dispatch(std::vector<std::string>(argv + 1, argv + argc));
  vyn::host::CleanupOutgoingHttp();
  return status;
}
