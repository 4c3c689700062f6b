// The host's HTTP/1.1 server: POSIX sockets, a thread per connection, and the HTTP parser of
// Boost.Beast fed from the connection's own buffer, which is what keeps pipelined requests.
#include "host/HttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>

namespace vyn::host {

struct HttpServer::Connection {
  int fd = -1;
  std::thread thread;
  std::atomic<bool> done{false};
};

namespace {

namespace http = boost::beast::http;

// A peer that stops reading is given up after this long, so that its thread ends.
constexpr int kWriteTimeoutSeconds = 10;
// A request that has begun must arrive whole within this long.
constexpr int kRequestTimeoutMilliseconds = 30000;
// After an error that leaves part of a request unread, what the peer still sends is read and
// dropped for a while: closing with unread bytes would reset the connection, and the peer
// could lose the reply before reading it.
constexpr int kLingerMilliseconds = 2000;
constexpr size_t kLingerBytes = 128u << 20;

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

bool HasBody(int status) { return status >= 200 && status != 204 && status != 304; }

// The status line and headers; chunked replies (streams) carry no length.
std::string Head(const HttpReply& reply, size_t length, bool chunked, bool close) {
  std::string head =
      "HTTP/1.1 " + std::to_string(reply.status) + " " + ReasonPhrase(reply.status) + "\r\n";
  const bool body = HasBody(reply.status);
  if (body && !reply.contentType.empty()) {
    head += "Content-Type: " + reply.contentType + "\r\n";
  } else if (body && length > 0) {
    head += "Content-Type: application/octet-stream\r\n";
  }
  for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
  if (chunked) {
    head += "Transfer-Encoding: chunked\r\n";
  } else if (body) {
    head += "Content-Length: " + std::to_string(length) + "\r\n";
  }
  if (close) head += "Connection: close\r\n";
  head += "\r\n";
  return head;
}

bool WriteReply(int fd, const HttpReply& reply, bool head, bool close) {
  std::string bytes = Head(reply, reply.body.size(), false, close);
  if (!head && HasBody(reply.status)) bytes += reply.body;
  return SendAll(fd, bytes);
}

// Stops sending, then drops what the peer still sends until it closes, the time passes or
// enough has been dropped.
void Linger(int fd) {
  shutdown(fd, SHUT_WR);
  size_t dropped = 0;
  char buffer[65536];
  const auto end =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kLingerMilliseconds);
  while (dropped < kLingerBytes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) return;
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return;
    dropped += static_cast<size_t>(got);
  }
}

class SocketSink : public StreamSink {
 public:
  SocketSink(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}

  bool Write(std::string_view bytes) override {
    if (stopping_ || bytes.empty()) return !stopping_;
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", bytes.size());
    std::string chunk = size;
    chunk.append(bytes);
    chunk += "\r\n";
    return SendAll(fd_, chunk);
  }

  bool Gone(int timeoutMilliseconds) override {
    if (stopping_) return true;
    pollfd ready{fd_, POLLIN | POLLRDHUP, 0};
    const int count = poll(&ready, 1, timeoutMilliseconds);
    if (stopping_) return true;
    if (count <= 0) return false;
    if ((ready.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0) return true;
    // A reader has nothing to say; whatever it sends is dropped.
    char buffer[512];
    const ssize_t got = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
  }

 private:
  int fd_;
  const std::atomic<bool>& stopping_;
};

bool ExpectsContinue(const http::request<http::string_body>& request) {
  const auto expect = request.find(http::field::expect);
  if (expect == request.end()) return false;
  std::string value(expect->value());
  for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return value == "100-continue";
}

}  // namespace

HttpServer::HttpServer(Handler handler, HttpServerLimits limits)
    : handler_(std::move(handler)), limits_(limits) {}

HttpServer::~HttpServer() {
  Stop();
  if (listener_ >= 0) close(listener_);
  for (int fd : wake_) {
    if (fd >= 0) close(fd);
  }
}

bool HttpServer::Listen(const std::string& address, int port, std::string& error) {
  const std::string where = address + ":" + std::to_string(port);
  sockaddr_in socketAddress{};
  socketAddress.sin_family = AF_INET;
  socketAddress.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &socketAddress.sin_addr) != 1) {
    error = "'" + address + "' is not an IPv4 address";
    return false;
  }
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0 || pipe2(wake_, O_CLOEXEC) != 0) {
    error = std::string("cannot create a socket: ") + std::strerror(errno);
    return false;
  }
  // Lets a restarted host take its port while old connections linger; unlike SO_REUSEPORT it
  // never lets a second listener share a port that one holds.
  const int one = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(listener_, reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress) !=
          0 ||
      listen(listener_, limits_.backlog) != 0) {
    error = "cannot listen on " + where + ": " + std::strerror(errno);
    return false;
  }
  socklen_t length = sizeof socketAddress;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&socketAddress), &length);
  port_ = ntohs(socketAddress.sin_port);
  return true;
}

