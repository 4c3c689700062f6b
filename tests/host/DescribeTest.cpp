// vyn-host describe on the fake plugin: the endpoints with their arguments, the types with
// their fields and enumerators, and the events, as JSON and as text.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <string>

#include "HostProcess.h"

namespace vyn::test {
namespace {

TEST(DescribeCommand, JsonListsEndpointsTypesAndEvents) {
  std::string out;
  std::string err;
  ASSERT_EQ(RunHost({"describe", VYN_FAKE_PLUGIN_PATH, "--json"}, out, err), 0) << err;
  rapidjson::Document doc;
  doc.Parse(out.c_str());
  ASSERT_FALSE(doc.HasParseError()) << out;

  EXPECT_STREQ(doc["plugin"]["shortName"].GetString(), "fake");
  EXPECT_STREQ(doc["plugin"]["apiVersion"].GetString(), "18.0.0");
  EXPECT_TRUE(doc["plugin"]["ready"].GetBool());
  EXPECT_TRUE(doc["warnings"].Empty());

  const auto& endpoints = doc["endpoints"];
  ASSERT_EQ(endpoints.Size(), 4u);
  const char* const expected[][3] = {{"GET", "/fake/v1/state", "GetFakeV1State"},
                                     {"POST", "/fake/v1/publish", "PostFakeV1Publish"},
                                     {"POST", "/fake/v1/fetch", "PostFakeV1Fetch"},
                                     {"POST", "/fake/v1/lookup", "PostFakeV1Lookup"}};
  for (rapidjson::SizeType i = 0; i < 4; ++i) {
    EXPECT_STREQ(endpoints[i]["method"].GetString(), expected[i][0]) << i;
    EXPECT_STREQ(endpoints[i]["path"].GetString(), expected[i][1]) << i;
    EXPECT_STREQ(endpoints[i]["function"].GetString(), expected[i][2]) << i;
    EXPECT_EQ(endpoints[i]["tags"].Size(), 2u) << i;
  }
  const auto& arguments = endpoints[2]["arguments"];
  ASSERT_EQ(arguments.Size(), 1u);
  EXPECT_STREQ(arguments[0]["name"].GetString(), "url");
  EXPECT_STREQ(arguments[0]["type"].GetString(), "string");
  EXPECT_STREQ(arguments[0]["location"].GetString(), "body");

  const auto& types = doc["types"];
  ASSERT_EQ(types.Size(), 2u);
  EXPECT_STREQ(types[0]["kind"].GetString(), "record");
  EXPECT_EQ(types[0]["size"].GetUint(), 32u);
  ASSERT_EQ(types[0]["fields"].Size(), 2u);
  EXPECT_STREQ(types[0]["fields"][0]["display"].GetString(), "uint32");
  EXPECT_STREQ(types[0]["fields"][1]["display"].GetString(), "vector<FakeColor>");
  EXPECT_TRUE(types[0]["fields"][1]["optional"].GetBool());
  EXPECT_STREQ(types[1]["kind"].GetString(), "enumeration");
  ASSERT_EQ(types[1]["enumerators"].Size(), 2u);
  EXPECT_STREQ(types[1]["enumerators"][1]["name"].GetString(), "Red");
  EXPECT_EQ(types[1]["enumerators"][1]["number"].GetInt(), -1) << "numbers are signed";

  ASSERT_EQ(doc["events"].Size(), 1u);
  EXPECT_STREQ(doc["events"][0]["payloadType"].GetString(), "PluginResourceEvent");
}

TEST(DescribeCommand, TextShowsEachEndpointWithItsArguments) {
  std::string out;
  std::string err;
  ASSERT_EQ(RunHost({"describe", VYN_FAKE_PLUGIN_PATH}, out, err), 0) << err;
  const char* const lines[] = {
      "plugin: fake\n",
      "initialized: ready\n",
      "endpoints: 4\n",
      "  POST /fake/v1/fetch -> PostFakeV1Fetch\n      url: string (body)\n      returns nothing\n",
      "  FakeColor (enumeration, 4 bytes)\n      Blue = 7\n      Red = -1\n",
      "      colors: vector<FakeColor> (optional)\n",
      "events: 1\n  OnJsonApiEvent (payload PluginResourceEvent): Fired when a resource is "
      "changed.\n",
  };
  for (const char* line : lines) EXPECT_NE(out.find(line), std::string::npos) << line << out;
}

}  // namespace
}  // namespace vyn::test
