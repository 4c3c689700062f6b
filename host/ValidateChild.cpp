// A check of the validator in a child process of its own.
#include "host/ValidateChild.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <thread>

namespace vyn::host {

// Lives in an anonymous shared mapping: the child writes, the parent reads after the child is
// gone. Texts are NUL-terminated and cut to their arrays.
struct ChildShared {
  char step[512];
  char input[4096];
  uint32_t inputLength;
  uint8_t finished;
  uint8_t failed;
  char reason[4096];
  char failedStep[512];
  char failedInput[4096];
  uint32_t failedInputLength;
  char notes[65536];
  uint32_t notesLength;
};

namespace {

template <size_t N>
uint32_t CopyInto(char (&to)[N], std::string_view text) {
  const size_t length = std::min(text.size(), N - 1);
  if (length > 0) std::memcpy(to, text.data(), length);  // an empty view may have no data
  to[length] = '\0';
  return static_cast<uint32_t>(length);
}

std::string ReadAll(int fd) {
  std::string out;
  char buffer[4096];
  for (off_t at = 0;;) {
    const ssize_t got = pread(fd, buffer, sizeof buffer, at);
    if (got <= 0) break;
    out.append(buffer, static_cast<size_t>(got));
    at += got;
  }
  return out;
}

// What the child last said before it ended: a sanitizer's summary or its report of undefined
// behaviour, else the last line of its output.
std::string LastWords(const std::string& output) {
  size_t at = std::string::npos;
  for (const char* mark : {"SUMMARY: ", "runtime error: ", "ERROR: "}) {
    at = output.find(mark);
    if (at != std::string::npos) {
      at = output.rfind('\n', at);
      at = at == std::string::npos ? 0 : at + 1;
      break;
    }
  }
  if (at == std::string::npos) {
    const size_t end = output.find_last_not_of("\n");
    if (end == std::string::npos) return "";
    const size_t start = output.rfind('\n', end);
    at = start == std::string::npos ? 0 : start + 1;
  }
  return Printable(output.substr(at, output.find('\n', at) - at), 200);
}

}  // namespace

void ChildProbe::Step(std::string_view step, std::string_view input) {
  CopyInto(shared_.step, step);
  shared_.inputLength = CopyInto(shared_.input, input);
}

void ChildProbe::Fail(std::string_view reason) {
  if (shared_.failed != 0) return;
  shared_.failed = 1;
  CopyInto(shared_.reason, reason);
  CopyInto(shared_.failedStep, shared_.step);
  std::memcpy(shared_.failedInput, shared_.input, sizeof shared_.input);
  shared_.failedInputLength = shared_.inputLength;
}

bool ChildProbe::failed() const { return shared_.failed != 0; }

void ChildProbe::Note(std::string_view line) {
  const size_t room = sizeof shared_.notes - 1 - shared_.notesLength;
  const size_t length = std::min(room, line.size() + 1);
  std::memcpy(shared_.notes + shared_.notesLength, (std::string(line) + "\n").data(), length);
  shared_.notesLength += static_cast<uint32_t>(length);
  shared_.notes[shared_.notesLength] = '\0';
}

ChildResult RunInChild(const std::function<void(ChildProbe&)>& body, int timeoutSeconds) {
  ChildResult result;
  void* mapping =
      mmap(nullptr, sizeof(ChildShared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) {
    result.failed = true;
    result.reason = "no memory to share with a child process";
    return result;
  }
  auto* shared = new (mapping) ChildShared{};
  const int output = memfd_create("vyn-validate-child", 0);
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (output >= 0) {
      dup2(output, 1);
      dup2(output, 2);
    }
    ChildProbe probe(*shared);
    try {
      body(probe);
    } catch (const std::exception& e) {
      probe.Fail(std::string("the validator failed: ") + e.what());
    }
    shared->finished = 1;
    std::fflush(nullptr);
    // No exit handlers: they belong to the parent's state, not to this check.
    _exit(0);
  }
  int status = 0;
  bool timedOut = pid < 0;
  if (pid > 0) {
    const auto end = start + std::chrono::seconds(timeoutSeconds);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= end) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        timedOut = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  result.milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
  if (output >= 0) {
    result.output = ReadAll(output);
    close(output);
  }
  result.notes.assign(shared->notes, shared->notesLength);
  const bool exitedCleanly = !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  result.finished = exitedCleanly && shared->finished != 0;
  if (result.finished && shared->failed != 0) {
    result.failed = true;
    result.step = shared->failedStep;
    result.reason = shared->reason + std::string(" in step '") + result.step + "'";
    result.input.assign(shared->failedInput, shared->failedInputLength);
  } else if (!result.finished) {
    result.failed = true;
    result.step = shared->step;
    result.input.assign(shared->input, shared->inputLength);
    if (pid < 0) {
      result.reason = "no child process could be started";
    } else if (timedOut) {
      result.reason = "timed out after " + std::to_string(timeoutSeconds) + " s";
    } else if (WIFSIGNALED(status)) {
      result.signal = WTERMSIG(status);
      const char* name = sigabbrev_np(result.signal);
      result.reason = "crashed with signal " + std::to_string(result.signal) + " (SIG" +
                      (name != nullptr ? name : "?") + ")";
    } else {
      result.reason =
          "crashed: the process exited with status " + std::to_string(WEXITSTATUS(status));
      const std::string words = LastWords(result.output);
      if (!words.empty()) result.reason += " (" + words + ")";
    }
    if (!result.step.empty()) result.reason += " in step '" + result.step + "'";
  }
  munmap(mapping, sizeof(ChildShared));
  return result;
}

std::string Printable(std::string_view bytes, size_t limit) {
  std::string out = "'";
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '\\' || c == '\'') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  out += "'";
  if (bytes.size() > limit) out += " (" + std::to_string(bytes.size()) + " bytes in all)";
  return out;
}

}  // namespace vyn::host
