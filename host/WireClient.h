// The client end of the host's HTTP on the loopback interface: one connection, replies read with
// the same parser the server uses. The load command drives the server with it, and so do tests.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace vyn::host {

// A socket connected to 127.0.0.1:port, or -1. A receive buffer size other than 0 is set before
// connecting, so that a reader can hold back what the server sends.
int ConnectLoopback(int port, int receiveBufferBytes = 0);

// Whether every byte went out before the connection ended.
bool SendAll(int fd, std::string_view bytes);

struct WireReply {
  int status = 0;
  std::string contentType;
  std::string body;
  bool keepAlive = false;
};

// Reads one reply, starting with the bytes left over in `received` from an earlier read and
// leaving there what follows the reply. False when the connection ends, the reply cannot be
// parsed or the deadline passes first.
bool ReadReply(int fd, std::string& received, std::chrono::steady_clock::time_point deadline,
               WireReply& reply);

}  // namespace vyn::host
