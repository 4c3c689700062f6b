// Named-placeholder templates: the format text, the recorded fields and the final message.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "diagnostics/ExpandTemplate.h"

namespace vyn::diagnostics {
namespace {

using Arg = TemplateArgument;
const auto S = Arg::Signed;
const auto U = Arg::Unsigned;
const auto F = Arg::Float;
const auto B = Arg::Bool;

// The fields sorted by name, with kinds and texts; "kept" was there before and must stay.
std::string Describe(TemplateFields fields) {
  if (fields.erase("kept") != 1) return "kept lost";
  std::string text;
  for (const auto& [name, arg] : std::map<std::string, Arg>(fields.begin(), fields.end())) {
    text += (text.empty() ? "" : " ") + name + ":" + std::to_string(static_cast<int>(arg.kind));
    if (arg.kind == TemplateArgumentKind::Text) text += "=" + arg.text;
  }
  return text;
}

TEST(ExpandTemplate, GivesTheFormatTextTheFieldsAndTheMessage) {
  const struct {
    const char* templ;
    std::vector<Arg> args;
    const char* expanded;  // the format text | the fields as Describe() gives them
    const char* message;
  } cases[] = {
      {"{m} {u}: {e}", {"GET", "/a", "X"}, "%1 %2: %3 | e:5=X m:5=GET u:5=/a", "GET /a: X"},
      {"{{x}} a}b}} {a} {b}x{a", {"t"}, "{x} a}b} %1 x | a:5=t", "{x} a}b} t x"},
      {"[{?none}] [{?none}] {?100%}", {"", "a", ""}, "[none] [%2] 100%% | ", "[none] [a] 100%"},
      {"{n?z}{b?n}{f?x}{u?0}", {S(0), B(false), F(0.5), U(0)}, "zn%3$s0 | f:4", "zn0.50"},
      {"n={v:05d} id  \t{!id}.", {S(42), "7"}, "n=%1$05d id. | id:5=7 v:2", "n=00042 id."},
      {"{#c}{#u}{#c_int}{#c_x}{#a}{#b}{#}",
       {S(-3), U(~0ull), S(3), "t", B(true), F(1), "n"},
       "%1%2%3%4%5%6%7 | a_bool:1 b_float:4 c_int:2 c_x_str:5=t u_int:3",
       "-3184467440737095516153ttrue1n"},
      {"{a\\:b\\}}{a{b}{a}{a}", {"t", "u", "v", "w"}, "%1%2%3%4 | a:5=w a:b}:5=t ab:5=u", "tuvw"},
      {"%% %s {b} %2$-3d {c}", {"t", "u", "v"}, "%% %s %2 %2$-3d %3 | b:5=u c:5=v", "% t u u   v"},
      {"{a}", {}, " | ", ""},
      {"x %99999999999999999999 {a}", {"t"}, "x %99999999999999999999  | ", "x "},
      {"{n}0{m}$x", {S(42), "x"}, "%1$s0%2$s$x | m:5=x n:2", "420x$x"},
      {"{a} {!b}7", {"x", "y"}, "%1$s7 | a:5=x b:5=y", "x7"},
  };
  for (const auto& c : cases) {
    std::string format = "stale";
    TemplateFields fields{{"kept", Arg("old")}}, messageFields = fields;
    ExpandTemplate(c.templ, c.args.data(), c.args.size(), format, fields);
    EXPECT_EQ(format + " | " + Describe(fields), c.expanded) << c.templ;
    EXPECT_EQ(ExpandMessage(c.templ, c.args.data(), c.args.size(), &messageFields), c.message)
        << c.templ;
    EXPECT_EQ(Describe(messageFields), Describe(fields)) << c.templ;
  }
}

}  // namespace
}  // namespace vyn::diagnostics
