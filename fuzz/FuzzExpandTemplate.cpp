// Fuzzes message templates over up to six arguments of every kind: a template without braces or
// "%" is its own format text, every field is an argument under a name, fields already there stay,
// messages keep to 4095 bytes. With the first byte's high bit set the template is built of literal
// bytes and plain "{name}" placeholders, whose message and fields are known.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/ExpandTemplate.h"
#include "diagnostics/FormatText.h"
#include "fuzz/FuzzSupport.h"

namespace {

using vyn::diagnostics::TemplateArgument;
using vyn::diagnostics::TemplateArgumentKind;
using vyn::diagnostics::TemplateFields;
using vyn::fuzz::Violated;

constexpr std::size_t kMaxArguments = 6;

TemplateArgument ReadArgument(vyn::fuzz::FuzzInput& in, bool textWithoutNul) {
  const uint8_t kind = in.Byte() % 5;
  if (kind == 0) return TemplateArgument::Bool(in.Byte() % 2 != 0);
  if (kind == 1) return TemplateArgument::Signed(static_cast<int64_t>(in.U64()));
  if (kind == 2) return TemplateArgument::Unsigned(in.U64());
  if (kind == 3) return TemplateArgument::Float(std::bit_cast<double>(in.U64()));
  const std::string text = in.Text();
  // A message prints texts as C texts, so the model's texts end at their first NUL.
  return TemplateArgument::Text(textWithoutNul ? std::string(text.c_str()) : text);
}

// How the message prints an argument for a bare placeholder.
std::string Printed(const TemplateArgument& arg) {
  if (arg.kind == TemplateArgumentKind::Bool) return arg.flag != 0 ? "true" : "false";
  if (arg.kind == TemplateArgumentKind::Text) return arg.text;
  if (arg.kind == TemplateArgumentKind::Signed) return std::to_string(arg.integer);
  if (arg.kind == TemplateArgumentKind::Unsigned) return std::to_string(arg.UnsignedValue());
  char number[64];
  std::snprintf(number, sizeof number, "%g", arg.number);
  return number;
}

// A template of literal bytes and plain placeholders from the rest of the input, and its outcome.
struct Structured {
  std::string templ;
  std::string message;
  std::map<std::string, const TemplateArgument*> fields;
};

Structured Build(vyn::fuzz::FuzzInput& in, const std::vector<TemplateArgument>& args) {
  Structured out;
  std::size_t counter = 1;
  while (!in.empty()) {
    const uint8_t token = in.Byte();
    if (token % 4 == 0) {
      std::string name;
      for (std::size_t i = 0; i <= token / 4 % 3; ++i) {
        name.push_back(static_cast<char>('a' + (token / 16 + i) % 5));
      }
      out.templ += "{" + name + "}";
      if (counter <= args.size()) {
        out.message += Printed(args[counter - 1]);
        out.fields[name] = &args[counter - 1];
      }
      ++counter;
      continue;
    }
    const char c = static_cast<char>(in.Byte());
    if (c == '\0' || c == '{' || c == '}' || c == '%') continue;
    out.templ.push_back(c);
    out.message.push_back(c);
  }
  out.message.resize(std::min(out.message.size(), vyn::diagnostics::kFormatBufferSize - 1));
  return out;
}

// Equality of copies: a NaN argument is copied as a NaN, which == would never find again.
bool Same(const TemplateArgument& a, const TemplateArgument& b) {
  return a.kind == b.kind && a.text == b.text && a.flag == b.flag && a.integer == b.integer &&
         vyn::fuzz::SameFloatBits(a.number, b.number);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  vyn::fuzz::FuzzInput in(data, size);
  const uint8_t first = in.Byte();
  const bool structured = (first & 0x80) != 0;
  std::vector<TemplateArgument> args;
  const std::size_t count = first % (kMaxArguments + 1);
  for (std::size_t i = 0; i < count; ++i) args.push_back(ReadArgument(in, structured));

  if (structured) {
    const Structured expected = Build(in, args);
    TemplateFields fields;
    const std::string message =
        vyn::diagnostics::ExpandMessage(expected.templ, args.data(), args.size(), &fields);
    if (message != expected.message) Violated("a plain template printed another message");
    if (fields.size() != expected.fields.size()) Violated("a plain template recorded other fields");
    for (const auto& [name, arg] : expected.fields) {
      const auto found = fields.find(name);
      if (found == fields.end() || !Same(found->second, *arg)) {
        Violated("a plain template recorded another value");
      }
    }
    return 0;
  }

  // A heap block of exactly the template, without a terminator, so that reading past it is caught.
  const std::string rest = in.Rest();
  const std::vector<char> block(rest.begin(), rest.end());
  const std::string_view templ(block.data(), block.size());

  const std::string keptName = "kept";
  const TemplateArgument keptValue = TemplateArgument::Signed(-7);
  TemplateFields fields{{keptName, keptValue}};
  std::string formatText = "stale";
  vyn::diagnostics::ExpandTemplate(templ, args.data(), args.size(), formatText, fields);

  if (templ.find_first_of("{}%") == std::string_view::npos) {
    if (formatText != templ) Violated("a template without placeholders came back changed");
    if (fields.size() != 1) Violated("a template without placeholders recorded fields");
  }
  for (const auto& [name, value] : fields) {
    if (name.empty()) Violated("a field without a name");
    const TemplateArgument& field = value;
    const bool kept = name == keptName && Same(value, keptValue);
    if (!kept &&
        std::none_of(args.begin(), args.end(), [&](const auto& a) { return Same(a, field); })) {
      Violated("a field holds no argument's value");
    }
  }

  const std::string message =
      vyn::diagnostics::ExpandMessage(templ, args.data(), args.size(), nullptr);
  if (message.size() > vyn::diagnostics::kFormatBufferSize - 1) {
    Violated("a message longer than 4095 bytes");
  }
  return 0;
}
