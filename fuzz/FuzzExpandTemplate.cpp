// Fuzzes message templates with named placeholders: fuzzed templates over up to six fuzzed
// arguments of every kind, expanded into a format text and fields, then formatted into the
// message. Besides crashes and undefined behaviour (an argument read past the list, a template read
// past its end) it checks the contracts: a template without braces or "%" is its own format text
// and records nothing, every recorded field is a copy of an argument under a non-empty name,
// fields already in the map stay unless replaced, and messages keep to 4095 bytes.
//
// When the first byte's high bit is set, the template is built instead from literal bytes and
// plain "{name}" placeholders, whose message is known: each placeholder within the arguments
// prints its argument (a text as it is, a number in decimal or %g, a bool as true or false), every
// other byte prints itself, and the fields are the arguments under their last placeholder's name.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
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
  switch (in.Byte() % 5) {
    case 0:
      return TemplateArgument::Bool(in.Byte() % 2 != 0);
    case 1:
      return TemplateArgument::Signed(static_cast<int64_t>(in.U64()));
    case 2:
      return TemplateArgument::Unsigned(in.U64());
    case 3: {
      const uint64_t bits = in.U64();
      double number = 0;
      std::memcpy(&number, &bits, sizeof number);
      return TemplateArgument::Float(number);
    }
    default: {
      std::string text = in.Text();
      // A message prints texts as C texts, so the model's texts end at their first NUL.
      if (textWithoutNul) text = text.c_str();
      return TemplateArgument::Text(text);
    }
  }
}

// How the message prints an argument for a bare placeholder.
std::string Printed(const TemplateArgument& arg) {
  char buffer[64];
  switch (arg.kind) {
    case TemplateArgumentKind::Bool:
      return arg.flag != 0 ? "true" : "false";
    case TemplateArgumentKind::Signed:
      std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(arg.integer));
      return buffer;
    case TemplateArgumentKind::Unsigned:
      std::snprintf(buffer, sizeof buffer, "%llu",
                    static_cast<unsigned long long>(arg.UnsignedValue()));
      return buffer;
    case TemplateArgumentKind::Float:
      std::snprintf(buffer, sizeof buffer, "%g", arg.number);
      return buffer;
    case TemplateArgumentKind::Text:
      break;
  }
  return arg.text;
}

// Builds a template of literal bytes and plain placeholders from the rest of the input, and what
// its message and fields must be.
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
  if (out.message.size() > vyn::diagnostics::kFormatBufferSize - 1) {
    out.message.resize(vyn::diagnostics::kFormatBufferSize - 1);
  }
  return out;
}

// Equality of copies: a NaN argument is copied as a NaN, which == would never find again.
bool Same(const TemplateArgument& a, const TemplateArgument& b) {
  return a.kind == b.kind && a.text == b.text && a.flag == b.flag && a.integer == b.integer &&
         vyn::fuzz::SameFloatBits(a.number, b.number);
}

bool IsArgument(const TemplateArgument& value, const std::vector<TemplateArgument>& args) {
  for (const TemplateArgument& arg : args) {
    if (Same(arg, value)) return true;
  }
  return false;
}

bool SameFields(const TemplateFields& a, const TemplateFields& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [name, value] : a) {
    const auto found = b.find(name);
    if (found == b.end() || !Same(found->second, value)) return false;
  }
  return true;
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
  const auto block = std::make_unique<char[]>(rest.size());
  if (!rest.empty()) std::memcpy(block.get(), rest.data(), rest.size());
  const std::string_view templ(block.get(), rest.size());

  const std::string keptName = "kept";
  const TemplateArgument keptValue = TemplateArgument::Signed(-7);
  TemplateFields fields;
  fields[keptName] = keptValue;
  std::string formatText = "stale";
  vyn::diagnostics::ExpandTemplate(templ, args.data(), args.size(), formatText, fields);

  if (templ.find_first_of("{}%") == std::string_view::npos) {
    if (formatText != templ) Violated("a template without placeholders came back changed");
    if (fields.size() != 1) Violated("a template without placeholders recorded fields");
  }
  for (const auto& [name, value] : fields) {
    if (name.empty()) Violated("a field without a name");
    if (!IsArgument(value, args) && !(name == keptName && Same(value, keptValue))) {
      Violated("a field holds no argument's value");
    }
  }

  std::string again = "other";
  TemplateFields fieldsAgain;
  fieldsAgain[keptName] = keptValue;
  vyn::diagnostics::ExpandTemplate(templ, args.data(), args.size(), again, fieldsAgain);
  if (again != formatText || !SameFields(fieldsAgain, fields)) {
    Violated("the same template expanded twice");
  }

  const std::string message =
      vyn::diagnostics::ExpandMessage(templ, args.data(), args.size(), nullptr);
  if (message.size() > vyn::diagnostics::kFormatBufferSize - 1) {
    Violated("a message longer than 4095 bytes");
  }
  return 0;
}
