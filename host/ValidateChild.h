// One check of the validator in a child process of its own, which loads the plugin afresh: a
// crash, an abort or a hang of the plugin ends that child and fails that check only. The child
// keeps its current step and input in memory it shares with the parent, so they outlive it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vyn::host {

struct ChildShared;

// The child's side: where it is, and how its check ended. Used by the child only.
class ChildProbe {
 public:
  explicit ChildProbe(ChildShared& shared) : shared_(shared) {}

  // Names the step the check is in and the input it is about to use (kept up to 4 KiB).
  void Step(std::string_view step, std::string_view input = {});
  // Fails the check in the current step. The first failure wins; later ones are dropped, since
  // they usually follow from it.
  void Fail(std::string_view reason);
  bool failed() const;
  // Lines for the parent, which the discovery of a plugin's endpoints and events uses.
  void Note(std::string_view line);

 private:
  ChildShared& shared_;
};

struct ChildResult {
  bool finished = false;  // the body returned and the child exited normally
  bool failed = false;    // the body failed, or the child did not finish
  std::string reason;     // why it failed: the body's reason, the signal, or the timeout
  std::string step;       // the step it was in at the end
  std::string input;      // that step's input
  std::string notes;
  std::string output;  // what the child wrote to its standard output and error
  int signal = 0;      // the signal that ended the child
  int64_t milliseconds = 0;
};

// Runs `body` in a forked child with its standard output and error captured, and waits for it at
// most `timeoutSeconds`, killing it then.
ChildResult RunInChild(const std::function<void(ChildProbe&)>& body, int timeoutSeconds);

// Bytes as one line of text for a report: printable ASCII as is, anything else escaped, cut at
// `limit` bytes with the full length said.
std::string Printable(std::string_view bytes, size_t limit = 160);

}  // namespace vyn::host
