// Message templates with named placeholders ("Error response for {method} {url}: {error}"):
// each expands into a positional format text for FormatText and a map of named fields that an
// error result keeps as its details.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vyn::diagnostics {

// The same codes as the generic value's kinds.
enum class TemplateArgumentKind : uint32_t {
  Bool = 1,
  Signed = 2,
  Unsigned = 3,
  Float = 4,
  Text = 5,
};

// One template argument; only the member of its kind is meaningful.
struct TemplateArgument {
  TemplateArgumentKind kind = TemplateArgumentKind::Text;
  std::string text;
  uint8_t flag = 0;
  int64_t integer = 0;  // an Unsigned value is kept bit for bit; see UnsignedValue
  double number = 0.0;

  TemplateArgument() = default;
  // Texts convert implicitly, so that a call reads ExpandMessage(templ, {method, url, error}).
  TemplateArgument(const char* value);  // null gives an empty text
  TemplateArgument(std::string_view value);
  TemplateArgument(std::string value);

  static TemplateArgument Bool(bool value);
  static TemplateArgument Signed(int64_t value);
  static TemplateArgument Unsigned(uint64_t value);
  static TemplateArgument Float(double value);
  static TemplateArgument Text(std::string_view value);

  uint64_t UnsignedValue() const { return static_cast<uint64_t>(integer); }
  bool operator==(const TemplateArgument&) const = default;
};

// Field name, with its type suffix for "{#name}", to a copy of the argument.
using TemplateFields = std::unordered_map<std::string, TemplateArgument>;

// Turns templ into a positional format text (replacing formatText) and records the named
// placeholders in fields (existing entries are kept unless a placeholder of the same name
// replaces them). Inside braces: "#" right after "{" appends the argument's type suffix to the
// name, "!" records the field but prints nothing and drops the blanks before it, "?text" prints
// text instead when the argument is empty, ":spec" is a printf specification, a backslash takes
// the next byte literally. "{{" gives "{", "}" and "}}" give "}", "%%" stays "%%", and other
// printf specifications are copied as they are. Never fails: placeholders beyond the arguments
// print nothing.
void ExpandTemplate(std::string_view templ, const TemplateArgument* args, std::size_t count,
                    std::string& formatText, TemplateFields& fields);

// Expands templ and formats the message with the same arguments: texts as text, integers and
// floats as numbers (so "{n:05d}" pads), bools as "true" or "false". fields may be null.
std::string ExpandMessage(std::string_view templ, const TemplateArgument* args, std::size_t count,
                          TemplateFields* fields = nullptr);
std::string ExpandMessage(std::string_view templ, std::initializer_list<TemplateArgument> args,
                          TemplateFields* fields = nullptr);

}  // namespace vyn::diagnostics
