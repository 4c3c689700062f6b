#include "host/WireClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

namespace vyn::host {

namespace http = boost::beast::http;

int ConnectLoopback(int port, int receiveBufferBytes) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (receiveBufferBytes != 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  // Requests go out whole in one write; waiting to coalesce them only adds latency.
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

bool ReadReply(int fd, std::string& received, std::chrono::steady_clock::time_point deadline,
               WireReply& reply) {
  http::response_parser<http::string_body> parser;
  parser.body_limit(64u << 20);
  char buffer[65536];
  while (!parser.is_done()) {
    if (!received.empty()) {
      boost::beast::error_code code;
      const size_t used = parser.put(boost::asio::buffer(received.data(), received.size()), code);
      received.erase(0, used);
      if (code && code != http::error::need_more) return false;
      if (parser.is_done()) break;
      if (used > 0) continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    received.append(buffer, static_cast<size_t>(got));
  }
  const auto& message = parser.get();
  reply.status = static_cast<int>(message.result_int());
  reply.contentType = std::string(message[http::field::content_type]);
  reply.body = message.body();
  reply.keepAlive = message.keep_alive();
  return true;
}

}  // namespace vyn::host
