// vyn-host: runs a plugin built to the host boundary outside the game client.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/DemoCommand.h"
#include "host/Describe.h"
#include "host/LoadCommand.h"
#include "host/OutgoingHttp.h"
#include "host/PluginHost.h"
#include "host/ServeCommand.h"
#include "host/ValidateCommand.h"

namespace {

using vyn::host::PluginHost;

constexpr const char kUsage[] =
    "usage: vyn-host describe PLUGIN.so [--json]\n"
    "       vyn-host serve PLUGIN.so [--config FILE] [--service embedded] [--port N]\n"
    "                      [--service-timeout SECONDS]\n"
    "       vyn-host demo PLUGIN.so\n"
    "       vyn-host load PLUGIN.so [--requests N]\n"
    "       vyn-host validate PLUGIN [--strictness 1..10] [--seed N] [--json REPORT]\n"
    "                         [--only NAME]...\n"
    "       vyn-host help [COMMAND]\n";

constexpr const char kOverview[] =
    "vyn-host runs a plugin built to the host boundary without the game client.\n"
    "PLUGIN.so is a path; a plain file name is looked for in the current directory.\n\n"
    "commands:\n"
    "  describe  print the plugin's endpoints, types, events and memory use\n"
    "  serve     serve the plugin over HTTP on 127.0.0.1 until SIGINT or SIGTERM\n"
    "  demo      play one round of the feedback tool against an embedded feedback service\n"
    "  load      measure serve under concurrent load: requests per second, latency, memory\n"
    "  validate  check that a plugin keeps the host boundary's contract, each check in a child\n"
    "            process of its own\n\n"
    "'vyn-host help COMMAND' or 'vyn-host COMMAND --help' explains one command.\n";

constexpr const char kDescribeHelp[] =
    "usage: vyn-host describe PLUGIN.so [--json]\n\n"
    "Loads and initialises the plugin, prints what it tells the host about itself and unloads\n"
    "it. The text form lists the endpoints with their arguments, the plugin's own types, the\n"
    "built-in types of its frame, its events and its memory counters; --json prints the same as\n"
    "one JSON document for tools.\n";

constexpr const char kServeHelp[] =
    "usage: vyn-host serve PLUGIN.so [--config FILE] [--service embedded] [--port N]\n"
    "                      [--service-timeout SECONDS]\n\n"
    "Serves the plugin's endpoints on http://127.0.0.1:PORT. A call that no endpoint takes\n"
    "reads (GET), replaces (PUT) or removes (DELETE) a sibling resource; a change is delivered\n"
    "to the plugin as an event. The plugin's published events stream at GET /host/v1/events\n"
    "(Server-Sent Events), its memory counters at GET /host/v1/stats.\n\n"
    "  --config FILE          the sibling resources, YAML or JSON: a map from path to value\n"
    "  --service embedded     start the demo's feedback service inside the host, point the\n"
    "                         backend resource at it and take the demo's values for the\n"
    "                         feature's resources that FILE does not give (FILE is optional)\n"
    "  --port N               the port, 0 to 65535; 0 (the default) takes a free one\n"
    "  --service-timeout S    how long one outside request of the plugin may take (default 10)\n";

constexpr const char kDemoHelp[] =
    "usage: vyn-host demo PLUGIN.so\n\n"
    "Plays one round of the feedback tool step by step against an embedded feedback service:\n"
    "sign-in, end of game, the survey, an answer and its upload. Exits 1 naming the step that\n"
    "did not behave.\n";

constexpr const char kLoadHelp[] =
    "usage: vyn-host load PLUGIN.so [--requests N]\n\n"
    "Starts 'vyn-host serve PLUGIN.so --service embedded' and drives it over loopback with 1, 8\n"
    "and 32 concurrent clients, each sending N requests (default 2000) of mixed traffic (tiny\n"
    "endpoint calls, resource reads and changes, the statistics) while an event stream reader\n"
    "stalls. Prints requests per second, p50 and p99 latency and failures per level, then the\n"
    "server's resident memory before, after the load and after the stalled reader's events are\n"
    "flushed. Exits 1 when a request failed.\n";

constexpr const char kValidateHelp[] =
    "usage: vyn-host validate PLUGIN [--strictness 1..10] [--seed N] [--json REPORT]\n"
    "                         [--only NAME]...\n\n"
    "Checks the plugin's export table, its version check, its load block, its API description,\n"
    "load, initialise and unload cycles, every endpoint with generated well-formed and malformed\n"
    "calls, and every resource it observes with generated events. Each check runs in a child\n"
    "process that loads the library afresh, so a crash or a hang fails that check only. Prints\n"
    "'PASS name (ms)' or 'FAIL name: reason' per check, then 'N passed, N failed'; exits 0 only\n"
    "when nothing failed.\n\n"
    "  --strictness N   how many generated inputs each check gets (default 5; 10 runs thousands)\n"
    "  --seed N         the seed of the generated inputs, to replay a run (default: a fresh one)\n"
    "  --json REPORT    write the same results as a JSON report to REPORT\n"
    "  --only NAME      run only the checks named so, or starting with NAME (e.g. 'endpoint')\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "vyn-host: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

int Help(const std::string& command) {
  if (command.empty()) {
    std::fputs(kUsage, stdout);
    std::fputs("\n", stdout);
    std::fputs(kOverview, stdout);
    return 0;
  }
  const char* text = command == "describe" ? kDescribeHelp
                     : command == "serve"  ? kServeHelp
                     : command == "demo"   ? kDemoHelp
                     : command == "load"   ? kLoadHelp
                     : command == "validate" ? kValidateHelp
                                           : nullptr;
  if (text == nullptr) return Usage(("no help on '" + command + "': no such command").c_str());
  std::fputs(text, stdout);
  return 0;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h" || arg == "help"; }

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
    vyn::host::PrintMemoryStats(stdout, facts.memoryStats);
  }
  host.Stop();
  return 0;
}

