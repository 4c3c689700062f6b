// The YAML reader: scalar typing, trees, keys, anchors and aliases with their limits, errors with
// their positions, and text that is not UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "ValueText.h"
#include "formats/Yaml.h"
#include "formats/YamlScalar.h"

namespace vyn::formats {
namespace {

// Each YAML text with its value's text, or "error: " and the message.
void ExpectAll(std::initializer_list<std::pair<std::string_view, std::string>> cases) {
  for (const auto& [yaml, expected] : cases) EXPECT_EQ(Shown(ParseYaml(yaml)), expected) << yaml;
}

TEST(YamlScalars, TypedByTheirTextOrTheirTag) {
  const std::string value = "error: Value ", format = " is in an incorrect format";
  ExpectAll({
      {"[42, -42, .5, 1e3, 0X2000000000001B, 0x1p3, 010, 1.0, -0, +5, 9007199254740993]",
       "[u42,s-42,f0.5,u1000,u9007199254741019,u8,u10,u1,u0,u5,u9007199254740993]"},
      {"[yes, False, tRUE, ~, null, inf, nan, 1_000, '42', '', \"\", 1e400]",
       "[true,false,\"tRUE\",~,~,\"inf\",\"nan\",\"1_000\",\"42\",\"\",\"\",\"1e400\"]"},
      {"[18446744073709551615, -9223372036854775808, 18446744073709551616, -9223372036854775809]",
       "[u18446744073709551615,s-9223372036854775808,f1.8446744073709552e+19,"
       "f-9.2233720368547758e+18]"},
      {"[1e30, -1e30, 0x10000000000000000]", "[f1e+30,f-1e+30,f1.8446744073709552e+19]"},
      {"|-\n  42", "u42"},
      {"[!!str 42, !!int 42, !!int -42, !!int 010, !!int 0x10, !!int '', !!float 2, "
       "!!float 0x1p-1, !!float nan, !!bool Yes, !!bool maybe, !!set {a: 1}]",
       "[\"42\",u42,s-42,u8,u16,u0,f2,f0.5,fnan,true,~,{a:u1}]"},
      {"!!int abc", value + "abc for 'yaml' of type uint64_t" + format},
      {"!!int -9223372036854775809",
       value + "-9223372036854775809 for 'yaml' of type int64_t is out of range"},
      {"!!float 1.5x", value + "1.5x for 'yaml' of type double" + format},
  });
}

TEST(YamlScalars, ResolvingDoesNothingAfterAFailureAndReadsOnlyTheLength) {
  binding::BindingResult result;
  binding::BindingProperty slot;
  ResolveYamlScalar(result, slot, "tag:yaml.org,2002:int", "x", 1, false);
  ResolveYamlScalar(result, slot, "!", "12", 1, false);
  EXPECT_EQ(result.ErrorText(), "Value x for 'yaml' of type uint64_t is in an incorrect format");
  EXPECT_EQ(Shown(ParseYaml(std::string_view("a: 1234", 4))), "{a:u1}") << "only the length";
}

TEST(YamlTrees, BuildCollectionsAndStructuresWithStringKeys) {
  const std::string mapping = "error: Unexpected start of mapping. At line: ";
  ExpectAll({
      {"- a\n- y\n- {b: [1, {c: ~}], a: true}\n- x:\n  z: 2",
       "[\"a\",true,{a:true,b:[u1,{c:~}]},{x:~,z:u2}]"},
      {"123: a\n~: b\ntrue: c\n!!str 1: d", "{1:\"d\",123:\"a\",true:\"c\",~:\"b\"}"},
      {"a: 1\na: 2\nm: {x: 1}\nm: {y: b}\ns: {x: 1}\ns: [1]", "{a:u2,m:{y:\"b\"},s:[u1]}"},
      {"\"\": 1\n? \n: 2\n'':\n  k: v\nb: {'': x, y: z}\nc: ''",
       "{:{k:\"v\"},b:{:\"x\",y:\"z\"},c:\"\"}"},
      {"--- ~\n---\na: 1", "{a:u1}"},
      {"a: 1\n---\nb: 2", "error: Multi-document YAML is not supported."},
      {"? - a\n: b", "error: Unexpected start of sequence. At line: 1 col: 3"},
      {"x: 1\n? {a: 1}\n: x", mapping + "2 col: 3"},
      {"a: 1\n!!int 2: x",
       "error: Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
      {"a: [1, 2", "error: YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0"},
  });
  for (const char* empty : {"", "  \n# nothing\n", "---"}) EXPECT_EQ(Shown(ParseYaml(empty)), "~");
  // Keys that share their first eight bytes stay apart, also where the lengths of these two meet
  // in the names the reader keeps at hand.
  const std::string longer = "question" + std::string(67, 'x'), shorter = "questionxxxxxxxx";
  EXPECT_EQ(Shown(ParseYaml(longer + ": 1\n" + shorter + ": 2")),
            "{" + shorter + ":u2," + longer + ":u1}");
}

TEST(YamlAliases, CopyAnchoredNodesAndRefuseCyclesAndUnknownNames) {
  const std::string cyclic = "error: Cannot deserialize cyclic aliases. Alias ";
  const std::string invalidKey = "error: Invalid mapping key. Alias ";
  ExpectAll({
      {"a: &m {k: v}\nb: *m\nc: &x 42\nd: *x\ne: &s [1, 2]\nf: [*s, *x]",
       "{a:{k:\"v\"},b:{k:\"v\"},c:u42,d:u42,e:[u1,u2],f:[[u1,u2],u42]}"},
      {"&k key: 1\nother: *k\n? *k\n: 2", "{key:u2,other:\"key\"}"},
      {"a: &x 1\na: *x", "{a:u1}"},
      {"a: &a [1]\nb: &b {x: *a}\nc: *b", "{a:[u1],b:{x:[u1]},c:{x:[u1]}}"},
      {"l:\n- {a: 1}\n- {b: &p {q: [1, &z 2]}, c: *z}\n- *p",
       "{l:[{a:u1},{b:{q:[u1,u2]},c:u2},{q:[u1,u2]}]}"},
      {"a: &s name\n*s : 5\nb: &n 0x10\n*n : x", "{0x10:\"x\",a:\"name\",b:u16,name:u5}"},
      {"a: &m\n  b: *m", cyclic + "\"m\". At line: 2 col: 6"},
      {"&r [1, [*r]]", cyclic + "\"r\". At line: 1 col: 9"},
      {"a: &x 1\na: [*x]", cyclic + "\"x\". At line: 2 col: 5"},
      {"a: *x\nb: &x 1", "error: Undefined alias encountered: \"x\". At line: 1 col: 4"},
      {"a: &x 1\nb: &x 2", "error: Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
      {"a: &m {k: v}\n*m : x",
       invalidKey + "\"m\" does not name a string scalar. At line: 2 col: 1"},
  });
  binding::BindingResult result = ParseYaml("a: &m {k: v}\nb: *m");
  result.memberAt("b").memberAt("k").setString("changed");
  EXPECT_EQ(Shown(result), "{a:{k:\"v\"},b:{k:\"changed\"}}") << "copies are independent";
}

TEST(YamlAliases, ExpansionAndNestingAreBounded) {
  const std::string tooLarge = "error: Alias expansion is too large. Alias ";
  // One alias per element, so that the node budget is spent exactly at the last one.
  std::string nodes = "a: &a 1\nb: [*a";
  for (std::size_t i = 1; i < kYamlMaxAliasNodes; ++i) nodes += ",*a";
  EXPECT_TRUE(ParseYaml(nodes + "]").ok());
  EXPECT_EQ(Shown(ParseYaml(nodes + ",*a]")),
            tooLarge + "\"a\". At line: 2 col: " + std::to_string(nodes.size() - 8 + 2));
  // Half a MiB of member name and half of string in the member's value, inside an anchored
  // sequence: sixteen copies fill the byte budget. A name that long must be an explicit key.
  const std::string halfMiB(std::size_t{1} << 19, 'x');
  std::string bytes = "s: &s [{? " + halfMiB + " : [" + halfMiB + "]}]\nc: [*s";
  for (int i = 1; i < 16; ++i) bytes += ",*s";
  EXPECT_TRUE(ParseYaml(bytes + "]").ok());
  const std::size_t column = bytes.size() - (bytes.rfind('\n') + 1) + 2;
  EXPECT_EQ(Shown(ParseYaml(bytes + ",*s]")),
            tooLarge + "\"s\". At line: 2 col: " + std::to_string(column));

  const std::string deepest(kYamlMaxDepth, '['), closing(kYamlMaxDepth, ']');
  EXPECT_TRUE(ParseYaml(deepest + closing).ok());
  EXPECT_EQ(Shown(ParseYaml(deepest + "[" + closing + "]")),
            "error: Nesting deeper than 512 levels. At line: 1 col: 513");
  // An alias copy may not take the tree past the bound either; the copied node nests sequences
  // and mappings in turn, and each level counts.
  const std::string half = std::string(kYamlMaxDepth / 2 + 1, '[');
  const std::string shut(half.size(), ']');
  std::string mixed, mixedShut;
  for (std::size_t level = 0; level < half.size(); ++level) {
    mixed += level % 2 == 0 ? "[" : "{a: ";
    mixedShut.insert(0, level % 2 == 0 ? "]" : "}");
  }
  EXPECT_EQ(
      Shown(ParseYaml("- &d " + mixed + mixedShut + "\n- " + half + "*d" + shut)),
      "error: Nesting deeper than 512 levels. At line: 2 col: " + std::to_string(3 + half.size()));
}

TEST(YamlUtf8, TextThatIsNotUtf8IsRefusedWhereItStops) {
  // The library's reader names only a byte offset; the line and the column are counted from there,
  // from 0 and in characters as in the library's other messages.
  const std::string refused = "error: YAML parser error: ";
  const std::string leading = refused + "invalid leading UTF-8 octet. At line: ";
  const std::string tag = refused + "found a tag that is not valid UTF-8. At line: ";
  ExpectAll({
      {"\xFF\xFE", leading + "0 col: 0"},
      {"a: 1\nb: x\xFF", leading + "1 col: 4"},
      {"a: \xC3\xA9\xE2\x82\xAC\xFF", leading + "0 col: 5"},
      {"a: 1\r\nb: \xFE", leading + "1 col: 3"},
      {"a\xE2\x80\xA8\xC3\xA9\xC2\x85\xE2\x80\xA9\x62\xFF", leading + "3 col: 1"},
      {"\xEF\xBB\xBF\x61: \xFF", leading + "0 col: 3"},
      // The library checks only the shape of a tag's %-escapes; the rest is checked at the node.
      {"a: !x%C0%80 v", tag + "0 col: 3"},
      {"a:\n  - 1\n  - !x%F4%90%80%80 [2]", tag + "2 col: 4"},
      {"a: !x%C3%A9 v", "error: Unsupported YAML tag '!x\xC3\xA9'."},
  });
}

TEST(YamlLooksLikeYaml, NeedsTheDocumentMarkerAfterBlanks) {
  for (const char* yes : {"---", "   ---\na: 1", "--- x"}) EXPECT_TRUE(LooksLikeYaml(yes)) << yes;
  for (const char* no : {"\t---", "--", "", "a: 1", "   "}) EXPECT_FALSE(LooksLikeYaml(no)) << no;
}

}  // namespace
}  // namespace vyn::formats
