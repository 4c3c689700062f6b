// vyn-host serve against what clients really send: bad and oversized requests, pipelining,
// bodies without a length, many stream readers, deep JSON, a full backlog, a port in use and a
// feedback service that never answers. Everything is read off the wire.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "HostProcess.h"
#include "host/EventStream.h"

namespace vyn::test {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Get(const std::string& target) {
  return "GET " + target + " HTTP/1.1\r\nHost: h\r\n\r\n";
}

class Served : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GT(port, 0) << host.Stderr(); }
  void TearDown() override { EXPECT_EQ(host.WaitForExit(SIGTERM), 0) << host.Stderr(); }

  const std::string config = WriteFile("wire.yaml", "/vyn-gameflow/v1/session: {phase: Lobby}\n");
  // No test but the one on the timeout makes outside requests.
  HostProcess host{{"serve", VYN_FAKE_PLUGIN_PATH, "--config", config, "--service-timeout", "1"}};
  const int port = host.WaitForPort();
};

TEST_F(Served, AnswersEveryRequestOnTheWireWithTheErrorObjectWhereItFails) {
  std::string chunked =
      "POST /fake/v1/publish HTTP/1.1\r\nHost: h\r\n"
      "Transfer-Encoding: chunked\r\n\r\n";
  const std::string megabyte(1u << 20, 'x');
  for (int i = 0; i < 50; ++i) chunked += "100000\r\n" + megabyte + "\r\n";
  chunked += "0\r\n\r\n";
  struct Case {
    const char* desc;
    std::string bytes;
    std::vector<std::pair<int, std::string>> replies;  // status, body
  };
  const std::string lobby = R"({"phase":"Lobby"})";
  const Case cases[] = {
      {"three pipelined GETs in one write, answered in order",
       Get("/vyn-gameflow/v1/session") + Get("/nothing") + Get("/vyn-gameflow/v1/session"),
       {{200, lobby},
        {404, ErrorBody(404, "NOT_FOUND", "no endpoint or resource at /nothing")},
        {200, lobby}}},
      {"a POST without a length has no body, and is answered at once",
       "POST /fake/v1/publish HTTP/1.1\r\nHost: h\r\n\r\n",
       {{400, ErrorBody(400, "BAD_REQUEST", "nothing to publish")}}},
      {"a chunked body of 50 MB is as much too large as one with a length",
       chunked,
       {{413, ErrorBody(413, "PAYLOAD_TOO_LARGE", "the body is larger than 16777216 bytes")}}},
      {"a length over the cap is refused before the body is read",
       "PUT /a HTTP/1.1\r\nHost: h\r\nContent-Length: 16777217\r\n\r\n",
       {{413, ErrorBody(413, "PAYLOAD_TOO_LARGE", "the body is larger than 16777216 bytes")}}},
      {"a target of 10 KB",
       Get("/" + std::string(10240, 'a')),
       {{414, ErrorBody(414, "URI_TOO_LONG", "the request target is longer than 8192 bytes")}}},
      {"headers of 70 KB",
       "GET / HTTP/1.1\r\nHost: h\r\nX-Big: " + std::string(70000, 'b') + "\r\n\r\n",
       {{431, ErrorBody(431, "HEADERS_TOO_LARGE",
                        "the request's headers are larger than 65536 bytes")}}},
      {"a request line that is not HTTP", "HELLO\r\n\r\n", {{400, ""}}},
      {"a method nobody implements",
       "BREW /fake/v1/state HTTP/1.1\r\nHost: h\r\n\r\n",
       {{501, ErrorBody(501, "NOT_IMPLEMENTED",
                        "the method BREW is not implemented here: no endpoint takes it")}}},
  };
  for (const Case& c : cases) {
    const auto start = Clock::now();
    const auto replies = Exchange(port, c.bytes, c.replies.size());
    EXPECT_LT(SecondsSince(start), 3.0) << c.desc;
    ASSERT_EQ(replies.size(), c.replies.size()) << c.desc;
    for (size_t i = 0; i < replies.size(); ++i) {
      EXPECT_EQ(replies[i].status, c.replies[i].first) << c.desc << " #" << i;
      EXPECT_EQ(replies[i].contentType, "application/json") << c.desc << " #" << i;
      if (c.replies[i].second.empty()) {
        EXPECT_EQ(replies[i].body.rfind(R"({"errorCode":"BAD_REQUEST","httpStatus":400,)", 0), 0u)
            << c.desc << ": " << replies[i].body;
      } else {
        EXPECT_EQ(replies[i].body, c.replies[i].second) << c.desc << " #" << i;
      }
    }
  }
}

TEST_F(Served, RefusesJsonNestedTooDeepWithoutFallingOver) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const std::string put =
      "PUT /deep/v1/thing HTTP/1.1\r\nHost: h\r\nContent-Length: " + std::to_string(deep.size()) +
      "\r\n\r\n" + deep;
  const auto replies = Exchange(port, put + Get("/deep/v1/thing"), 2);
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(
      replies[0].body,
      ErrorBody(400, "BAD_REQUEST", "the body is nested more than 256 levels deep at offset 256"));
  EXPECT_EQ(replies[1].status, 404) << "nothing was stored";
  const std::string deepest = std::string(256, '[') + std::string(256, ']');
  EXPECT_EQ(Exchange(port,
                     "PUT /deep/v1/thing HTTP/1.1\r\nHost: h\r\nContent-Length: 512\r\n\r\n" +
                         deepest + Get("/deep/v1/thing"),
                     2)
                .at(1)
                .body,
            deepest)
      << "the limit itself is kept";
}

