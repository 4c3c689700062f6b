// "vyn-host load": mixed traffic against a child "vyn-host serve".
#include "host/LoadCommand.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "host/WireClient.h"

namespace vyn::host {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLevels[] = {1, 8, 32};
constexpr int kReplyTimeoutMilliseconds = 10000;

// One kept-alive connection, one request at a time.
class Client {
 public:
  explicit Client(int port) : fd_(ConnectLoopback(port)) {}
  ~Client() {
    if (fd_ >= 0) close(fd_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // The reply's status, or 0 when none came; its body when asked for.
  int Send(const std::string& request, std::string* body = nullptr) {
    WireReply reply;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kReplyTimeoutMilliseconds);
    if (fd_ < 0 || !SendAll(fd_, request) || !ReadReply(fd_, received_, deadline, reply)) {
      return Broken();
    }
    if (body != nullptr) *body = std::move(reply.body);
    if (!reply.keepAlive) Broken();
    return reply.status;
  }

 private:
  int Broken() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return 0;
  }

  int fd_ = -1;
  std::string received_;
};

std::string Request(const char* method, const std::string& target, const std::string& body) {
  std::string text = std::string(method) + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  if (!body.empty() || std::string(method) == "PUT") {
    text +=
        "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  }
  return text + "\r\n" + body;
}

// The mixed traffic: tiny endpoint calls, resource reads, changes that reach the plugin and
// changes nobody watches, the statistics, and end-of-game statistics that make the plugin ask
// the embedded service for a survey and publish it (two events on the stream each).
struct Call {
  std::string request;
  bool (*expected)(int status);
};

bool Answered(int status) { return status >= 200 && status < 500; }
bool Ok(int status) { return status == 200; }

std::vector<Call> Traffic(int client) {
  const std::string item = "/load/v1/items/" + std::to_string(client);
  return {
      {Request("GET", "/vyn-pft/v2/survey", ""), Answered},
      {Request("GET", "/tarnclient/region-locale", ""), Ok},
      {Request("PUT", "/vyn-gameflow/v1/session", R"({"phase":"EndOfGame"})"), Ok},
      {Request("PUT", item, R"({"client":)" + std::to_string(client) + "}"), Ok},
      {Request("GET", item, ""), Ok},
      {Request("GET", "/host/v1/stats", ""), Ok},
      {Request("GET", "/vyn-pft/v2/survey", ""), Answered},
      {Request("PUT", "/vyn-end-of-game/v1/eog-stats-block",
               R"({"gameId":7000123,"gameMode":"CLASSIC","gameLength":1834,"accountId":2000001,)"
               R"("summonerId":3000001,"teams":[]})"),
       Ok},
  };
}

struct Level {
  size_t requests = 0;
  size_t failures = 0;
  double seconds = 0;
  double p50 = 0, p99 = 0;   // milliseconds
  std::string firstFailure;  // the request line and what came back
};

Level Drive(int port, int concurrency, int requestsPerClient) {
  std::vector<std::vector<double>> latencies(static_cast<size_t>(concurrency));
  std::atomic<size_t> failures{0};
  std::mutex failureMutex;
  std::string firstFailure;  // guarded by failureMutex
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < concurrency; ++c) {
    threads.emplace_back([&, c] {
      const std::vector<Call> traffic = Traffic(c);
      auto client = std::make_unique<Client>(port);
      auto& mine = latencies[static_cast<size_t>(c)];
      mine.reserve(static_cast<size_t>(requestsPerClient));
      client->Send(traffic[3].request);  // the client's own item exists before it is read
      for (int i = 0; i < requestsPerClient; ++i) {
        const Call& call = traffic[static_cast<size_t>(i + c) % traffic.size()];
        const auto begin = Clock::now();
        const int status = client->Send(call.request);
        mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
        if (!call.expected(status)) {
          ++failures;
          std::lock_guard<std::mutex> lock(failureMutex);
          if (firstFailure.empty()) {
            firstFailure = call.request.substr(0, call.request.find(" HTTP/")) + " answered " +
                           (status == 0 ? "nothing" : std::to_string(status));
          }
          if (status == 0) client = std::make_unique<Client>(port);
        }
      }
      client->Send(Request("DELETE", "/load/v1/items/" + std::to_string(c), ""));
    });
  }
  for (auto& thread : threads) thread.join();
  Level level;
  level.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::vector<double> all;
  for (const auto& some : latencies) all.insert(all.end(), some.begin(), some.end());
  std::sort(all.begin(), all.end());
  level.requests = all.size();
  level.failures = failures;
  level.firstFailure = firstFailure;
  if (!all.empty()) {
    level.p50 = all[all.size() / 2];
    level.p99 = all[std::min(all.size() - 1, all.size() * 99 / 100)];
  }
  return level;
}

double ResidentMegabytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return 0;
}

