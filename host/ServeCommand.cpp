// "vyn-host serve": the host over HTTP on 127.0.0.1.
#include "host/ServeCommand.h"

#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <thread>

#include "host/Describe.h"
#include "host/EventStream.h"
#include "host/FeatureResources.h"
#include "host/FeedbackService.h"
#include "host/HttpServer.h"
#include "host/OutgoingHttp.h"
#include "host/PluginHost.h"
#include "host/ResourceConfig.h"

namespace vyn::host {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kEventsPath = "/host/v1/events";
constexpr const char* kStatsPath = "/host/v1/stats";
// A stream reader that went away is noticed within this long.
constexpr int kEventWaitMilliseconds = 250;
// An idle stream sends a comment now and then, so that proxies keep it open.
constexpr auto kKeepAliveInterval = std::chrono::seconds(15);
// Free memory goes back to the system once calls have paused this long.
constexpr auto kTrimAfterQuiet = std::chrono::milliseconds(500);

// glibc keeps freed memory in its arenas, one per thread that ever allocated; after a burst of
// connections that is most of what the host grew by.
void ReturnFreeMemory() { malloc_trim(0); }

uint64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  uint64_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

HttpReply OpenEventStream(EventStream& events) {
  auto reader = events.Open();
  if (reader == nullptr) {
    return ErrorReply(503, "the event stream has " + std::to_string(EventStream::kMaxReaders) +
                               " readers already; try again later");
  }
  HttpReply reply;
  reply.contentType = "text/event-stream";
  reply.headers.emplace_back("Cache-Control", "no-cache");
  reply.stream = [&events, reader](StreamSink& sink) {
    struct Leave {
      EventStream& events;
      const std::shared_ptr<EventStream::Reader>& reader;
      ~Leave() {
        events.Remove(reader);
        ReturnFreeMemory();  // a reader that fell behind leaves a full queue
      }
    } leave{events, reader};
    // The greeting tells a reader that its stream is registered and will see what follows.
    if (!sink.Write(": connected\n\n")) return;
    auto lastWrite = Clock::now();
    while (!sink.Gone(0)) {
      std::string chunk;
      if (reader->Next(chunk, kEventWaitMilliseconds)) {
        if (!sink.Write(chunk)) return;
        lastWrite = Clock::now();
      } else if (reader->closed()) {
        return;
      } else if (Clock::now() - lastWrite > kKeepAliveInterval) {
        if (!sink.Write(": keep-alive\n\n")) return;
        lastWrite = Clock::now();
      }
    }
  };
  return reply;
}

HttpReply StatsReply(PluginHost& host, const EventStream& events) {
  uint32_t stats[14];
  host.MemoryStats(stats);
  HttpReply reply;
  reply.contentType = "application/json";
  reply.body = R"({"plugin":)" + MemoryStatsJson(stats) + R"(,"host":{"residentBytes":)" +
               std::to_string(ResidentBytes()) + R"(,"streamReaders":)" +
               std::to_string(events.readers()) + "}}";
  return reply;
}

// Adds the demo's values of the feature's resources that the configuration lacks, and points
// the backend at the service whatever the configuration says.
bool AddEmbeddedService(const FeedbackService& service, ResourceValues& resources,
                        std::string& error) {
  ResourceValues defaults;
  if (!ParseResourceConfig(DemoResourcesJson(service.BaseUrl()), defaults, error)) return false;
  for (auto& [path, value] : defaults) {
    if (resources.count(path) == 0 || path == kBackendUrlPath) resources[path] = std::move(value);
  }
  return true;
}

}  // namespace

