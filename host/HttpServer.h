// The host's HTTP/1.1 server on a loopback address. Each connection has a thread of its own,
// so a call that waits (on the plugin, on an outside service) holds up only its own connection
// and a long-lived event stream holds no worker that other calls need. Requests on one
// connection, pipelined or not, are answered in order. Every error the server finds itself
// (too large, malformed, unknown method, too many connections) carries the JSON error object.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "host/HttpMessage.h"

namespace vyn::host {

struct HttpServerLimits {
  size_t maxBodyBytes = 16u << 20;  // with or without a length: a chunked body counts too
  size_t maxTargetBytes = 8u << 10;
  size_t maxHeaderBytes = 64u << 10;  // request line and headers together
  size_t maxConnections = 512;        // more are answered 503 and closed
  int backlog = 1024;                 // the kernel caps it at its own somaxconn
  int idleSeconds = 60;               // a kept-alive connection that sends nothing is closed
};

class HttpServer {
 public:
  // Runs on the connection's thread, one call at a time per connection, never after Stop()
  // returns.
  using Handler = std::function<HttpReply(const HttpCall&)>;

  HttpServer(Handler handler, HttpServerLimits limits = {});
  ~HttpServer();  // Stop()
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds and listens; port 0 takes a free one. A port that another socket holds is an error,
  // never shared. Returns false with a reason.
  [[nodiscard]] bool Listen(const std::string& address, int port, std::string& error);
  int port() const { return port_; }

  // Accepts connections until Stop(); call it on a thread of its own.
  void Run();

  // Ends accepting, wakes every connection (streams see Gone()), and waits for their threads;
  // a call still inside the handler is waited for. Idempotent.
  void Stop();

 private:
  struct Connection;

  void Serve(Connection& connection);
  void Reap(bool all);

  Handler handler_;
  HttpServerLimits limits_;
  int listener_ = -1;
  int wake_[2] = {-1, -1};  // a pipe whose write end wakes the accept loop
  int port_ = 0;
  std::atomic<bool> stopping_{false};

  std::mutex connectionsMutex_;  // guards connections_
  std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace vyn::host
