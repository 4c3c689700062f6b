// A vyn-host child process for the host's tests: started with arguments, its standard output
// and error captured in files, stopped by signal, always reaped.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vyn::test {

// A fresh directory under the test temp directory, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes the file in the directory and returns its path.
  std::string Write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

class HostProcess {
 public:
  // Starts VYN_HOST_PATH with the arguments; output goes into files in dir.
  HostProcess(const TempDir& dir, const std::vector<std::string>& args);
  ~HostProcess();  // kills and reaps a child still running
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool started() const { return pid_ > 0; }
  // Waits up to the timeout for the "serving ... on http://127.0.0.1:<port>" line.
  bool WaitForPort(int& port, int timeoutMilliseconds);
  void Signal(int signal);
  // The exit status, 128 + the signal for a child ended by one, or -1 when it is still
  // running at the timeout.
  int WaitForExit(int timeoutMilliseconds);

  std::string Stdout() const;
  std::string Stderr() const;

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string stdoutPath_;
  std::string stderrPath_;
};

// Runs vyn-host to its end (bounded by the timeout) and returns the exit status.
int RunHost(const std::vector<std::string>& args, std::string& out, std::string& err,
            int timeoutMilliseconds = 20000);

}  // namespace vyn::test
