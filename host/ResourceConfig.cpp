// The host's configuration file, read with RapidJSON or with libyaml's event parser.
#include "host/ResourceConfig.h"

#include <yaml.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "host/JsonDocument.h"

namespace vyn::host {
namespace {

constexpr size_t kMaxDepth = kMaxJsonDepth;
// Aliases can multiply a small text into a huge tree; past this many nodes the file is refused.
constexpr size_t kMaxNodes = 100000;

std::string Position(size_t line, size_t column) {
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

bool SplitIntoResources(rapidjson::Document& root, ResourceValues& out, std::string& error) {
  // An empty file (or one of comments only) gives no resources, so that defaults can fill in.
  if (root.IsNull()) {
    out.clear();
    return true;
  }
  if (!root.IsObject()) {
    error = "the top level is not a mapping from resource paths to values";
    return false;
  }
  ResourceValues values;
  for (auto it = root.MemberBegin(); it != root.MemberEnd(); ++it) {
    const std::string path(it->name.GetString(), it->name.GetStringLength());
    if (path.empty() || path[0] != '/') {
      error = "the key '" + path + "' is not a path starting with '/'";
      return false;
    }
    rapidjson::Document value;
    value.CopyFrom(it->value, value.GetAllocator());
    values[path] = std::move(value);
  }
  out = std::move(values);
  return true;
}

bool ParseJson(std::string_view text, ResourceValues& out, std::string& error) {
  rapidjson::Document root;
  std::string reason;
  size_t at = 0;
  const JsonParse parsed = ParseJsonDocument(text, root, reason, at);
  if (parsed != JsonParse::Ok) {
    size_t line = 1;
    size_t column = 1;
    const size_t offset = std::min(at, text.size());
    for (size_t i = 0; i < offset; ++i) {
      if (text[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    error = (parsed == JsonParse::TooDeep ? "the value is " : "") + reason + " at " +
            Position(line, column);
    return false;
  }
  return SplitIntoResources(root, out, error);
}

// A plain scalar that spells a number: optional sign, digits, optional fraction and exponent.
bool IsFloatText(const std::string& text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  size_t digits = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    size_t exponent = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++exponent;
    if (exponent == 0) return false;
  }
  return i == text.size();
}

bool AllOf(const std::string& text, size_t from, const char* allowed) {
  if (from >= text.size()) return false;
  return text.find_first_not_of(allowed, from) == std::string::npos;
}

void ResolvePlainScalar(const std::string& text, rapidjson::Value& out,
                        rapidjson::Document::AllocatorType& allocator) {
  if (text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL") {
    out.SetNull();
    return;
  }
  if (text == "true" || text == "True" || text == "TRUE") {
    out.SetBool(true);
    return;
  }
  if (text == "false" || text == "False" || text == "FALSE") {
    out.SetBool(false);
    return;
  }
  const bool negative = text[0] == '-';
  const size_t digitsFrom = text[0] == '-' || text[0] == '+' ? 1 : 0;
  errno = 0;
  char* end = nullptr;
  if (digitsFrom == 0 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'o') &&
      AllOf(text, 2, text[1] == 'x' ? "0123456789abcdefABCDEF" : "01234567")) {
    const unsigned long long number =
        std::strtoull(text.c_str() + 2, &end, text[1] == 'x' ? 16 : 8);
    if (errno == 0) {
      out.SetUint64(number);
      return;
    }
  } else if (AllOf(text, digitsFrom, "0123456789")) {
    if (negative) {
      const long long number = std::strtoll(text.c_str(), &end, 10);
      if (errno == 0) {
        out.SetInt64(number);
        return;
      }
    } else {
      const unsigned long long number = std::strtoull(text.c_str() + digitsFrom, &end, 10);
      if (errno == 0) {
        out.SetUint64(number);
        return;
      }
    }
  }
  // Integers too large for 64 bits fall through to a float, like JSON numbers do.
  if (IsFloatText(text)) {
    errno = 0;
    const double number = std::strtod(text.c_str(), &end);
    if (errno == 0) {
      out.SetDouble(number);
      return;
    }
  }
  out.SetString(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

size_t CountNodes(const rapidjson::Value& value) {
  size_t count = 1;
  if (value.IsArray()) {
    for (const auto& element : value.GetArray()) count += CountNodes(element);
  } else if (value.IsObject()) {
    for (const auto& member : value.GetObject()) count += CountNodes(member.value);
  }
  return count;
}

class YamlBuilder {
 public:
  explicit YamlBuilder(rapidjson::Document& document)
      : document_(document), allocator_(document.GetAllocator()) {}

  bool Parse(std::string_view text, std::string& error) {
    yaml_parser_t parser;
    if (yaml_parser_initialize(&parser) == 0) {
      error = "the YAML parser cannot be created";
      return false;
    }
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size());
    bool ok = true;
    bool done = false;
    while (ok && !done) {
      yaml_event_t event;
      if (yaml_parser_parse(&parser, &event) == 0) {
        error = std::string(parser.problem != nullptr ? parser.problem : "invalid YAML") + " at " +
                Position(parser.problem_mark.line + 1, parser.problem_mark.column + 1);
        ok = false;
        break;
      }
      ok = Handle(event, done, error);
      yaml_event_delete(&event);
    }
    yaml_parser_delete(&parser);
    if (ok && !haveRoot_) document_.SetNull();
    return ok;
  }

 private:
  struct Frame {
    rapidjson::Value value;
    std::string anchor;
    std::string key;
    bool haveKey = false;
    size_t nodes = 1;
  };

  static std::string Anchor(const yaml_char_t* anchor) {
    return anchor != nullptr ? reinterpret_cast<const char*>(anchor) : "";
  }

  bool Handle(const yaml_event_t& event, bool& done, std::string& error) {
    const std::string where = Position(event.start_mark.line + 1, event.start_mark.column + 1);
    switch (event.type) {
      case YAML_DOCUMENT_START_EVENT:
        if (documents_++ > 0) {
          // Only the first document counts; the rest of the stream is not read.
          done = true;
        }
        return true;
      case YAML_STREAM_END_EVENT:
        done = true;
        return true;
      case YAML_SCALAR_EVENT: {
        const auto& scalar = event.data.scalar;
        const std::string text(reinterpret_cast<const char*>(scalar.value), scalar.length);
        if (ExpectingKey()) {
          stack_.back().key = text;
          stack_.back().haveKey = true;
          return true;
        }
        if (!Budget(1, where, error)) return false;
        rapidjson::Value value;
        const bool plain = scalar.style == YAML_PLAIN_SCALAR_STYLE && scalar.plain_implicit;
        if (plain) {
          ResolvePlainScalar(text, value, allocator_);
        } else {
          value.SetString(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator_);
        }
        return Complete(std::move(value), Anchor(scalar.anchor), 1, where, error);
      }
      case YAML_SEQUENCE_START_EVENT:
      case YAML_MAPPING_START_EVENT: {
        if (ExpectingKey()) return Fail("only scalar keys are supported", where, error);
        if (stack_.size() >= kMaxDepth) {
          return Fail("the value is nested more than " + std::to_string(kMaxDepth) + " levels deep",
                      where, error);
        }
        Frame frame;
        if (event.type == YAML_SEQUENCE_START_EVENT) {
          frame.value.SetArray();
          frame.anchor = Anchor(event.data.sequence_start.anchor);
        } else {
          frame.value.SetObject();
          frame.anchor = Anchor(event.data.mapping_start.anchor);
        }
        stack_.push_back(std::move(frame));
        return Budget(1, where, error);
      }
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT: {
        Frame frame = std::move(stack_.back());
        stack_.pop_back();
        return Complete(std::move(frame.value), frame.anchor, frame.nodes, where, error);
      }
      case YAML_ALIAS_EVENT: {
        const std::string name = Anchor(event.data.alias.anchor);
        if (ExpectingKey()) return Fail("only scalar keys are supported", where, error);
        auto found = anchors_.find(name);
        if (found == anchors_.end()) return Fail("unknown alias '" + name + "'", where, error);
        if (!Budget(found->second.second, where, error)) return false;
        rapidjson::Value copy(found->second.first, allocator_);
        return Complete(std::move(copy), "", found->second.second, where, error);
      }
      default:
        return true;
    }
  }

  bool ExpectingKey() const {
    return !stack_.empty() && stack_.back().value.IsObject() && !stack_.back().haveKey;
  }

  bool Budget(size_t nodes, const std::string& where, std::string& error) {
    nodes_ += nodes;
    if (nodes_ > kMaxNodes) {
      return Fail("the file expands to more than " + std::to_string(kMaxNodes) + " values", where,
                  error);
    }
    return true;
  }

  bool Complete(rapidjson::Value value, const std::string& anchor, size_t nodes,
                const std::string& where, std::string& error) {
    if (!anchor.empty()) {
      anchors_[anchor] = {rapidjson::Value(value, allocator_), nodes};
    }
    if (stack_.empty()) {
      if (!haveRoot_) {
        rapidjson::Value& root = document_;
        root.Swap(value);
        haveRoot_ = true;
      }
      return true;
    }
    Frame& parent = stack_.back();
    parent.nodes += nodes;
    if (parent.value.IsArray()) {
      parent.value.PushBack(value, allocator_);
      return true;
    }
    const rapidjson::Value probe(rapidjson::StringRef(
        parent.key.data(), static_cast<rapidjson::SizeType>(parent.key.size())));
    if (parent.value.FindMember(probe) != parent.value.MemberEnd()) {
      return Fail("the key '" + parent.key + "' appears twice", where, error);
    }
    rapidjson::Value key(parent.key.data(), static_cast<rapidjson::SizeType>(parent.key.size()),
                         allocator_);
    parent.value.AddMember(key, value, allocator_);
    parent.haveKey = false;
    return true;
  }

  static bool Fail(const std::string& message, const std::string& where, std::string& error) {
    error = message + " at " + where;
    return false;
  }

  rapidjson::Document& document_;
  rapidjson::Document::AllocatorType& allocator_;
  std::vector<Frame> stack_;
  std::map<std::string, std::pair<rapidjson::Value, size_t>> anchors_;
  size_t nodes_ = 0;
  int documents_ = 0;
  bool haveRoot_ = false;
};

bool ParseYaml(std::string_view text, ResourceValues& out, std::string& error) {
  rapidjson::Document root;
  YamlBuilder builder(root);
  if (!builder.Parse(text, error)) return false;
  return SplitIntoResources(root, out, error);
}

}  // namespace

bool ParseResourceConfig(std::string_view text, ResourceValues& out, std::string& error) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && text[first] == '{') return ParseJson(text, out, error);
  return ParseYaml(text, out, error);
}

bool LoadResourceConfig(const std::string& path, ResourceValues& out, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = path + ": cannot be opened";
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) {
    error = path + ": cannot be read";
    return false;
  }
  if (!ParseResourceConfig(text.str(), out, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

}  // namespace vyn::host
