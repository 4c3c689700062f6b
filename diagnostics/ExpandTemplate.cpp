// Expansion of named-placeholder templates into positional format texts and detail fields.
#include "diagnostics/ExpandTemplate.h"

#include <algorithm>
#include <array>
#include <vector>

#include "diagnostics/FormatText.h"

namespace vyn::diagnostics {
namespace {

constexpr std::array<std::string_view, 7> kTypeSuffixes = {"_bool", "_int",  "_long", "_float",
                                                            "_str",  "_time", "_ip"};

struct TemplatePlaceholder {
  std::string name;
  std::string alternative;
  std::string specification;
  bool typedName = false;         // "#"
  bool silent = false;            // "!"
  bool hasAlternative = false;    // "?"
  bool hasSpecification = false;  // ":"
  bool rawSpecification = false;  // a printf specification outside braces
};

bool HasTypeSuffix(std::string_view name) {
  const std::size_t underscore = name.rfind('_');
  if (underscore == std::string_view::npos) return false;
  const std::string_view suffix = name.substr(underscore);
  for (std::string_view known : kTypeSuffixes) {
    if (suffix == known) return true;
  }
  return false;
}

std::string_view KindSuffix(TemplateArgumentKind kind) {
  switch (kind) {
    case TemplateArgumentKind::Bool:
      return "_bool";
    case TemplateArgumentKind::Signed:
    case TemplateArgumentKind::Unsigned:
      return "_int";
    case TemplateArgumentKind::Float:
      return "_float";
    case TemplateArgumentKind::Text:
      return "_str";
  }
  return "";
}

bool IsEmptyArgument(const TemplateArgument& arg) {
  switch (arg.kind) {
    case TemplateArgumentKind::Bool:
      return arg.flag == 0;
    case TemplateArgumentKind::Signed:
    case TemplateArgumentKind::Unsigned:
      return arg.integer == 0;
    case TemplateArgumentKind::Float:
      return arg.number == 0.0;
    case TemplateArgumentKind::Text:
      return arg.text.empty();
  }
  return false;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

class TemplateExpander {
 public:
  TemplateExpander(const TemplateArgument* args, std::size_t count, std::string& formatText,
                   TemplateFields& fields)
      : args_(args), count_(count), out_(formatText), fields_(fields) {}

  void Expand(std::string_view templ) {
    std::size_t pos = 0;
    while (pos < templ.size()) {
      pos = inside_ ? ReadInside(templ, pos) : ReadOutside(templ, pos);
    }
  }

 private:
  // Appends a byte of text. Right after a bare "%n", a digit would extend the argument number and
  // a "$" would start a printf specification, so that placeholder is closed as "%n$s" first: every
  // kind corrects "s" to its own default conversion, so it prints exactly as "%n" would.
  void Put(char c) {
    if (out_.size() == bareEnd_ && ((c >= '0' && c <= '9') || c == '$')) out_ += "$s";
    out_ += c;
  }

  std::size_t ReadOutside(std::string_view templ, std::size_t pos) {
    const char c = templ[pos];
    const char next = pos + 1 < templ.size() ? templ[pos + 1] : '\0';
    if (c == '%') {
      if (next == '%') {
        out_ += "%%";  // FormatText makes it one "%"
        return pos + 2;
      }
      FormatPlaceholder found;
      ParseFormatPlaceholder(templ.substr(pos), count_, nextSequential_, found);
      placeholder_.rawSpecification = true;
      placeholder_.specification.assign(templ.substr(pos, found.length));
      Apply(found.argument);
      // An argument number may be as large as size_t holds; past the last argument every later
      // placeholder prints nothing anyway, so the counter stops there instead of wrapping to 0.
      if (found.argument != 0) counter_ = std::min(found.argument, count_) + 1;
      placeholder_ = TemplatePlaceholder{};
      return pos + found.length;
    }
    if (c == '{') {
      if (next == '{') {
        Put('{');
        return pos + 2;
      }
      inside_ = true;
      if (next == '#') {
        placeholder_.typedName = true;
        return pos + 2;
      }
      return pos + 1;
    }
    if (c == '}') {
      Put('}');
      return next == '}' ? pos + 2 : pos + 1;
    }
    Put(c);
    return pos + 1;
  }

  std::size_t ReadInside(std::string_view templ, std::size_t pos) {
    switch (templ[pos]) {
      case '!':
        placeholder_.silent = true;
        break;
      case '?':
        placeholder_.hasAlternative = true;
        break;
      case ':':
        placeholder_.hasSpecification = true;
        break;
      case '{':
        break;
      case '\\':
        if (pos + 1 < templ.size()) {
          AppendToPart(templ[pos + 1]);
          return pos + 2;
        }
        break;
      case '}':
        if (counter_ <= count_) Apply(counter_);
        ++counter_;
        placeholder_ = TemplatePlaceholder{};
        inside_ = false;
        break;
      default:
        AppendToPart(templ[pos]);
        break;
    }
    return pos + 1;
  }

  void AppendToPart(char c) {
    if (placeholder_.hasSpecification) {
      placeholder_.specification += c;
    } else if (placeholder_.hasAlternative) {
      placeholder_.alternative += c;
    } else {
      placeholder_.name += c;
    }
  }

  // Applies the current placeholder to argument n (1-based).
  void Apply(std::size_t n) {
    if (placeholder_.rawSpecification) {
      // FormatText reads it later with the same rules, so it is copied as written; it names no
      // field, and an argument it cannot find ends the message there.
      out_ += placeholder_.specification;
      return;
    }
    const TemplateArgument& arg = args_[n - 1];
    std::string name = std::move(placeholder_.name);
    // An empty name stays empty: a bare suffix would be a field nobody can mean.
    if (placeholder_.typedName && !name.empty() && !HasTypeSuffix(name)) {
      name += KindSuffix(arg.kind);
    }
    if (placeholder_.hasAlternative && IsEmptyArgument(arg)) {
      // The alternative is literal text: a "%" in it must not become a placeholder.
      for (char c : placeholder_.alternative) {
        Put(c);
        if (c == '%') out_ += '%';
      }
      return;
    }
    if (!name.empty()) fields_.insert_or_assign(std::move(name), arg);
    if (placeholder_.silent) {
      while (!out_.empty() && IsBlank(out_.back())) out_.pop_back();
      return;
    }
    out_ += '%';
    out_ += std::to_string(n);
    if (placeholder_.hasSpecification) {
      out_ += '$';
      out_ += placeholder_.specification;
    } else {
      bareEnd_ = out_.size();
    }
  }

  const TemplateArgument* args_;
  std::size_t count_;
  std::string& out_;
  TemplateFields& fields_;
  TemplatePlaceholder placeholder_;
  bool inside_ = false;
  std::size_t counter_ = 1;
  std::size_t bareEnd_ = std::string::npos;  // output size right after the last bare "%n"
  // Follows FormatText's own sequential counter, which only printf specifications move.
  std::size_t nextSequential_ = 1;
};

const char* const kTrueText = "true";
const char* const kFalseText = "false";

FormatArg MessageArgument(const TemplateArgument& arg) {
  switch (arg.kind) {
    case TemplateArgumentKind::Bool:
      return {arg.flag != 0 ? &kTrueText : &kFalseText, &kFormatKindCString};
    case TemplateArgumentKind::Signed:
      return {&arg.integer, format_internal::KindOf<int64_t>()};
    case TemplateArgumentKind::Unsigned:
      // The signed member is read as its unsigned counterpart, which the language allows.
      return {&arg.integer, format_internal::KindOf<uint64_t>()};
    case TemplateArgumentKind::Float:
      return {&arg.number, &kFormatKindDouble};
    case TemplateArgumentKind::Text:
      break;
  }
  return {&arg.text, &kFormatKindString};
}

}  // namespace

TemplateArgument::TemplateArgument(const char* value)
    : text(value != nullptr ? value : "") {}
TemplateArgument::TemplateArgument(std::string_view value) : text(value) {}
TemplateArgument::TemplateArgument(std::string value) : text(std::move(value)) {}

TemplateArgument TemplateArgument::Bool(bool value) {
  TemplateArgument arg;
  arg.kind = TemplateArgumentKind::Bool;
  arg.flag = value ? 1 : 0;
  return arg;
}

TemplateArgument TemplateArgument::Signed(int64_t value) {
  TemplateArgument arg;
  arg.kind = TemplateArgumentKind::Signed;
  arg.integer = value;
  return arg;
}

TemplateArgument TemplateArgument::Unsigned(uint64_t value) {
  TemplateArgument arg;
  arg.kind = TemplateArgumentKind::Unsigned;
  arg.integer = static_cast<int64_t>(value);
  return arg;
}

TemplateArgument TemplateArgument::Float(double value) {
  TemplateArgument arg;
  arg.kind = TemplateArgumentKind::Float;
  arg.number = value;
  return arg;
}

TemplateArgument TemplateArgument::Text(std::string_view value) { return TemplateArgument(value); }

void ExpandTemplate(std::string_view templ, const TemplateArgument* args, std::size_t count,
                    std::string& formatText, TemplateFields& fields) {
  formatText.clear();
  if (args == nullptr) count = 0;
  TemplateExpander(args, count, formatText, fields).Expand(templ);
}

std::string ExpandMessage(std::string_view templ, const TemplateArgument* args, std::size_t count,
                          TemplateFields* fields) {
  if (args == nullptr) count = 0;
  TemplateFields unused;
  std::string formatText;
  ExpandTemplate(templ, args, count, formatText, fields != nullptr ? *fields : unused);
  std::vector<FormatArg> formatArgs;
  formatArgs.reserve(count);
  for (std::size_t i = 0; i < count; ++i) formatArgs.push_back(MessageArgument(args[i]));
  return FormatTextV(formatText.c_str(), formatArgs.data(), formatArgs.size());
}

std::string ExpandMessage(std::string_view templ, std::initializer_list<TemplateArgument> args,
                          TemplateFields* fields) {
  return ExpandMessage(templ, args.begin(), args.size(), fields);
}

}  // namespace vyn::diagnostics
