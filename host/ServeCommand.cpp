// "vyn-host serve": the host over HTTP on 127.0.0.1.
#include "host/ServeCommand.h"

#include <httplib.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "host/EventStream.h"
#include "host/PluginHost.h"
#include "host/ResourceConfig.h"

namespace vyn::host {
namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kEventsPath = "/host/v1/events";
constexpr size_t kMaxBodyBytes = 16u << 20;
constexpr int kEventWaitMilliseconds = 250;
// An idle stream sends a comment now and then, so a reader that went away is noticed.
constexpr auto kKeepAliveInterval = std::chrono::seconds(15);

HttpCall ToCall(const httplib::Request& request) {
  HttpCall call;
  call.method = request.method;
  call.target = request.target;
  for (const auto& [name, value] : request.headers) {
    // The server adds the peer's and its own address as pseudo-headers; they were not sent.
    if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
        name == "LOCAL_PORT") {
      continue;
    }
    call.headers.emplace_back(name, value);
  }
  call.body = request.body;
  return call;
}

void ToResponse(const HttpReply& reply, httplib::Response& response) {
  response.status = reply.status;
  for (const auto& [name, value] : reply.headers) response.set_header(name, value);
  // These statuses carry no body on the wire, whatever the plugin put into its result.
  if (reply.status == 204 || reply.status == 304) return;
  if (!reply.contentType.empty()) {
    response.set_content(reply.body, reply.contentType);
  } else if (!reply.body.empty()) {
    response.set_content(reply.body, "application/octet-stream");
  }
}

void ServeEvents(EventStream& stream, const httplib::Request& request,
                 httplib::Response& response) {
  // This server version would compress a text stream for a reader that accepts it, and its
  // compressor holds events back until the stream ends. The request object is the server's
  // own, writable one; it only lends it as const.
  const_cast<httplib::Request&>(request).headers.erase("Accept-Encoding");
  auto reader = stream.Open();
  response.set_header("Cache-Control", "no-cache");
  auto lastWrite = std::make_shared<std::chrono::steady_clock::time_point>();
  auto greeted = std::make_shared<bool>(false);
  response.set_chunked_content_provider(
      "text/event-stream",
      [reader, lastWrite, greeted](size_t, httplib::DataSink& sink) {
        // The greeting tells a reader that its stream is registered and will see what follows.
        if (!*greeted) {
          *greeted = true;
          *lastWrite = std::chrono::steady_clock::now();
          static constexpr char kHello[] = ": connected\n\n";
          return sink.write(kHello, sizeof kHello - 1);
        }
        std::string chunk;
        if (reader->Next(chunk, kEventWaitMilliseconds)) {
          *lastWrite = std::chrono::steady_clock::now();
          return sink.write(chunk.data(), chunk.size());
        }
        if (reader->closed()) {
          sink.done();
          return true;
        }
        if (std::chrono::steady_clock::now() - *lastWrite > kKeepAliveInterval) {
          *lastWrite = std::chrono::steady_clock::now();
          static constexpr char kKeepAlive[] = ": keep-alive\n\n";
          return sink.write(kKeepAlive, sizeof kKeepAlive - 1);
        }
        return true;
      },
      [&stream, reader](bool) { stream.Remove(reader); });
}

}  // namespace

int RunServe(const ServeOptions& options) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  ResourceValues resources;
  std::string error;
  if (!LoadResourceConfig(options.configPath, resources, error)) {
    std::fprintf(stderr, "vyn-host: %s\n", error.c_str());
    return 1;
  }
  const size_t resourceCount = resources.size();
  PluginHost host(std::move(resources));
  if (!host.Start(options.pluginPath, error)) {
    std::fprintf(stderr, "vyn-host: %s: %s\n", options.pluginPath.c_str(), error.c_str());
    return 1;
  }
  for (const auto& warning : host.api().warnings) {
    std::fprintf(stderr, "vyn-host: warning: %s\n", warning.c_str());
  }
  if (!host.ready()) std::fprintf(stderr, "vyn-host: warning: the plugin is not ready\n");

  EventStream events;
  const int listener = host.AddEventListener(
      [&events](const PublishedEvent& event) { events.Publish(event.name, event.payloadJson); });

  httplib::Server server;
  server.set_payload_max_length(kMaxBodyBytes);
  server.Get(kEventsPath, [&events](const httplib::Request& request, httplib::Response& response) {
    ServeEvents(events, request, response);
  });
  auto handle = [&host](const httplib::Request& request, httplib::Response& response) {
    ToResponse(host.Handle(ToCall(request)), response);
  };
  server.Get(".*", handle);
  server.Post(".*", handle);
  server.Put(".*", handle);
  server.Patch(".*", handle);
  server.Delete(".*", handle);
  server.Options(".*", handle);

  int port = options.port;
  if (port == 0) {
    port = server.bind_to_any_port(kLoopback);
  } else if (!server.bind_to_port(kLoopback, port)) {
    port = -1;
  }
  if (port <= 0) {
    std::fprintf(stderr, "vyn-host: cannot listen on %s:%d\n", kLoopback, options.port);
    host.RemoveEventListener(listener);
    host.Stop();
    return 1;
  }
  const PluginLoadBlock& block = host.block();
  std::printf("vyn-host: serving %s (%zu endpoints, %zu resources) on http://%s:%d\n",
              block.shortName != nullptr ? block.shortName : "plugin", host.api().endpoints.size(),
              resourceCount, kLoopback, port);
  std::fflush(stdout);

  std::atomic<bool> listening{true};
  std::thread serverThread([&] {
    server.listen_after_bind();
    listening = false;
  });
  // A stop that comes before the server runs is lost, and the server would then run on.
  while (listening && !server.is_running())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));

  int received = 0;
  while (received <= 0 && listening) {
    const timespec wait{0, 200 * 1000 * 1000};
    received = sigtimedwait(&signals, nullptr, &wait);
  }
  if (received > 0) std::fprintf(stderr, "vyn-host: stopping on signal %d\n", received);

  // Streams end first, so that the server's workers are free when it stops.
  events.Close();
  server.stop();
  serverThread.join();
  host.RemoveEventListener(listener);
  host.Stop();
  return received > 0 ? 0 : 1;
}

}  // namespace vyn::host