// The server as a child; its port read from the line it prints.
class Server {
 public:
  explicit Server(const std::string& pluginPath) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      close(out[0]);
      execl("/proc/self/exe", "vyn-host", "serve", pluginPath.c_str(), "--service", "embedded",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[512];
    static const std::string kMarker = "on http://127.0.0.1:";
    for (;;) {
      const ssize_t got = read(out[0], buffer, sizeof buffer);
      if (got <= 0) break;
      text.append(buffer, static_cast<size_t>(got));
      const size_t at = text.find(kMarker);
      if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
        port_ = std::atoi(text.c_str() + at + kMarker.size());
        break;
      }
    }
    close(out[0]);
  }
  ~Server() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  pid_t pid() const { return pid_; }
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// Waits until the server reports no stream readers, up to ten seconds.
bool WaitForNoReaders(int port) {
  Client client(port);
  for (int i = 0; i < 100; ++i) {
    std::string body;
    if (client.Send(Request("GET", "/host/v1/stats", ""), &body) == 200 &&
        body.find(R"("streamReaders":0)") != std::string::npos) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

}  // namespace

int RunLoad(const std::string& pluginPath, int requestsPerClient) {
  Server server(pluginPath);
  if (server.port() <= 0) {
    std::fprintf(stderr, "vyn-host: load: the server did not start\n");
    return 1;
  }
  std::printf("vyn-host load: %s on port %d, %d requests per client\n", pluginPath.c_str(),
              server.port(), requestsPerClient);
  {  // the player signs in, so that end-of-game statistics bring a survey
    Client client(server.port());
    client.Send(Request("PUT", "/vyn-login/v1/session",
                        R"({"state":"SUCCEEDED","accountId":2000001,"summonerId":3000001,)"
                        R"("puuid":"5b2f0c1e-load-0000-0000-player000001","idToken":"t"})"));
  }
  // One round of each call first: the code that serves it is paged in once and stays, which is
  // no growth that load causes.
  {
    Client client(server.port());
    for (const Call& call : Traffic(0)) client.Send(call.request);
    client.Send(Request("DELETE", "/load/v1/items/0", ""));
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double before = ResidentMegabytes(server.pid());

  // A reader that never reads: the server's queue for it fills while the load runs.
  const std::string open = Request("GET", "/host/v1/events", "");
  const int stalledFd = ConnectLoopback(server.port(), 4096);
  if (stalledFd < 0 || !SendAll(stalledFd, open)) {
    std::fprintf(stderr, "vyn-host: load: the event stream cannot be opened\n");
  }

  std::printf("%11s %9s %9s %8s %8s %9s\n", "concurrency", "requests", "req/s", "p50 ms", "p99 ms",
              "failures");
  size_t failures = 0;
  for (const int concurrency : kLevels) {
    const Level level = Drive(server.port(), concurrency, requestsPerClient);
    failures += level.failures;
    std::printf("%11d %9zu %9.0f %8.2f %8.2f %9zu\n", concurrency, level.requests,
                static_cast<double>(level.requests) / level.seconds, level.p50, level.p99,
                level.failures);
    if (!level.firstFailure.empty())
      std::printf("  first failure: %s\n", level.firstFailure.c_str());
    std::fflush(stdout);
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double after = ResidentMegabytes(server.pid());

  // The flush: the stalled reader goes, and with it every event queued for it.
  close(stalledFd);
  const bool flushed = WaitForNoReaders(server.port());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double afterFlush = ResidentMegabytes(server.pid());
  std::printf(
      "resident memory: before %.1f MB, after load %.1f MB, after flush %.1f MB "
      "(%+.1f%% of before)%s\n",
      before, after, afterFlush, (afterFlush - before) / before * 100.0,
      flushed ? "" : "; the stalled reader was not let go");
  return failures == 0 && flushed ? 0 : 1;
}

}  // namespace vyn::host