// Whole decimal number in [low, high]; the problem, or the empty text.
std::string ParseNumber(const std::string& option, const std::string& text, long low, long high,
                        long& out) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || end == text.c_str() || *end != '\0') {
    return option + " takes a whole number, not '" + text + "'";
  }
  if (errno == ERANGE || value < low || value > high) {
    return option + " " + text + " is out of range (" + std::to_string(low) + " to " +
           std::to_string(high) + ")";
  }
  out = value;
  return "";
}

int Serve(const std::vector<std::string>& args) {
  vyn::host::ServeOptions options;
  options.pluginPath = args[1];
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option != "--config" && option != "--port" && option != "--service" &&
        option != "--service-timeout") {
      return Usage(("unknown option '" + option + "'").c_str());
    }
    if (i + 1 >= args.size()) return Usage((option + " needs a value").c_str());
    const std::string& value = args[++i];
    std::string problem;
    long number = 0;
    if (option == "--config") {
      options.configPath = value;
    } else if (option == "--service") {
      if (value != "embedded") {
        problem = "--service takes 'embedded', not '" + value + "'";
      }
      options.embeddedService = true;
    } else if (option == "--port") {
      problem = ParseNumber(option, value, 0, 65535, number);
      options.port = static_cast<int>(number);
    } else {
      problem = ParseNumber(option, value, 1, 3600, number);
      options.serviceTimeoutSeconds = number;
    }
    if (!problem.empty()) return Usage(problem.c_str());
  }
  if (options.configPath.empty() && !options.embeddedService) {
    return Usage("serve needs --config FILE or --service embedded");
  }
  return vyn::host::RunServe(options);
}

int Dispatch(const std::vector<std::string>& args) {
  if (args.empty()) return Help("");
  const std::string& command = args[0];
  if (IsHelp(command)) return Help(args.size() > 1 ? args[1] : "");
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") return Help(command);
  }
  if (command != "describe" && command != "serve" && command != "demo" && command != "load" &&
      command != "validate") {
    return Usage(("unknown command '" + command + "'").c_str());
  }
  if (args.size() < 2) return Usage((command + " needs the plugin, PLUGIN.so").c_str());
  const std::string& plugin = args[1];
  if (command == "describe") {
    if (args.size() == 2) return Describe(plugin, false);
    if (args.size() == 3 && args[2] == "--json") return Describe(plugin, true);
    return Usage("describe takes the plugin and, optionally, --json");
  }
  if (command == "serve") return Serve(args);
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
  long requests = 2000;
  if (args.size() == 4 && args[2] == "--requests") {
    const std::string problem = ParseNumber("--requests", args[3], 1, 1000000, requests);
    if (!problem.empty()) return Usage(problem.c_str());
  } else if (args.size() != 2) {
    return Usage(args.size() == 3 && args[2] == "--requests" ? "--requests needs a value"
                                                             : "load takes the plugin and, "
                                                               "optionally, --requests N");
  }
  return vyn::host::RunLoad(plugin, static_cast<int>(requests));
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
