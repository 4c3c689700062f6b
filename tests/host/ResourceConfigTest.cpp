// The host's configuration file: YAML and JSON, scalar resolution, and the reasons for refusing
// a file.
#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "host/ResourceConfig.h"

namespace vyn::host {
namespace {

std::string Json(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return buffer.GetString();
}

TEST(ResourceConfigParse, ResolvesYamlScalarsAndStructures) {
  struct Case {
    const char* desc;
    const char* yaml;
    const char* json;  // the value of "/r"
  };
  const Case cases[] = {
      {"plain text", "/r: http://127.0.0.1:9/x", R"("http://127.0.0.1:9/x")"},
      {"quoted number stays text", "/r: '42'", R"("42")"},
      {"decimal", "/r: 42", "42"},
      {"negative", "/r: -7", "-7"},
      {"hexadecimal", "/r: 0x1F", "31"},
      {"octal", "/r: 0o17", "15"},
      {"beyond 64 bits becomes a float", "/r: 18446744073709551616", "18446744073709553000.0"},
      {"float", "/r: 2.5e3", "2500.0"},
      {"booleans", "/r: [true, False, TRUE]", "[true,false,true]"},
      {"nulls", "/r: [~, null, Null]", "[null,null,null]"},
      {"yes is text", "/r: yes", R"("yes")"},
      {"version-like text", "/r: 1.2.3", R"("1.2.3")"},
      {"block scalar", "/r: |\n  line one\n  line two\n", R"("line one\nline two\n")"},
      {"mapping in document order", "/r:\n  b: 1\n  a: [x, {c: d}]\n",
       R"({"b":1,"a":["x",{"c":"d"}]})"},
      {"anchor and alias", "/s: &base {region: NA}\n/r: [*base, *base]\n",
       R"([{"region":"NA"},{"region":"NA"}])"},
      {"empty value", "/r:\n", "null"},
      {"only the first document", "/r: 1\n---\n/r: 2\n", "1"},
  };
  for (const Case& c : cases) {
    ResourceValues values;
    std::string error;
    ASSERT_TRUE(ParseResourceConfig(c.yaml, values, error)) << c.desc << ": " << error;
    ASSERT_EQ(values.count("/r"), 1u) << c.desc;
    EXPECT_EQ(Json(values.at("/r")), c.json) << c.desc;
  }
}

TEST(ResourceConfigParse, ReadsJsonWhenTheTextStartsWithABrace) {
  ResourceValues values;
  std::string error;
  ASSERT_TRUE(ParseResourceConfig("  {\"/a\": {\"x\": [1, -2, 1.5, \"0x10\"]}, \"/b\": \"text\"}",
                                  values, error))
      << error;
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(Json(values.at("/a")), R"({"x":[1,-2,1.5,"0x10"]})");
  EXPECT_EQ(Json(values.at("/b")), R"("text")");
}

TEST(ResourceConfigParse, RefusesWithTheReasonAndPlace) {
  struct Case {
    const char* desc;
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"a list at the top", "- /a\n",
       "the top level is not a mapping from resource paths to values"},
      {"an empty file", "", "the top level is not a mapping from resource paths to values"},
      {"a key without a slash", "a: 1\n", "the key 'a' is not a path starting with '/'"},
      {"a key twice", "/a: 1\n/a: 2\n", "the key '/a' appears twice at line 2, column 5"},
      {"a mapping as a key", "? {a: 1}\n: 2\n",
       "only scalar keys are supported at line 1, column 3"},
      {"an unknown alias", "/a: *nothing\n", "unknown alias 'nothing' at line 1, column 5"},
      {"broken YAML", "/a: [1, 2\n", "did not find expected ',' or ']' at line 2, column 1"},
      {"broken JSON", "{\"/a\": 1,\n \"/b\" 2}",
       "Missing a colon after a name of object member. at line 2, column 7"},
      {"JSON with trailing text", "{\"/a\": 1} x",
       "The document root must not be followed by other values. at line 1, column 11"},
  };
  for (const Case& c : cases) {
    ResourceValues values;
    values["/kept"];
    std::string error;
    EXPECT_FALSE(ParseResourceConfig(c.text, values, error)) << c.desc;
    EXPECT_EQ(error, c.error) << c.desc;
    EXPECT_EQ(values.count("/kept"), 1u) << c.desc << ": a refused file changes nothing";
  }
}

TEST(ResourceConfigParse, RefusesAliasesThatExpandWithoutBound) {
  // Each level doubles the one before: 2^25 values from a few hundred bytes.
  std::string yaml = "/a0: &a0 [x, x]\n";
  for (int i = 1; i <= 25; ++i) {
    yaml += "/a" + std::to_string(i) + ": &a" + std::to_string(i) + " [*a" + std::to_string(i - 1) +
            ", *a" + std::to_string(i - 1) + "]\n";
  }
  ResourceValues values;
  std::string error;
  EXPECT_FALSE(ParseResourceConfig(yaml, values, error));
  EXPECT_NE(error.find("the file expands to more than 100000 values"), std::string::npos) << error;
}

TEST(ResourceConfigParse, RefusesNestingDeeperThanTheHostHandsOver) {
  const std::string deep = "/a: " + std::string(300, '[') + std::string(300, ']') + "\n";
  ResourceValues values;
  std::string error;
  EXPECT_FALSE(ParseResourceConfig(deep, values, error));
  EXPECT_NE(error.find("nested more than 256 levels deep"), std::string::npos) << error;
}

TEST(ResourceConfigLoad, NamesTheFileInItsReason) {
  ResourceValues values;
  std::string error;
  EXPECT_FALSE(LoadResourceConfig("/nonexistent/vyn/resources.yaml", values, error));
  EXPECT_EQ(error, "/nonexistent/vyn/resources.yaml: cannot be opened");
}

}  // namespace
}  // namespace vyn::host
