// The host's configuration file: YAML and JSON, scalar resolution, and the reasons for refusing
// a file.
#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "host/ResourceConfig.h"

namespace vyn::host {
namespace {

TEST(ResourceConfigParse, ResolvesYamlScalarsAndStructuresOrJson) {
  const std::pair<const char*, const char*> cases[] = {
      {"/r: ['42', 42, -7, 0x1F, 0o17, 2.5e3]", R"(["42",42,-7,31,15,2500.0])"},
      {"/r: 18446744073709551616", "18446744073709553000.0"},  // beyond 64 bits: a float
      {"/r: [true, False, TRUE, ~, null, Null, yes, 1.2.3]",
       R"([true,false,true,null,null,null,"yes","1.2.3"])"},
      {"/r: |\n  line one\n  line two\n", R"("line one\nline two\n")"},
      {"/r:\n  b: 1\n  a: [x, {c: d}]\n", R"({"b":1,"a":["x",{"c":"d"}]})"},
      {"/s: &base {region: NA}\n/r: [*base, *base]\n", R"([{"region":"NA"},{"region":"NA"}])"},
      {"/r:\n", "null"},
      {"/r: 1\n---\n/r: 2\n", "1"},  // only the first document
      {R"(  {"/r": {"x": [1, -2, 1.5, "0x10"]}, "/b": "text"})", R"({"x":[1,-2,1.5,"0x10"]})"},
  };
  for (const char* nothing : {"", "# only a comment\n"}) {
    ResourceValues values;
    values["/old"];
    std::string error;
    EXPECT_TRUE(ParseResourceConfig(nothing, values, error)) << error;
    EXPECT_TRUE(values.empty()) << "a file without a document gives no resources";
  }
  for (const auto& [text, json] : cases) {
    ResourceValues values;
    std::string error;
    ASSERT_TRUE(ParseResourceConfig(text, values, error)) << text << ": " << error;
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    values["/r"].Accept(writer);
    EXPECT_EQ(buffer.GetString(), std::string(json)) << text;
  }
}

TEST(ResourceConfigParse, RefusesWithTheReasonAndPlaceAndChangesNothing) {
  std::string bomb = "/a0: &a0 [x, x]\n";  // each level doubles the one before: 2^25 values
  for (int i = 1; i <= 25; ++i) {
    const std::string n = std::to_string(i), before = std::to_string(i - 1);
    bomb += "/a" + n + ": &a" + n + " [*a" + before + ", *a" + before + "]\n";
  }
  const std::pair<std::string, std::string> cases[] = {
      {"just text\n", "the top level is not a mapping from resource paths to values"},
      {"a: 1\n", "the key 'a' is not a path starting with '/'"},
      {"/a: 1\n/a: 2\n", "the key '/a' appears twice at line 2, column 5"},
      {"? {a: 1}\n: 2\n", "only scalar keys are supported at line 1, column 3"},
      {"/a: *nothing\n", "unknown alias 'nothing' at line 1, column 5"},
      {"/a: [1, 2\n", "did not find expected ',' or ']' at line 2, column 1"},
      {"{\"/a\": 1,\n \"/b\" 2}",
       "Missing a colon after a name of object member. at line 2, column 7"},
      {"{\"/a\": 1} x",
       "The document root must not be followed by other values. at line 1, column 11"},
      {bomb, "the file expands to more than 100000 values"},
      {"/a: " + std::string(300, '[') + std::string(300, ']') + "\n",
       "the value is nested more than 256 levels deep"},
      {"{\"/a\": " + std::string(100000, '[') + std::string(100000, ']') + "}",
       "the value is nested more than 256 levels deep at line 1, column 263"},
  };
  for (const auto& [text, reason] : cases) {
    ResourceValues values;
    values["/kept"];
    std::string error;
    EXPECT_FALSE(ParseResourceConfig(text, values, error)) << reason;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
    EXPECT_EQ(values.size(), 1u) << reason << ": a refused file changes nothing";
  }
}

}  // namespace
}  // namespace vyn::host
