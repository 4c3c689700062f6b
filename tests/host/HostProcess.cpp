// A vyn-host child process for the host's tests.
#include "HostProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace vyn::test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = ::testing::TempDir() + "vyn-host-XXXXXX";
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& text) const {
  const std::string path = path_ + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

HostProcess::HostProcess(const TempDir& dir, const std::vector<std::string>& args)
    : stdoutPath_(dir.path() + "/stdout.txt"), stderrPath_(dir.path() + "/stderr.txt") {
  std::vector<std::string> all{VYN_HOST_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, stdoutPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  if (posix_spawn(&pid_, all[0].c_str(), &actions, &attributes, argv.data(), environ) != 0) {
    pid_ = -1;
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
}

HostProcess::~HostProcess() {
  if (pid_ > 0 && status_ < 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool HostProcess::WaitForPort(int& port, int timeoutMilliseconds) {
  static const std::string kMarker = "on http://127.0.0.1:";
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string out = Stdout();
    const size_t at = out.find(kMarker);
    if (at != std::string::npos && out.find('\n', at) != std::string::npos) {
      port = std::atoi(out.c_str() + at + kMarker.size());
      return port > 0;
    }
    if (WaitForExit(0) >= 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void HostProcess::Signal(int signal) {
  if (pid_ > 0 && status_ < 0) kill(pid_, signal);
}

int HostProcess::WaitForExit(int timeoutMilliseconds) {
  if (pid_ <= 0) return -1;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  while (status_ < 0) {
    int raw = 0;
    const pid_t done = waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

std::string HostProcess::Stdout() const { return ReadFile(stdoutPath_); }
std::string HostProcess::Stderr() const { return ReadFile(stderrPath_); }

int RunHost(const std::vector<std::string>& args, std::string& out, std::string& err,
            int timeoutMilliseconds) {
  TempDir dir;
  HostProcess host(dir, args);
  const int status = host.WaitForExit(timeoutMilliseconds);
  out = host.Stdout();
  err = host.Stderr();
  return status;
}

}  // namespace vyn::test
