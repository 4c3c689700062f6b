// The shared library driven through the host boundary as a host drives it: loading, version
// negotiation, initialisation with its subscriptions, unloading, the memory counters, the API
// description, and request bodies in every format bound to the endpoints, with exact messages.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "boundary/ScriptedFeature.h"
#include "diagnostics/FormatText.h"
#include "support/SharedLibrary.h"

namespace vyn::test {
namespace {

using diagnostics::FormatText;

TEST(PluginLifecycle, LoadCyclesNegotiateSubscribeUnsubscribeAndGiveBackWhatTheyTook) {
  const std::vector<std::string> subscriptions = {
      "OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent",
      "OnJsonApiEvent_vyn-login_v1_session", "OnJsonApiEvent_vyn-end-of-game_v1_eog-stats-block",
      "OnJsonApiEvent_vyn-gameflow_v1_session"};
  for (int round = 0; round < 2; ++round) {  // the second after the library was closed
    {
      PluginLibrary library(VYN_PLUGIN_PATH);
      ASSERT_TRUE(library.ok()) << library.error();
      // Live blocks once loaded, live blocks and bytes once initialised.
      std::array<uint64_t, 3> first{};
      for (uint32_t cycle = 0; cycle < 22; ++cycle) {
        SCOPED_TRACE(FormatText("round %1, cycle %2", round, cycle));
        FakeHost host;
        // A newer minor and patch are compatible; the plugin answers with its own version.
        LoadedPlugin plugin(library, 18, cycle % 2 * 3, cycle % 2);
        ASSERT_TRUE(plugin.loaded());
        const PluginLoadBlock block = plugin.block();  // packed: copied out
        EXPECT_EQ(FormatText("%1.%2.%3 %4", block.major, block.minor, block.patch,
                             Text(block.shortName)),
                  "18.0.0 vyn-pft");
        ASSERT_NE(Read(block.callbacks), nullptr);
        const uint64_t loaded = plugin.LiveBlocks();
        ASSERT_TRUE(plugin.Initialize(host));
        EXPECT_EQ(host.subscribeCalls, subscriptions);
        const std::array<uint64_t, 3> now{loaded, plugin.LiveBlocks(), plugin.LiveBytes()};
        EXPECT_GE(plugin.Counter(0), plugin.LiveBytes()) << "the peak covers what is alive";
        plugin.Unload();
        EXPECT_EQ(host.unsubscribeCalls.size(), subscriptions.size());
        EXPECT_TRUE(host.subscriptions.empty()) << testing::PrintToString(host.unsubscribeCalls);
        // The first cycle may leave process-wide caches behind (the log manager); from then on
        // every cycle must give back exactly the blocks it took. Byte counts are the heap's
        // usable sizes, which vary a little with where a block lands: they may only wobble.
        if (cycle == 1) first = now;
        if (cycle < 2) continue;
        EXPECT_EQ(now[0], first[0]);
        EXPECT_EQ(now[1], first[1]);
        EXPECT_LE(now[2], first[2] + 512);
      }
    }
    // Nothing of the library may pin it (unique symbols, thread-exit destructors).
    EXPECT_FALSE(IsSharedLibraryMapped(VYN_PLUGIN_PATH));
  }
}

TEST(PluginLifecycleDeathTest, RefusesIncompatibleHostsByEndingTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const auto& [major, minor] : {std::array<uint32_t, 2>{17, 9}, {19, 0}}) {
    EXPECT_EXIT(
        {
          PluginLibrary library(VYN_PLUGIN_PATH);
          LoadedPlugin plugin(library, major, minor, minor);
        },
        EndedByAbort, "ALE-EECF0606")
        << "major " << major;
  }
}

// No siblings: a handler that is reached stops at the missing backend configuration.
class EndpointTest : public ScriptedFeature {
 protected:
  void SetUp() override { ASSERT_TRUE(ok()) << error(); }
};

TEST_F(EndpointTest, DescriptionHoldsEveryCountedRecordAndTheEndpointsInRegistrationOrder) {
  const ApiDescription& api = *plugin().block().api;
  EXPECT_EQ(ListChain<HostTypeRecord>(api.types).size(), Read(api.typeCount));
  EXPECT_EQ(ListChain<HostEventRecord>(api.events).size(), Read(api.eventCount));
  std::vector<std::string> endpoints;
  for (const EndpointDescriptor& d : ListEndpoints(api)) {
    endpoints.push_back(FormatText("%1 %2 %3 %4", Text(d.function.name), Read(d.methodCode),
                                   Text(d.pathTemplate), ListLocations(d).size()));
  }
  EXPECT_EQ(endpoints.size(), Read(api.endpointCount));
  EXPECT_EQ(endpoints, (std::vector<std::string>{"GetVynPftV2Survey 2 /vyn-pft/v2/survey 0",
                                                 "PostVynPftV2Survey 6 /vyn-pft/v2/survey 1",
                                                 "PostVynPftV2Events 6 /vyn-pft/v2/events 1"}));
}

TEST_F(EndpointTest, BodiesInEveryFormatReachTheHandlerAndBindingFailuresAnswerExactly) {
  const std::string survey = "PostVynPftV2Survey", events = "PostVynPftV2Events";
  const char *json = "application/json", *yaml = "application/x-yaml";
  struct Case { const char* desc; std::string query, function, contentType, body, outcome; };
  const Case cases[] = {
      {"survey as JSON", "", survey, json, R"({"id":7,"title":"t","data":{"url":"u"}})", "ok"},
      {"survey as MessagePack", "", survey, "application/x-msgpack",
       "\x83\xA2id\x07\xA5title\xA1t\xA4" "data\x81\xA3url\xA1u", "ok"},
      {"survey as YAML", "", survey, yaml, "id: 7\ntitle: t\ndata:\n  url: u\n", "ok"},
      {"event as YAML", "", events, yaml, "playerSurveyId: 7\naction: close\ndata: []\n",
       "404 BackendURL missing from platform configuration, plugin disabled."},
      {"body argument in the query", "?survey=1", survey, "", "",
       "0 Argument 'survey' for 'PostVynPftV2Survey' was specified in an invalid location."},
      {"no body", "", survey, "", "", "0 A value for 'survey' is required."},
      {"body that is no structure", "", survey, json, "[1]",
       "0 Couldn't assign value to 'survey' of type VynPftPFTSurvey because the input not a "
       "structure."},
      {"member of the wrong type", "", survey, json, R"({"id":"x"})",
       "0 Value x for 'id' of type uint64 is in an incorrect format"},
      {"survey data that is no structure", "", survey, json, R"({"data":[1]})",
       "0 Couldn't assign value to 'data' of type map because the input not a structure."},
      {"event data that is no list", "", events, json, R"({"data":5})",
       "0 Couldn't assign value to 'data' of type vector because the input not a collection."},
  };
  for (const Case& c : cases) {
    const std::string path = c.function == survey ? "/vyn-pft/v2/survey" : "/vyn-pft/v2/events";
    RequestBuilder request(6, path + c.query);
    if (!c.body.empty()) request.Body(c.contentType, c.body);
    EXPECT_EQ(Call(c.function, request), c.outcome) << c.desc;
  }
  // Each posted survey was published once, on its own path (not on v1) and under the base name.
  ASSERT_EQ(host.sentEvents.size(), 6u);
  for (std::size_t i = 0; i < 6; i += 2) {
    EXPECT_EQ(host.sentEvents[i].name, "OnJsonApiEvent_vyn-pft_v2_survey");
    EXPECT_EQ(host.sentEvents[i + 1].name, "OnJsonApiEvent");
    EXPECT_EQ(host.sentEvents[i].payload.Member("data")->Member("id")->unsignedValue, 7u);
  }
  EXPECT_TRUE(host.externalRequests.empty());
}

}  // namespace
}  // namespace vyn::test
