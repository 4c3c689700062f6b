// The bounded event log and the one-pass writer of the results upload.
#include "pft/EventLog.h"

#include "formats/Json.h"

namespace vyn::pft {

using binding::BindingProperty;
using binding::BindingPropertyKind;

namespace {

constexpr std::string_view kLineBreak = "\r\n";
// Where the parts of one answer stand: the answer inside the array, its members one level in.
constexpr std::size_t kAnswerIndent = 8;
constexpr std::size_t kAnswerMemberIndent = 12;

std::size_t IndentedSize(std::string_view text, std::size_t indent) {
  std::size_t breaks = 0;
  for (std::size_t at = text.find(kLineBreak); at != std::string_view::npos;
       at = text.find(kLineBreak, at + kLineBreak.size())) {
    ++breaks;
  }
  return text.size() + breaks * indent;
}

void AppendLine(std::string& out, std::size_t indent) {
  out.append(kLineBreak);
  out.append(indent, ' ');
}

// A value as the pretty writer puts it inside a container at `indent`: an empty value is null.
// False when its text would take the upload past `maxBytes`.
bool AppendValue(std::string& out, const BindingProperty& value,
                 const binding::BindingRegistry* registry, std::size_t indent,
                 std::size_t maxBytes) {
  if (value.kind() == BindingPropertyKind::Empty) {
    out.append("null");
    return true;
  }
  std::string text;
  if (out.size() > maxBytes ||
      !formats::ToJson(value, registry, "\r\n", maxBytes - out.size(), text)) {
    return false;
  }
  AppendIndented(out, text, indent);
  return true;
}

bool AppendAnswer(std::string& out, const BindingProperty& answer,
                  const binding::BindingRegistry* registry, std::size_t maxBytes) {
  out.append("{");
  AppendLine(out, kAnswerMemberIndent);
  out.append("\"questionId\": ");
  out.append(std::to_string(answer.member("questionId").toUnsigned()));
  out.append(",");
  AppendLine(out, kAnswerMemberIndent);
  out.append("\"responseData\": ");
  // A plain answer travels wrapped, so the service always reads a structure.
  const BindingProperty& value = answer.member("value");
  if (value.kind() == BindingPropertyKind::Structure) {
    if (!AppendValue(out, value, registry, kAnswerMemberIndent, maxBytes)) return false;
  } else {
    out.append("{");
    AppendLine(out, kAnswerMemberIndent + 4);
    out.append("\"value\": ");
    if (!AppendValue(out, value, registry, kAnswerMemberIndent + 4, maxBytes)) return false;
    AppendLine(out, kAnswerMemberIndent);
    out.append("}");
  }
  AppendLine(out, kAnswerIndent);
  out.append("}");
  return true;
}

}  // namespace

void AppendIndented(std::string& out, std::string_view text, std::size_t indent) {
  std::size_t from = 0;
  for (std::size_t at = text.find(kLineBreak); at != std::string_view::npos;
       at = text.find(kLineBreak, from)) {
    out.append(text.substr(from, at - from));
    AppendLine(out, indent);
    from = at + kLineBreak.size();
  }
  out.append(text.substr(from));
}

bool EventLog::Append(std::string_view text, std::size_t& dropped) {
  dropped = 0;
  const std::size_t needed = IndentedSize(text, kActionIndent);
  if (needed > kMaxBytes) return false;
  while (!empty() && (size() >= kMaxEvents || bytes_ + needed > kMaxBytes)) {
    bytes_ -= entries_[first_].size();
    entries_[first_] = std::string();
    ++first_;
    ++dropped;
  }
  if (first_ != 0 && first_ * 2 >= entries_.size()) {
    entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(first_));
    first_ = 0;
  }
  std::string& entry = entries_.emplace_back();
  entry.reserve(needed);
  AppendIndented(entry, text, kActionIndent);
  bytes_ += entry.size();
  return true;
}

void EventLog::Clear() {
  std::vector<std::string>().swap(entries_);
  first_ = 0;
  bytes_ = 0;
}

bool WriteResultsUpload(const EventLog& log, std::span<const BindingProperty> answers,
                        const binding::BindingRegistry* registry, std::size_t maxBytes,
                        std::string& out) {
  out.clear();
  out.append("{");
  AppendLine(out, 4);
  out.append("\"actions\": [");
  bool first = true;
  for (const std::string& action : log.entries()) {
    if (!first) out.append(",");
    first = false;
    AppendLine(out, EventLog::kActionIndent);
    out.append(action);
    if (out.size() > maxBytes) return false;
  }
  if (!first) AppendLine(out, 4);
  out.append("],");
  AppendLine(out, 4);
  out.append("\"questionResponses\": [");
  first = true;
  for (const BindingProperty& answer : answers) {
    if (!first) out.append(",");
    first = false;
    AppendLine(out, kAnswerIndent);
    if (!AppendAnswer(out, answer, registry, maxBytes) || out.size() > maxBytes) return false;
  }
  if (!first) AppendLine(out, 4);
  out.append("]");
  AppendLine(out, 0);
  out.append("}");
  return out.size() <= maxBytes;
}

}  // namespace vyn::pft
