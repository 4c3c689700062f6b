// vyn-host as a child process for the host's tests: its standard output and error go to files,
// it is stopped by signal and always reaped.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "host/WireClient.h"

namespace vyn::test {

class HostProcess {
 public:
  explicit HostProcess(const std::vector<std::string>& args);  // starts VYN_HOST_PATH
  ~HostProcess();  // kills and reaps a child still running, removes its files
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // The port of the "serving ... on http://127.0.0.1:<port>" line, or 0 when none comes.
  int WaitForPort();
  // The exit status, 128 + the signal for a child ended by one, or -1 at the timeout.
  int WaitForExit(int signal = 0, int timeoutMilliseconds = 20000);
  std::string Stdout() const;
  std::string Stderr() const;
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string files_;  // the output files' path without ".out" or ".err"
};

using host::WireReply;

// Connects to 127.0.0.1:port, sends the bytes (from a thread of its own, so that a server that
// answers before reading all of them is seen) and reads up to `count` replies, stopping early
// when the connection ends, a reply cannot be parsed or timeoutMilliseconds pass in all.
std::vector<WireReply> Exchange(int port, const std::string& bytes, size_t count,
                                int timeoutMilliseconds = 10000);
// The error object as the host writes it, for a reply's body.
std::string ErrorBody(int status, const char* code, const std::string& message);
// A file under the test temp directory, for the host to read; removed at exit.
std::string WriteFile(const std::string& name, const std::string& text);
// Runs vyn-host to its end and returns its exit status.
int RunHost(const std::vector<std::string>& args, std::string& out, std::string& err);

}  // namespace vyn::test
