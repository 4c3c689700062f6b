// vyn-host as a child process for the host's tests.
#include "HostProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

namespace vyn::test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// Polls every 10 ms until `done` holds or the timeout passes.
template <typename Done>
void Poll(int timeoutMilliseconds, Done done) {
  const auto end =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  while (!done() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

std::string WriteFile(const std::string& name, const std::string& text) {
  // Named for this process, so that tests run in parallel never share one; removed at exit.
  static struct Files {
    std::vector<std::string> paths;
    ~Files() {
      for (const std::string& path : paths) std::remove(path.c_str());
    }
  } files;
  const std::string path =
      ::testing::TempDir() + "vyn-host-" + std::to_string(getpid()) + "-" + name;
  std::ofstream(path, std::ios::binary) << text;
  files.paths.push_back(path);
  return path;
}

HostProcess::HostProcess(const std::vector<std::string>& args) {
  static int started = 0;
  files_ = ::testing::TempDir() + "vyn-host-" + std::to_string(getpid()) + "-" +
           std::to_string(++started);
  std::vector<char*> argv{const_cast<char*>(VYN_HOST_PATH)};  // execv leaves them unchanged
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const std::string out = files_ + ".out", err = files_ + ".err";
  pid_ = fork();
  if (pid_ == 0) {  // only async-signal-safe calls until the exec: the test runner has threads
    // The signals the host handles start unblocked and at their defaults.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int handled : {SIGTERM, SIGINT, SIGPIPE}) signal(handled, SIG_DFL);
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
}

HostProcess::~HostProcess() {
  if (WaitForExit(SIGKILL, 0) < 0 && pid_ > 0) waitpid(pid_, nullptr, 0);
  std::remove((files_ + ".out").c_str());
  std::remove((files_ + ".err").c_str());
}

int HostProcess::WaitForPort() {
  static const std::string kMarker = "on http://127.0.0.1:";
  int port = 0;
  Poll(15000, [&] {
    const std::string out = Stdout();
    const size_t at = out.find(kMarker);
    if (at != std::string::npos && out.find('\n', at) != std::string::npos) {
      port = std::atoi(out.c_str() + at + kMarker.size());
    }
    return port > 0 || WaitForExit(0, 0) >= 0;
  });
  return port;
}

int HostProcess::WaitForExit(int signal, int timeoutMilliseconds) {
  if (signal != 0 && pid_ > 0 && status_ < 0) kill(pid_, signal);
  Poll(timeoutMilliseconds, [&] {
    int raw = 0;
    if (pid_ > 0 && status_ < 0 && waitpid(pid_, &raw, WNOHANG) == pid_) {
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }
    return pid_ <= 0 || status_ >= 0;
  });
  return status_;
}

std::string HostProcess::Stdout() const { return ReadFile(files_ + ".out"); }
std::string HostProcess::Stderr() const { return ReadFile(files_ + ".err"); }

std::string ErrorBody(int status, const char* code, const std::string& message) {
  return R"({"errorCode":")" + std::string(code) + R"(","httpStatus":)" + std::to_string(status) +
         R"(,"message":")" + message + R"("})";
}

std::vector<WireReply> Exchange(int port, const std::string& bytes, size_t count,
                                int timeoutMilliseconds) {
  std::vector<WireReply> replies;
  const int fd = host::ConnectLoopback(port);
  if (fd < 0) return replies;
  std::thread writer([&] { host::SendAll(fd, bytes); });
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  std::string received;
  for (WireReply reply; replies.size() < count && host::ReadReply(fd, received, deadline, reply);) {
    replies.push_back(std::move(reply));
  }
  shutdown(fd, SHUT_RDWR);  // ends a writer the server stopped reading from
  writer.join();
  close(fd);
  return replies;
}

int RunHost(const std::vector<std::string>& args, std::string& out, std::string& err) {
  HostProcess host(args);
  const int status = host.WaitForExit();
  out = host.Stdout();
  err = host.Stderr();
  return status;
}

}  // namespace vyn::test
