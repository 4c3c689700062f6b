// vyn-host describe on the fake plugin: the endpoints with their arguments, the types with
// their fields and enumerators, and the events, as JSON and as text.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <unistd.h>

#include <cstdlib>

#include "HostProcess.h"

namespace vyn::test {
namespace {

TEST(DescribeCommand, ListsEndpointsTypesAndEventsAsJsonAndAsText) {
  std::string json, text, err;
  ASSERT_EQ(RunHost({"describe", VYN_FAKE_PLUGIN_PATH, "--json"}, json, err), 0) << err;
  ASSERT_EQ(RunHost({"describe", VYN_FAKE_PLUGIN_PATH}, text, err), 0) << err;
  rapidjson::Document document;
  ASSERT_FALSE(document.Parse(json.c_str()).HasParseError()) << json;
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  document.Accept(writer);
  const std::string both = buffer.GetString() + ("\n" + text);  // the JSON made compact
  const char* const parts[] = {
      R"({"plugin":{"shortName":"fake","apiVersion":"18.0.0","ready":true},"endpoints":[)"
      R"({"method":"GET","path":"/fake/v1/state","function":"GetFakeV1State",)",
      R"({"method":"POST","path":"/fake/v1/fetch","function":"PostFakeV1Fetch","nameSpace":"",)"
      R"("description":"","arguments":[{"name":"url","type":"string","elementType":"",)"
      R"("typeName":"","display":"string","location":"body","optional":false,"description":""}],)"
      R"("returns":{"type":"","elementType":"","typeName":"","display":""},"threadSafe":false,)"
      R"("tags":["fake","test"]},{"method":"POST","path":"/fake/v1/lookup")",
      R"("types":[{"name":"FakeState","kind":"record","nameSpace":"","builtIn":false,"size":32,)",
      R"({"name":"colors","type":"vector","elementType":"enum","typeName":"FakeColor",)"
      R"("display":"vector<FakeColor>","offset":8,"optional":true,"description":""}]},)"
      R"({"name":"FakeColor","kind":"enumeration","nameSpace":"","builtIn":true,"size":4,)"
      R"("description":"","tags":["tclient"],)"
      R"("enumerators":[{"name":"Blue","number":7,"description":""},)"
      R"({"name":"Red","number":-1,"description":""}]},{"name":"PluginResourceEvent",)"
      R"("kind":"record","nameSpace":"","builtIn":true,"size":0,"description":"",)"
      R"("tags":["tclient"],"fields":[]}],"events":[{"name":"OnJsonApiEvent",)"
      R"("nameSpace":"","payloadType":"PluginResourceEvent",)",
      R"("blocksFreed":0},"warnings":[]})",
      "plugin: fake\nplugin API: host 18.0.0, plugin 18.0.0\ninitialized: ready\nendpoints: 4\n",
      "  POST /fake/v1/fetch -> PostFakeV1Fetch\n      url: string (body)\n      returns nothing\n",
      // The frame's own types are listed by name after the plugin's.
      "types: 1 of the plugin's own\n  FakeState (record, 32 bytes)\n      count: uint32\n"
      "      colors: vector<FakeColor> (optional)\n"
      "built-in types: 2, from the plugin's frame\n  FakeColor PluginResourceEvent\n",
      "events: 1\n  OnJsonApiEvent (payload PluginResourceEvent): Fired when a resource is "
      "changed.\nmemory: the plugin's own allocator, counted since the library was loaded",
      "  peak bytes                   0  the most the plugin held at one time\n",
  };
  for (const char* part : parts) EXPECT_NE(both.find(part), std::string::npos) << part << both;
}

TEST(DescribeCommand, FindsAPluginNamedWithoutADirectoryInTheCurrentOne) {
  const std::string path = VYN_FAKE_PLUGIN_PATH;
  const std::string folder = path.substr(0, path.rfind('/')),
                    name = path.substr(path.rfind('/') + 1);
  char* before = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(folder.c_str()), 0);
  std::string out, err;
  const int status = RunHost({"describe", name}, out, err);
  EXPECT_EQ(chdir(before), 0);
  std::free(before);
  EXPECT_EQ(status, 0) << err;
  EXPECT_EQ(out.rfind("plugin: fake\n", 0), 0u) << out;
}

}  // namespace
}  // namespace vyn::test