int RunServe(const ServeOptions& options) {
  // Fixed thresholds, so that glibc gives the top of every thread's arena back as it is freed;
  // its moving default holds megabytes per arena after one large block. Few arenas, because a
  // thread per connection would otherwise spread small leftovers over many.
  mallopt(M_ARENA_MAX, 4);
  mallopt(M_MMAP_THRESHOLD, 256 << 10);
  mallopt(M_TRIM_THRESHOLD, 256 << 10);
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  ResourceValues resources;
  std::string error;
  if (!options.configPath.empty() && !LoadResourceConfig(options.configPath, resources, error)) {
    std::fprintf(stderr, "vyn-host: %s\n", error.c_str());
    return 1;
  }
  FeedbackService service(true);
  if (options.embeddedService) {
    if (!service.Start()) {
      std::fprintf(stderr, "vyn-host: the embedded feedback service cannot listen on %s\n",
                   kLoopback);
      return 1;
    }
    if (!AddEmbeddedService(service, resources, error)) {
      std::fprintf(stderr, "vyn-host: %s\n", error.c_str());
      return 1;
    }
    std::printf("vyn-host: embedded feedback service at %s\n", service.BaseUrl().c_str());
  }
  const size_t resourceCount = resources.size();
  PluginHost host(std::move(resources));
  host.SetServiceTimeout(options.serviceTimeoutSeconds);
  if (!host.Start(options.pluginPath, error)) {
    std::fprintf(stderr, "vyn-host: %s: %s\n", options.pluginPath.c_str(), error.c_str());
    return 1;
  }
  for (const auto& warning : host.api().warnings) {
    std::fprintf(stderr, "vyn-host: warning: %s\n", warning.c_str());
  }
  if (!host.ready()) std::fprintf(stderr, "vyn-host: warning: the plugin is not ready\n");
  // The plugin's own messages about a missing resource are fixed texts that cannot name it.
  for (const FeatureResource& resource : kFeatureResources) {
    if (!host.MissingResources({resource.path}).empty()) {
      std::fprintf(stderr, "vyn-host: warning: no resource %s in the configuration: %s\n",
                   resource.path, resource.purpose);
    }
  }

  EventStream events;
  const int listener = host.AddEventListener(
      [&events](const PublishedEvent& event) { events.Publish(event.name, event.payloadJson); });

  std::atomic<Clock::rep> lastCall{0};
  std::atomic<bool> untrimmed{false};
  HttpServer server([&](const HttpCall& call) -> HttpReply {
    lastCall = Clock::now().time_since_epoch().count();
    untrimmed = true;
    const std::string path = call.target.substr(0, call.target.find('?'));
    if (path == kEventsPath && call.method == "GET") return OpenEventStream(events);
    if (path == kStatsPath && call.method == "GET") return StatsReply(host, events);
    return host.Handle(call);
  });
  if (!server.Listen(kLoopback, options.port, error)) {
    std::fprintf(stderr, "vyn-host: %s\n", error.c_str());
    host.RemoveEventListener(listener);
    host.Stop();
    return 1;
  }
  const PluginLoadBlock& block = host.block();
  std::printf("vyn-host: serving %s (%zu endpoints, %zu resources) on http://%s:%d\n",
              block.shortName != nullptr ? block.shortName : "plugin", host.api().endpoints.size(),
              resourceCount, kLoopback, server.port());
  std::fflush(stdout);
  std::thread serverThread([&] { server.Run(); });

  int received = 0;
  while (received <= 0) {
    const timespec wait{0, 200 * 1000 * 1000};
    received = sigtimedwait(&signals, nullptr, &wait);
    const Clock::time_point last{Clock::duration{lastCall.load()}};
    if (untrimmed && Clock::now() - last > kTrimAfterQuiet) {
      untrimmed = false;
      ReturnFreeMemory();
    }
  }
  std::fprintf(stderr, "vyn-host: stopping on signal %d\n", received);

  // A plugin call waiting for an outside service ends first, so that every call returns.
  CancelOutgoing();
  events.Close();
  server.Stop();
  serverThread.join();
  host.RemoveEventListener(listener);
  host.Stop();
  service.Stop();
  return 0;
}

}  // namespace vyn::host
