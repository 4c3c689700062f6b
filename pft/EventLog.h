// The front-end events awaiting upload, kept as the text they take in the results upload, and the
// writer of that upload. Keeping text rather than records makes a stored event cost about its
// own size, and lets the upload be written in one pass whatever the log holds.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"

namespace vyn::binding {
class BindingRegistry;
}

namespace vyn::pft {

// Events posted since the last successful upload, oldest first, each as its pretty JSON text with
// "\r\n" line breaks, indented for its place among the upload's actions.
//
// Bounded by count and by bytes, generously for any real session: a log that only grows after
// failed uploads would otherwise take the process down, and with it every later answer. When a
// new event needs room the oldest ones go; Append says how many, so the caller can report it.
class EventLog {
 public:
  static constexpr std::size_t kMaxEvents = 10000;
  static constexpr std::size_t kMaxBytes = std::size_t{16} << 20;
  // How deep the actions of the upload stand: inside the upload's object and its array.
  static constexpr std::size_t kActionIndent = 8;

  // Takes an event's pretty JSON text (indented for the top level). False, with nothing changed,
  // when the text alone exceeds kMaxBytes once indented. `dropped` receives how many of the oldest
  // events made room for it.
  bool Append(std::string_view text, std::size_t& dropped);
  // Empties the log and gives its storage back.
  void Clear();

  std::size_t size() const noexcept { return entries_.size() - first_; }
  bool empty() const noexcept { return size() == 0; }
  std::size_t bytes() const noexcept { return bytes_; }
  // The indented texts, oldest first.
  std::span<const std::string> entries() const noexcept {
    return std::span<const std::string>(entries_).subspan(first_);
  }

 private:
  // The events from first_ on; the slots before it were dropped and are compacted away once
  // they are half of the vector. A vector, unlike a deque, holds no storage when empty, so an
  // emptied log gives back exactly what it took.
  std::vector<std::string> entries_;
  std::size_t first_ = 0;
  std::size_t bytes_ = 0;
};

// The largest results upload the plugin builds. The actions alone stay far below it (the log's
// bound), so only the answers of one event can reach it, and refusing that event's upload never
// keeps later uploads from going out.
inline constexpr std::size_t kMaxResultsUploadBytes = std::size_t{64} << 20;

// Writes the results upload, {"actions": [...], "questionResponses": [...]}, as pretty JSON with
// "\r\n" line breaks: the actions are the log's texts; each answer becomes {questionId,
// responseData}, where responseData is the answer's "value" when that is a structure and
// {"value": <value>} otherwise, and questionId is the answer's "questionId" read as an unsigned
// number. The text is byte for byte what the pretty writer makes of the same record. False when
// an answer cannot be written or the text would exceed `maxBytes`; `out` is then unspecified.
// Time and memory are linear in the log and the answers, and writing stops at the bound.
[[nodiscard]] bool WriteResultsUpload(const EventLog& log,
                                      std::span<const binding::BindingProperty> answers,
                                      const binding::BindingRegistry* registry,
                                      std::size_t maxBytes, std::string& out);

// Appends `text` with `indent` blanks after each of its "\r\n" line breaks. A JSON text has no
// raw line break inside its strings, so this re-indents every line but the first.
void AppendIndented(std::string& out, std::string_view text, std::size_t indent);

}  // namespace vyn::pft
