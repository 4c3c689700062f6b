// The YAML reader: scalar typing, trees, empty and aliased keys, anchors, limits, errors and text
// that is not UTF-8.
#include "formats/Yaml.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace vyn::formats {
namespace {

using binding::BindingProperty;
using binding::BindingPropertyKind;
using binding::BindingResult;

// A compact rendering that shows each node's kind: u:1 unsigned, s:-1 signed, f:1.5 float,
// "x" string, ~ empty, [..] collection, {"name":..} structure.
std::string Render(const BindingProperty& node) {
  char number[64];
  switch (node.kind()) {
    case BindingPropertyKind::Empty:
      return "~";
    case BindingPropertyKind::Bool:
      return node.asBool() ? "true" : "false";
    case BindingPropertyKind::Signed:
      std::snprintf(number, sizeof number, "s:%lld", static_cast<long long>(node.asSigned()));
      return number;
    case BindingPropertyKind::Unsigned:
      std::snprintf(number, sizeof number, "u:%llu",
                    static_cast<unsigned long long>(node.asUnsigned()));
      return number;
    case BindingPropertyKind::Float:
      std::snprintf(number, sizeof number, "f:%.17g", node.asFloat());
      return number;
    case BindingPropertyKind::String:
      return "\"" + std::string(node.asString()) + "\"";
    case BindingPropertyKind::Collection: {
      std::string text = "[";
      for (const BindingProperty& element : node.elements()) {
        if (text.size() > 1) text += ",";
        text += Render(element);
      }
      return text + "]";
    }
    case BindingPropertyKind::Structure: {
      std::string text = "{";
      for (const auto& member : node.members()) {
        if (text.size() > 1) text += ",";
        text += "\"" + std::string(member.name) + "\":" + Render(member.value);
      }
      return text + "}";
    }
    default:
      return "?";
  }
}

std::string ParseToText(std::string_view yaml) {
  const BindingResult result = ParseYaml(yaml);
  return result.ok() ? Render(result) : "error: " + result.ErrorText();
}

struct Case {
  const char* desc;
  std::string_view yaml;
  const char* expected;  // Render() of the value, or "error: " + the message
};

void RunCases(const Case* begin, const Case* end) {
  for (const Case* c = begin; c != end; ++c) {
    EXPECT_EQ(ParseToText(c->yaml), c->expected) << c->desc;
  }
}

TEST(YamlPlainScalars, TypedByTheirText) {
  const Case cases[] = {
      {"integer", "42", "u:42"},
      {"negative integer", "-42", "s:-42"},
      {"fraction", "4.5", "f:4.5"},
      {"integral exponent", "1e3", "u:1000"},
      {"hex", "0x1A", "u:26"},
      {"hex float", "0x1p3", "u:8"},
      {"leading zero stays decimal", "010", "u:10"},
      {"integral fraction", "1.0", "u:1"},
      {"minus zero", "-0", "u:0"},
      {"plus sign", "+5", "u:5"},
      {"true word", "yes", "true"},
      {"false word", "OFF", "false"},
      {"mixed case is no word", "tRUE", "\"tRUE\""},
      {"tilde", "~", "~"},
      {"infinity stays text", "inf", "\"inf\""},
      {"nan stays text", "nan", "\"nan\""},
      {"number with leftovers", "1_000", "\"1_000\""},
      {"quoted number", "'42'", "\"42\""},
      {"quoted empty is a string", "''", "\"\""},
      {"literal block is not quoted", "|-\n  42", "u:42"},
      // Exact integers: a double would round these.
      {"above 2^53", "9007199254740993", "u:9007199254740993"},
      {"largest unsigned", "18446744073709551615", "u:18446744073709551615"},
      {"smallest signed", "-9223372036854775808", "s:-9223372036854775808"},
      // Integral values outside both 64-bit ranges stay floats.
      {"2^64", "18446744073709551616", "f:1.8446744073709552e+19"},
      {"huge exponent", "1e30", "f:1e+30"},
      {"huge negative", "-1e30", "f:-1e+30"},
      {"below the signed range", "-9223372036854775809", "f:-9.2233720368547758e+18"},
      {"hex over 64 bits", "0x10000000000000000", "f:1.8446744073709552e+19"},
      {"overflow is text", "1e400", "\"1e400\""},
  };
  RunCases(std::begin(cases), std::end(cases));
}

TEST(YamlTaggedScalars, FollowTheirTag) {
  const Case cases[] = {
      {"str", "!!str 42", "\"42\""},
      {"int", "!!int 42", "u:42"},
      {"negative int", "!!int -42", "s:-42"},
      {"int with octal prefix", "!!int 010", "u:8"},
      {"int in hex", "!!int 0x10", "u:16"},
      {"unsigned format error", "!!int abc",
       "error: Value abc for 'yaml' of type uint64_t is in an incorrect format"},
      {"signed format error", "!!int -4x",
       "error: Value -4x for 'yaml' of type int64_t is in an incorrect format"},
      {"unsigned overflow", "!!int 18446744073709551616",
       "error: Value 18446744073709551616 for 'yaml' of type uint64_t is out of range"},
      {"signed overflow", "!!int -9223372036854775809",
       "error: Value -9223372036854775809 for 'yaml' of type int64_t is out of range"},
      {"empty int is zero", "!!int ''", "u:0"},
      {"float", "!!float 2", "f:2"},
      {"hex float", "!!float 0x1p-1", "f:0.5"},
      {"float overflow", "!!float 1e400",
       "error: Value 1e400 for 'yaml' of type double is out of range"},
      {"float format", "!!float 1.5x",
       "error: Value 1.5x for 'yaml' of type double is in an incorrect format"},
      {"float infinity", "!!float inf",
       "error: Value inf for 'yaml' of type double is out of range"},
      {"bool", "!!bool Yes", "true"},
      {"bool other text leaves the slot", "!!bool maybe", "~"},
      {"null tag", "!!null ~", "error: Unsupported YAML tag 'tag:yaml.org,2002:null'."},
      {"non-specific tag", "! x", "error: Unsupported YAML tag '!'."},
      {"local tag", "a: !thing x", "error: Unsupported YAML tag '!thing'."},
      {"tags on containers are ignored", "!!set {a: 1}", "{\"a\":u:1}"},
  };
  RunCases(std::begin(cases), std::end(cases));
}

TEST(YamlTaggedScalars, NanFloatPasses) {
  const BindingResult result = ParseYaml("!!float nan");
  ASSERT_TRUE(result.ok());
  EXPECT_TRUE(std::isnan(result.asFloat()));
}

TEST(YamlResolveScalar, DoesNothingAfterAFailureAndKeepsTheSlotForOtherBoolText) {
  BindingResult result;
  BindingProperty slot;
  slot.setSigned(7);
  ResolveYamlScalar(result, slot, "tag:yaml.org,2002:bool", "maybe", 5, false);
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(Render(slot), "s:7");
  ResolveYamlScalar(result, slot, "tag:yaml.org,2002:int", "x", 1, false);
  ResolveYamlScalar(result, slot, "!", "x", 1, false);
  EXPECT_EQ(result.ErrorText(), "Value x for 'yaml' of type uint64_t is in an incorrect format");
  // A text without a terminator, read only up to its length; and no text at all.
  BindingResult fresh;
  ResolveYamlScalar(fresh, slot, nullptr, "12345", 2, false);
  EXPECT_EQ(Render(slot), "u:12");
  ResolveYamlScalar(fresh, slot, nullptr, nullptr, 0, true);
  EXPECT_EQ(Render(slot), "\"\"");
}

TEST(YamlTrees, BuildCollectionsAndStructures) {
  const Case cases[] = {
      {"mapping", "a: 1", "{\"a\":u:1}"},
      {"block sequence", "- a\n- b", "[\"a\",\"b\"]"},
      {"y is a true word", "- x\n- y", "[\"x\",true]"},
      {"nested flow", "{b: [1, {c: ~}], a: true}", "{\"a\":true,\"b\":[u:1,{\"c\":~}]}"},
      {"missing value is empty", "a:\nb: 2", "{\"a\":~,\"b\":u:2}"},
      {"key text is kept as written", "123: a\n~: b\ntrue: c",
       "{\"123\":\"a\",\"true\":\"c\",\"~\":\"b\"}"},
      {"string-tagged key", "!!str 1: x", "{\"1\":\"x\"}"},
      {"repeated key: last wins", "a: 1\na: 2", "{\"a\":u:2}"},
      {"repeated key: scalar over mapping", "a: {x: 1}\na: b", "{\"a\":\"b\"}"},
      {"repeated key: sequence over mapping", "a: {x: 1}\na: [1]", "{\"a\":[u:1]}"},
      {"empty text", "", "~"},
      {"blanks and a comment", "  \n# nothing\n", "~"},
      {"bare document marker", "---", "~"},
      {"an empty first document does not count", "--- ~\n---\na: 1", "{\"a\":u:1}"},
      {"second document", "a: 1\n---\nb: 2", "error: Multi-document YAML is not supported."},
  };
  RunCases(std::begin(cases), std::end(cases));
}

TEST(YamlTrees, ReadsOnlyTheGivenBytes) {
  const char buffer[] = "a: 1234";
  EXPECT_EQ(ParseToText(std::string_view(buffer, 4)), "{\"a\":u:1}");
}

TEST(YamlEmptyKeys, StayKeys) {
  const Case cases[] = {
      {"quoted empty key", "\"\": 1\nb: 2", "{\"\":u:1,\"b\":u:2}"},
      {"null key", "? \n: 1\nb: 2", "{\"\":u:1,\"b\":u:2}"},
      {"flow empty key", "{'': x, y: z}", "{\"\":\"x\",\"y\":\"z\"}"},
      {"empty key with a mapping value", "'':\n  k: v\nb: 2", "{\"\":{\"k\":\"v\"},\"b\":u:2}"},
      {"empty key with an empty value", "'':\nb: 2", "{\"\":~,\"b\":u:2}"},
  };
  RunCases(std::begin(cases), std::end(cases));
}

TEST(YamlKeys, RejectNonStringKeys) {
  const Case cases[] = {
      {"block complex sequence key", "? - a\n: b",
       "error: Unexpected start of sequence. At line: 1 col: 3"},
      {"flow sequence key", "{[1]: 2}", "error: Unexpected start of sequence. At line: 1 col: 2"},
      {"mapping key", "x: 1\n? {a: 1}\n: x",
       "error: Unexpected start of mapping. At line: 2 col: 3"},
      {"int-tagged key", "a: 1\n!!int 2: x",
       "error: Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
  };
  RunCases(std::begin(cases), std::end(cases));
}

TEST(YamlAliases, CopyAnchoredNodes) {
  const Case cases[] = {
      {"mapping", "a: &m {k: v}\nb: *m", "{\"a\":{\"k\":\"v\"},\"b\":{\"k\":\"v\"}}"},
      {"scalar keeps its type", "a: &x 42\nb: *x", "{\"a\":u:42,\"b\":u:42}"},
      {"sequence element", "- &e x\n- *e", "[\"x\",\"x\"]"},
      {"sequence into itself later", "- &s [1, 2]\n- *s", "[[u:1,u:2],[u:1,u:2]]"},
      {"anchored key gives its text", "&k key: 1\nother: *k", "{\"key\":u:1,\"other\":\"key\"}"},
      {"repeated key aliasing itself", "a: &x 1\na: *x", "{\"a\":u:1}"},
      {"alias of an alias copy", "a: &a [1]\nb: &b {x: *a}\nc: *b",
       "{\"a\":[u:1],\"b\":{\"x\":[u:1]},\"c\":{\"x\":[u:1]}}"},
      {"cyclic", "a: &m\n  b: *m",
       "error: Cannot deserialize cyclic aliases. Alias \"m\". At line: 2 col: 6"},
      {"cyclic through a sequence", "&r [1, [*r]]",
       "error: Cannot deserialize cyclic aliases. Alias \"r\". At line: 1 col: 9"},
      {"anchor replaced by an open container", "a: &x 1\na: [*x]",
       "error: Cannot deserialize cyclic aliases. Alias \"x\". At line: 2 col: 5"},
      {"undefined at the start", "*nope",
       "error: Undefined alias encountered: \"nope\". At line: 1 col: 1"},
      {"used before its anchor", "a: *x\nb: &x 1",
       "error: Undefined alias encountered: \"x\". At line: 1 col: 4"},
      {"duplicate anchor", "a: &x 1\nb: &x 2",
       "error: Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
      {"duplicate anchor on a key", "&x a: 1\n&x b: 2",
       "error: Duplicate occurrence of anchor \"x\". At line: 2 col: 1"},
  };
  RunCases(std::begin(cases), std::end(cases));
}

TEST(YamlAliases, CopiesAreIndependent) {
  BindingResult result = ParseYaml("a: &m {k: v}\nb: *m");
  ASSERT_TRUE(result.ok()) << result.ErrorText();
  result.memberAt("b").memberAt("k").setString("changed");
  EXPECT_EQ(Render(result), "{\"a\":{\"k\":\"v\"},\"b\":{\"k\":\"changed\"}}");
}

TEST(YamlAliases, AsKeysNameAScalarsText) {
  const Case cases[] = {
      {"alias of a string value", "a: &s name\n*s : 5", "{\"a\":\"name\",\"name\":u:5}"},
      {"alias of a number keeps its text", "a: &n 0x10\n*n : x", "{\"0x10\":\"x\",\"a\":u:16}"},
      {"alias of an anchored key", "&k key: 1\n? *k\n: 2", "{\"key\":u:2}"},
      {"alias of an empty key", "&e '': 1\nb: {*e : 2}", "{\"\":u:1,\"b\":{\"\":u:2}}"},
      {"alias of a mapping", "a: &m {k: v}\n*m : x",
       "error: Invalid mapping key. Alias \"m\" does not name a string scalar. At line: 2 col: 1"},
      {"alias of an int-tagged scalar", "a: &i !!int 1\n*i : x",
       "error: Invalid mapping key. Alias \"i\" does not name a string scalar. At line: 2 col: 1"},
      {"undefined alias key", "a: 1\n*u : x",
       "error: Undefined alias encountered: \"u\". At line: 2 col: 1"},
  };
  RunCases(std::begin(cases), std::end(cases));
}

// One alias per element, so the node budget is spent exactly at the last one.
std::string ScalarAliases(std::size_t count) {
  std::string yaml = "a: &a 1\nb: [";
  for (std::size_t i = 0; i < count; ++i) yaml += i == 0 ? "*a" : ",*a";
  return yaml + "]";
}

TEST(YamlAliasLimits, NodeBudgetIsExact) {
  const BindingResult atLimit = ParseYaml(ScalarAliases(kYamlMaxAliasNodes));
  ASSERT_TRUE(atLimit.ok()) << atLimit.ErrorText();
  EXPECT_EQ(atLimit.member("b").size(), kYamlMaxAliasNodes);
  const std::string over = ScalarAliases(kYamlMaxAliasNodes + 1);
  const std::string column = std::to_string(over.size() - 3 - 8 + 1);  // the last "*a"
  EXPECT_EQ(ParseToText(over),
            "error: Alias expansion is too large. Alias \"a\". At line: 2 col: " + column);
}

TEST(YamlAliasLimits, StopsExponentialExpansion) {
  // Nine levels of ten aliases each would ask for a thousand million copies.
  std::string yaml = "l0: &l0 [x]\n";
  for (int level = 1; level <= 9; ++level) {
    const std::string previous = "*l" + std::to_string(level - 1);
    yaml += "l" + std::to_string(level) + ": &l" + std::to_string(level) + " [" + previous;
    for (int i = 1; i < 10; ++i) yaml += "," + previous;
    yaml += "]\n";
  }
  const BindingResult result = ParseYaml(yaml);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.ErrorText().rfind("Alias expansion is too large. Alias \"l", 0), 0u)
      << result.ErrorText();
}

TEST(YamlAliasLimits, TextBudgetCountsCopiedBytes) {
  // A 1 MiB string inside an anchored sequence: sixteen copies fill the budget.
  const std::string big(std::size_t{1} << 20, 'x');
  std::string yaml = "s: &s [" + big + "]\nc: [*s";
  for (int i = 1; i < 16; ++i) yaml += ",*s";
  EXPECT_TRUE(ParseYaml(yaml + "]").ok());
  const std::string column = std::to_string(yaml.size() - (yaml.rfind('\n') + 1) + 2);
  EXPECT_EQ(ParseToText(yaml + ",*s]"),
            "error: Alias expansion is too large. Alias \"s\". At line: 2 col: " + column);
}

TEST(YamlDepth, NestingIsBounded) {
  const std::string deepest(kYamlMaxDepth, '[');
  const std::string closing(kYamlMaxDepth, ']');
  EXPECT_TRUE(ParseYaml(deepest + closing).ok());
  EXPECT_EQ(ParseToText(deepest + "[" + closing + "]"),
            "error: Nesting deeper than 512 levels. At line: 1 col: 513");
  // An alias copy may not take the tree past the bound either.
  const std::size_t half = kYamlMaxDepth / 2 + 1;
  const std::string yaml = "- &d " + std::string(half, '[') + std::string(half, ']') + "\n- " +
                           std::string(half, '[') + "*d" + std::string(half, ']');
  EXPECT_EQ(ParseToText(yaml),
            "error: Nesting deeper than 512 levels. At line: 2 col: " + std::to_string(3 + half));
}

TEST(YamlParserErrors, ReportTheLibrarysProblemAtItsPosition) {
  const Case cases[] = {
      {"unclosed flow sequence", "a: [1, 2",
       "error: YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0"},
      {"mapping inside a plain value", "key: value: x",
       "error: YAML parser error: mapping values are not allowed in this context. "
       "At line: 0 col: 10"},
  };
  RunCases(std::begin(cases), std::end(cases));
}

TEST(YamlUtf8, InputThatIsNotUtf8IsRefusedWhereItStops) {
  // The library's reader refuses it and names only a byte offset; the line and column are
  // counted from there, from 0 and in characters as in the library's other messages.
  const std::string refused = "error: YAML parser error: ";
  const std::string leading = refused + "invalid leading UTF-8 octet. At line: ";
  const struct {
    const char* desc;
    std::string_view yaml;
    std::string expected;
  } cases[] = {
      {"FF FE", "\xFF\xFE", leading + "0 col: 0"},
      {"in a plain value on a later line", "a: 1\nb: x\xFF", leading + "1 col: 4"},
      {"after multi-byte characters", "a: \xC3\xA9\xE2\x82\xAC\xFF", leading + "0 col: 5"},
      {"after CR LF", "a: 1\r\nb: \xFE", leading + "1 col: 3"},
      {"after a byte order mark", "\xEF\xBB\xBF" "a: \xFF", leading + "0 col: 3"},
      {"in a double-quoted value", "a: \"\xFF\"", leading + "0 col: 4"},
      {"in a key", "\xFF: 1", leading + "0 col: 0"},
      {"in a comment", "a: 1 # \xFF", leading + "0 col: 7"},
      {"stray continuation byte", "a: \x80", leading + "0 col: 3"},
      {"overlong C0 80", "a: \xC0\x80",
       refused + "invalid length of a UTF-8 sequence. At line: 0 col: 3"},
      {"overlong E0 80 80", "a: \xE0\x80\x80",
       refused + "invalid length of a UTF-8 sequence. At line: 0 col: 3"},
      {"overlong F0 80 80 80", "a: \xF0\x80\x80\x80",
       refused + "invalid length of a UTF-8 sequence. At line: 0 col: 3"},
      {"surrogate ED A0 80", "a: \xED\xA0\x80",
       refused + "invalid Unicode character. At line: 0 col: 3"},
      {"above U+10FFFF", "a: \xF4\x90\x80\x80",
       refused + "invalid Unicode character. At line: 0 col: 3"},
      {"cut short by the end", "a: \xE2\x82",
       refused + "incomplete UTF-8 octet sequence. At line: 0 col: 3"},
      // The library names the byte that breaks the sequence.
      {"cut short by a blank", "a: \xE2\x82 b",
       refused + "invalid trailing UTF-8 octet. At line: 0 col: 4"},
      {"control character", "a: 1\nb: \x01",
       refused + "control characters are not allowed. At line: 1 col: 3"},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseToText(c.yaml), c.expected) << c.desc;
}

TEST(YamlUtf8, EscapesYieldUtf8OrAreRefused) {
  const Case cases[] = {
      {"\\x names a code point, not a byte", "\"\\xFF\"", "\"\xC3\xBF\""},
      {"largest code point", "\"\\U0010FFFF\"", "\"\xF4\x8F\xBF\xBF\""},
      {"last before the surrogates", "\"\\uD7FF\"", "\"\xED\x9F\xBF\""},
      {"high surrogate", "a: \"\\uD800\"",
       "error: YAML parser error: found invalid Unicode character escape code. At line: 0 col: 6"},
      {"low surrogate", "a: \"\\uDC00\"",
       "error: YAML parser error: found invalid Unicode character escape code. At line: 0 col: 6"},
      {"above U+10FFFF", "a: \"\\U00110000\"",
       "error: YAML parser error: found invalid Unicode character escape code. At line: 0 col: 6"},
      {"YAML has no escaped surrogate pairs", "\"\\uD83D\\uDE00\"",
       "error: YAML parser error: found invalid Unicode character escape code. At line: 0 col: 3"},
  };
  RunCases(std::begin(cases), std::end(cases));
}

TEST(YamlUtf8, TagsThatAreNotUtf8AreRefused) {
  // The library decodes a tag's %-escapes but checks only the shape of the sequences; the rest of
  // the check is reported in the library's form, at the node that carries the tag.
  const Case cases[] = {
      {"overlong in a tag's suffix", "a: !x%C0%80 v",
       "error: YAML parser error: found a tag that is not valid UTF-8. At line: 0 col: 3"},
      {"surrogate in a verbatim tag", "a: !<%ED%A0%80> v",
       "error: YAML parser error: found a tag that is not valid UTF-8. At line: 0 col: 3"},
      {"on a mapping", "!x%C0%80 {a: 1}",
       "error: YAML parser error: found a tag that is not valid UTF-8. At line: 0 col: 0"},
      {"on a sequence", "a:\n  - 1\n  - !x%F4%90%80%80 [2]",
       "error: YAML parser error: found a tag that is not valid UTF-8. At line: 2 col: 4"},
      {"on a key", "? !x%C0%80 k\n: v",
       "error: YAML parser error: found a tag that is not valid UTF-8. At line: 0 col: 2"},
      {"from a directive's prefix", "%TAG !e! tag:%C0%80,2000:\n---\n!e!x v",
       "error: YAML parser error: found a tag that is not valid UTF-8. At line: 2 col: 0"},
      {"not even the shape of UTF-8", "a: !x%FF v",
       "error: YAML parser error: found an incorrect leading UTF-8 octet. At line: 0 col: 5"},
      {"well-formed escapes name the tag", "a: !x%C3%A9 v",
       "error: Unsupported YAML tag '!x\xC3\xA9'."},
  };
  RunCases(std::begin(cases), std::end(cases));
}

TEST(YamlParserErrors, MalformedInputFailsCleanly) {
  const std::string_view inputs[] = {
      "\xff\xfe",
      "a: \xc3",
      std::string_view("a: \0", 4),
      "'unterminated",
      "{a: 1",
      "- a\nb: c",
      "*",
      "&",
      "a: &",
      "[1, *]",
      "!<> x",
      "%YAML 9.9\n--- x",
      "\ta: 1",
      "? ?",
      "{]",
      ": : :",
      "a: 'x'y",
      "&a &b x",
  };
  for (const std::string_view input : inputs) {
    const BindingResult result = ParseYaml(input);
    EXPECT_FALSE(result.ok()) << "input: " << input;
    EXPECT_FALSE(result.ErrorText().empty()) << "input: " << input;
  }
}

TEST(YamlLooksLike, NeedsTheDocumentMarker) {
  struct LooksCase {
    std::string_view text;
    bool expected;
  };
  const LooksCase cases[] = {
      {"---", true}, {"   ---\na: 1", true}, {"--- x", true}, {"\t---", false}, {"--", false},
      {"", false},   {"a: 1", false},        {"   ", false},
  };
  for (const LooksCase& c : cases) EXPECT_EQ(LooksLikeYaml(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace vyn::formats