// A connection reading the event stream once `expect` came on it, or -1 when another reply or
// nothing came instead.
int OpenStream(int port, const std::string& expect) {
  const int fd = host::ConnectLoopback(port);
  std::string seen;
  char buffer[4096];
  pollfd ready{fd, POLLIN, 0};
  const auto refused = [&] {
    return seen.find("\r\n\r\n") != std::string::npos && seen.rfind("HTTP/1.1 200 ", 0) != 0;
  };
  if (fd >= 0 && host::SendAll(fd, Get("/host/v1/events"))) {
    while (seen.find(expect) == std::string::npos && !refused() && poll(&ready, 1, 5000) > 0) {
      const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      seen.append(buffer, static_cast<size_t>(got));
    }
  }
  if (seen.find(expect) != std::string::npos) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

// Readers of the event stream each hold a connection, never the calls of anyone else.
TEST_F(Served, CapsEventStreamReadersAndFreesTheOnesThatLeave) {
  std::vector<int> readers;  // each greeted: registered
  for (size_t i = 0; i < host::EventStream::kMaxReaders; ++i) {
    readers.push_back(OpenStream(port, ": connected"));
    EXPECT_GE(readers.back(), 0) << i;
  }
  const auto start = Clock::now();
  auto replies = Exchange(port, Get("/vyn-gameflow/v1/session"), 1);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, 200);
  EXPECT_LT(SecondsSince(start), 2.0);
  replies = Exchange(port, Get("/host/v1/events"), 1);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, 503);
  EXPECT_EQ(replies[0].body, ErrorBody(503, "UNAVAILABLE",
                                       "the event stream has 16 readers already; try again later"));
  close(readers.back());
  readers.back() = -1;
  // The reader that left is let go while the stream is idle.
  for (int i = 0; i < 30 && readers.back() < 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    readers.back() = OpenStream(port, ": connected");
  }
  EXPECT_GE(readers.back(), 0);
  for (const int fd : readers) close(fd);
}

// The backlog of the socket listening on the port, as the kernel reports it (for a listening
// socket the send queue column), or -1.
int ListenBacklog(int port) {
  const std::string command = "ss -Hltn 'sport = :" + std::to_string(port) + "' 2>/dev/null";
  FILE* out = popen(command.c_str(), "r");
  if (out == nullptr) return -1;
  char state[32] = "";
  int received = 0, backlog = -1;
  if (std::fscanf(out, "%31s %d %d", state, &received, &backlog) != 3) backlog = -1;
  pclose(out);
  return backlog;
}

TEST_F(Served, ListensWithABacklogThatHoldsABurstOfClients) {
  // The kernel caps the backlog at its somaxconn, 128 on older kernels.
  EXPECT_GE(ListenBacklog(port), 128);
}

TEST_F(Served, RefusesAPortAnotherHostHolds) {
  std::string out, err;
  const std::string taken = std::to_string(port);
  EXPECT_EQ(RunHost({"serve", VYN_FAKE_PLUGIN_PATH, "--config", config, "--port", taken}, out, err),
            1);
  EXPECT_NE(err.find("vyn-host: cannot listen on 127.0.0.1:" + taken + ": Address already in use"),
            std::string::npos)
      << err;
}

// A service that accepts and never answers.
class SilentService {
 public:
  SilentService() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    listen(fd_, 16);
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    url_ = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
  }
  ~SilentService() { close(fd_); }
  const std::string& url() const { return url_; }
  // Whether a request arrived within the timeout (it stays unanswered).
  bool Called(int timeoutMilliseconds) {
    pollfd ready{fd_, POLLIN, 0};
    return poll(&ready, 1, timeoutMilliseconds) > 0;
  }

 private:
  int fd_ = -1;
  std::string url_;
};

std::string Post(const std::string& target, const std::string& body) {
  return "POST " + target +
         " HTTP/1.1\r\nHost: h\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
         body;
}

TEST(ServeSlowService, CallsWithoutThePluginAndStopsDoNotWaitForIt) {
  SilentService service;
  const std::string config = WriteFile("slow.yaml", "/vyn-gameflow/v1/session: {phase: Lobby}\n");
  HostProcess host{{"serve", VYN_FAKE_PLUGIN_PATH, "--config", config}};
  const int port = host.WaitForPort();
  ASSERT_GT(port, 0) << host.Stderr();
  auto fetch = std::async(std::launch::async, [&] {
    return Exchange(port, Post("/fake/v1/fetch", service.url()), 1, 90000);
  });
  ASSERT_TRUE(service.Called(5000));
  // A read and a change that nobody subscribed to need no plugin call.
  const auto start = Clock::now();
  const auto replies = Exchange(port,
                                Get("/vyn-gameflow/v1/session") +
                                    "PUT /other/v1/thing HTTP/1.1\r\nHost: h\r\n"
                                    "Content-Length: 1\r\n\r\n1",
                                2);
  EXPECT_LT(SecondsSince(start), 2.0);
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].status, 200);
  EXPECT_EQ(replies[1].body, R"({"uri":"/other/v1/thing","eventType":"Create","delivered":0})");
  const auto stop = Clock::now();
  EXPECT_EQ(host.WaitForExit(SIGTERM), 0) << host.Stderr();
  EXPECT_LT(SecondsSince(stop), 5.0) << "the stop waited for the service";
  fetch.wait();
}

TEST_F(Served, GivesUpOnAnOutsideRequestAfterTheServiceTimeout) {
  SilentService service;
  const auto replies = Exchange(port, Post("/fake/v1/fetch", service.url()), 1, 20000);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, 502);
  EXPECT_NE(replies[0].body.find("fetch failed: Operation timed out after"), std::string::npos)
      << replies[0].body;
}

}  // namespace
}  // namespace vyn::test