void HttpServer::Run() {
  while (!stopping_) {
    pollfd ready[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(ready, 2, -1) < 0 || stopping_) continue;
    if ((ready[0].revents & POLLIN) == 0) continue;
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors, say: wait for connections to end rather than spin.
      if (errno == EMFILE || errno == ENFILE || errno == ENOMEM) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      continue;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const timeval writeTimeout{kWriteTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &writeTimeout, sizeof writeTimeout);
    Reap(false);
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    if (connections_.size() >= limits_.maxConnections) {
      static_cast<void>(
          WriteReply(fd,
                     ErrorReply(503, "the host has " + std::to_string(limits_.maxConnections) +
                                         " connections open; try again later"),
                     false, true));
      close(fd);
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection* serving = connection.get();
    try {
      connection->thread = std::thread([this, serving] {
        Serve(*serving);
        serving->done = true;
      });
    } catch (const std::system_error&) {  // no thread to be had: the system's limit
      static_cast<void>(WriteReply(
          fd, ErrorReply(503, "the host cannot serve more connections now"), false, true));
      close(fd);
      continue;
    }
    connections_.push_back(std::move(connection));
  }
  {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    for (const auto& connection : connections_) shutdown(connection->fd, SHUT_RDWR);
  }
  Reap(true);
}

void HttpServer::Stop() {
  if (stopping_.exchange(true)) return;
  if (wake_[1] >= 0) {
    const char byte = 0;
    static_cast<void>(write(wake_[1], &byte, 1));
  }
  std::lock_guard<std::mutex> lock(connectionsMutex_);
  for (const auto& connection : connections_) shutdown(connection->fd, SHUT_RDWR);
}

void HttpServer::Reap(bool all) {
  std::list<std::unique_ptr<Connection>> ended;
  {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (all || (*it)->done) {
        ended.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const auto& connection : ended) {
    connection->thread.join();
    close(connection->fd);
  }
}

void HttpServer::Serve(Connection& connection) {
  const int fd = connection.fd;
  std::string received;  // bytes not yet parsed, the start of a pipelined request among them
  char buffer[16384];
  while (!stopping_) {
    http::request_parser<http::string_body> parser;
    parser.header_limit(static_cast<std::uint32_t>(limits_.maxHeaderBytes));
    parser.body_limit(limits_.maxBodyBytes);
    parser.eager(true);
    bool continued = false;
    int failure = 0;
    std::string why;
    auto started = std::chrono::steady_clock::now();
    size_t consumed = 0;  // of this request; the parser takes the start line whole, then fields
    while (!parser.is_done()) {
      if (!received.empty()) {
        boost::beast::error_code code;
        const size_t used = parser.put(boost::asio::buffer(received.data(), received.size()), code);
        received.erase(0, used);
        consumed += used;
        if (code == http::error::need_more) code = {};
        if (code == http::error::body_limit) {
          failure = 413;
          why = "the body is larger than " + std::to_string(limits_.maxBodyBytes) + " bytes";
        } else if (code == http::error::header_limit) {
          failure = 431;
          why = "the request's headers are larger than " + std::to_string(limits_.maxHeaderBytes) +
                " bytes";
        } else if (code) {
          failure = 400;
          why = "the request is not valid HTTP: " + code.message();
        }
        if (failure == 0 && parser.is_header_done() &&
            parser.get().target().size() > limits_.maxTargetBytes) {
          failure = 414;
          why = "the request target is longer than " + std::to_string(limits_.maxTargetBytes) +
                " bytes";
        }
        if (failure != 0 || parser.is_done()) break;
        if (used > 0) continue;
      }
      if (consumed == 0) {
        // The request line alone is checked first, so that a long target is named as such.
        const size_t line = received.find('\n');
        if ((line == std::string::npos ? received.size() : line) > limits_.maxTargetBytes + 64) {
          failure = 414;
          why = "the request target is longer than " + std::to_string(limits_.maxTargetBytes) +
                " bytes";
          break;
        }
      }
      if (parser.is_header_done() && !continued && ExpectsContinue(parser.get())) {
        continued = true;
        if (!SendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n")) return;
      }
      const bool idle = received.empty() && !parser.got_some();
      if (idle) started = std::chrono::steady_clock::now();
      const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - started);
      const int wait = idle ? limits_.idleSeconds * 1000
                            : static_cast<int>(kRequestTimeoutMilliseconds - spent.count());
      pollfd ready{fd, POLLIN, 0};
      const int count = wait > 0 ? poll(&ready, 1, wait) : 0;
      if (stopping_) return;
      if (count < 0 && errno == EINTR) continue;
      if (count == 0 && !idle) {
        failure = 408;
        why = "the request did not arrive whole within " +
              std::to_string(kRequestTimeoutMilliseconds / 1000) + " seconds";
        break;
      }
      if (count <= 0) return;
      const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got < 0 && errno == EINTR) continue;
      // A peer that closes in the middle of a request has nobody left to answer.
      if (got <= 0) return;
      received.append(buffer, static_cast<size_t>(got));
    }
    if (failure != 0) {
      static_cast<void>(WriteReply(fd, ErrorReply(failure, why), false, true));
      Linger(fd);
      return;
    }

    auto& request = parser.get();
    HttpCall call;
    call.method = std::string(request.method_string());
    call.target = std::string(request.target());
    for (const auto& field : request) {
      call.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    call.body = std::move(request.body());
    const bool keepAlive = request.keep_alive();
    HttpReply reply;
    try {
      reply = handler_(call);
    } catch (const std::exception& e) {
      reply = ErrorReply(500, std::string("the host failed: ") + e.what());
    }
    if (reply.stream) {
      if (!SendAll(fd, Head(reply, 0, true, true))) return;
      SocketSink sink(fd, stopping_);
      reply.stream(sink);
      static_cast<void>(SendAll(fd, "0\r\n\r\n"));
      return;
    }
    const bool close = !keepAlive || stopping_;
    if (!WriteReply(fd, reply, call.method == "HEAD", close) || close) return;
  }
}

}  // namespace vyn::host
