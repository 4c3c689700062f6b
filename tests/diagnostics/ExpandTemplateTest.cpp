// Named-placeholder templates: the format text, the recorded fields and the final message.
#include "diagnostics/ExpandTemplate.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace vyn::diagnostics {
namespace {

// Field names with their kinds, sorted, so a row can state the whole map.
std::string DescribeFields(const TemplateFields& fields) {
  std::map<std::string, int> sorted;
  for (const auto& [name, arg] : fields) sorted[name] = static_cast<int>(arg.kind);
  std::string text;
  for (const auto& [name, kind] : sorted) text += name + ":" + std::to_string(kind) + " ";
  return text;
}

TEST(ExpandTemplateText, FormatTextAndFields) {
  struct Case {
    const char* desc;
    const char* templ;
    std::vector<TemplateArgument> args;
    const char* format;
    const char* fields;  // "name:kind " sorted by name
  };
  const Case cases[] = {
      {"plain text is copied", "no braces here", {"a"}, "no braces here", ""},
      {"doubled braces", "{{x}}", {"a"}, "{x}", ""},
      {"single closing brace", "a}b", {}, "a}b", ""},
      {"the request error template", "Error response for {method} {url}: {error}",
       {"GET", "/a", "X"}, "Error response for %1 %2: %3", "error:5 method:5 url:5 "},
      {"alternative on empty text", "[{?none}]", {""}, "[none]", ""},
      {"alternative on text", "[{?none}]", {"a"}, "[%1]", ""},
      {"alternative on zero", "{n?zero}", {TemplateArgument::Signed(0)}, "zero", ""},
      {"alternative on false", "{b?no}", {TemplateArgument::Bool(false)}, "no", ""},
      {"named alternative, not empty", "{n?zero}", {TemplateArgument::Float(0.5)}, "%1",
       "n:4 "},
      {"alternative percent stays literal", "{?100%}", {""}, "100%%", ""},
      {"silent drops the blanks before it", "id  \t{!id}.", {"7"}, "id.", "id:5 "},
      {"specification", "{v:05d}", {TemplateArgument::Signed(3)}, "%1$05d", "v:2 "},
      {"typed signed", "{#code}", {TemplateArgument::Signed(3)}, "%1", "code_int:2 "},
      {"typed unsigned", "{#code}", {TemplateArgument::Unsigned(3)}, "%1", "code_int:3 "},
      {"typed keeps a known suffix", "{#code_int}", {TemplateArgument::Signed(3)}, "%1",
       "code_int:2 "},
      {"typed unknown suffix", "{#code_x}", {"t"}, "%1", "code_x_str:5 "},
      {"typed bool and float", "{#a}{#b}", {TemplateArgument::Bool(true), TemplateArgument::Float(1)},
       "%1%2", "a_bool:1 b_float:4 "},
      {"typed without name records nothing", "{#}", {"t"}, "%1", ""},
      {"backslash escapes", "{a\\:b\\}}", {"t"}, "%1", "a:b}:5 "},
      {"opening brace inside is ignored", "{a{b}", {"t"}, "%1", "ab:5 "},
      {"placeholder beyond the arguments", "{a} {b}", {"t"}, "%1 ", "a:5 "},
      {"unclosed placeholder", "x{a", {"t"}, "x", ""},
      {"percent passthrough", "100%% {a}", {"t"}, "100%% %1", "a:5 "},
      {"printf specification moves the counter", "%s {b}", {"t", "u"}, "%s %2", "b:5 "},
      {"positional printf specification", "%2$-3d {c}", {"t", "u", "v"}, "%2$-3d %3", "c:5 "},
  };
  for (const Case& c : cases) {
    std::string format = "stale";
    TemplateFields fields;
    ExpandTemplate(c.templ, c.args.data(), c.args.size(), format, fields);
    EXPECT_EQ(format, c.format) << c.desc;
    EXPECT_EQ(DescribeFields(fields), c.fields) << c.desc;
  }
}

TEST(ExpandTemplateFields, LaterPlaceholderReplacesAndOthersStay) {
  TemplateFields fields;
  fields["kept"] = TemplateArgument("old");
  fields["a"] = TemplateArgument("old");
  const TemplateArgument args[] = {"x", "y"};
  std::string format;
  ExpandTemplate("{a} {a}", args, 2, format, fields);
  EXPECT_EQ(format, "%1 %2");
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields["a"].text, "y");
  EXPECT_EQ(fields["kept"].text, "old");
}

TEST(ExpandMessageText, ExpandsThenFormats) {
  TemplateFields fields;
  EXPECT_EQ(ExpandMessage("Error response for {method} {url}: {error}", {"GET", "/a", "X"},
                          &fields),
            "Error response for GET /a: X");
  EXPECT_EQ(DescribeFields(fields), "error:5 method:5 url:5 ");
  EXPECT_EQ(fields["url"], TemplateArgument("/a"));

  EXPECT_EQ(ExpandMessage("n={n:05d}", {TemplateArgument::Signed(42)}), "n=00042");
  EXPECT_EQ(ExpandMessage("{u}", {TemplateArgument::Unsigned(18446744073709551615u)}),
            "18446744073709551615");
  EXPECT_EQ(ExpandMessage("{f} {b}", {TemplateArgument::Float(0.5), TemplateArgument::Bool(true)}),
            "0.5 true");
  EXPECT_EQ(ExpandMessage("{?100%} done", {""}), "100% done");
  EXPECT_EQ(ExpandMessage("code {!id}", {"7"}), "code");
  EXPECT_EQ(ExpandMessage("%s and {b}", {"a", "b"}), "a and b");
  EXPECT_EQ(ExpandMessage("{a} {b}", {"only"}), "only ");
  EXPECT_EQ(ExpandMessage("{a}", {}), "");
}

// A printf argument number too large for size_t names no argument; the placeholders after it
// must not count on from a wrapped-around number and reach for an argument before the first.
TEST(ExpandTemplateText, HugePrintfArgumentNumberLeavesLaterPlaceholdersEmpty) {
  const TemplateArgument args[] = {"t"};
  std::string format;
  TemplateFields fields;
  ExpandTemplate("%99999999999999999999 {a}", args, 1, format, fields);
  EXPECT_EQ(format, "%99999999999999999999 ");
  EXPECT_TRUE(fields.empty());
  EXPECT_EQ(ExpandMessage("x %99999999999999999999 {a}", args, 1), "x ");
}

// A bare placeholder becomes "%n"; a digit or "$" right after it in the template must not join it
// into another argument number or a printf specification.
TEST(ExpandMessageText, DigitOrDollarAfterAPlaceholderPrintsAsText) {
  struct Case {
    const char* desc;
    const char* templ;
    std::vector<TemplateArgument> args;
    const char* message;
  };
  const Case cases[] = {
      {"digit after a placeholder", "{n}0 of {m}", {TemplateArgument::Signed(42), "x"}, "420 of x"},
      {"digits after the last placeholder", "{a}5 items", {"x"}, "x5 items"},
      {"dollar at the end", "{a}$", {"x"}, "x$"},
      {"dollar and a letter", "{a}$x", {TemplateArgument::Signed(42)}, "42$x"},
      {"digit after blanks a silent placeholder dropped", "{a}  {!b}7", {"x", "y"}, "x7"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExpandMessage(c.templ, c.args.data(), c.args.size()), c.message) << c.desc;
  }
}

}  // namespace
}  // namespace vyn::diagnostics
