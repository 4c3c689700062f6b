// The plugin's API description and its endpoints, driven through the shared library as a host
// drives them: the description tables, request bodies in every format, binding failures with
// their exact messages, hostile bodies, and the memory the responses take and give back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/FakeHost.h"
#include "support/HostRequests.h"

namespace vyn::test {
namespace {

constexpr uint32_t kDelete = 1;
constexpr uint32_t kGet = 2;
constexpr uint32_t kPost = 6;

class EndpointTest : public ::testing::Test {
 protected:
  EndpointTest() : library_(VYN_PLUGIN_PATH) {
    if (!library_.ok()) return;
    plugin_ = std::make_unique<LoadedPlugin>(library_);
  }

  void SetUp() override {
    ASSERT_TRUE(library_.ok()) << library_.error();
    ASSERT_TRUE(plugin_->loaded());
    ASSERT_TRUE(plugin_->Initialize(host_));
    ASSERT_NE(Read(plugin_->block().api), nullptr);
    api_ = *plugin_->block().api;
  }

  void Call(const std::string& function, RequestBuilder& request, HostResponse& response) {
    InvokeEndpoint(FindEndpoint(api_, function), request, response);
  }

  // Members go in reverse: the plugin unloads while its host still answers.
  FakeHost host_;
  PluginLibrary library_;
  std::unique_ptr<LoadedPlugin> plugin_;
  ApiDescription api_{};
};

const HostTypeRecord* FindType(const ApiDescription& api, const std::string& name) {
  for (const HostTypeRecord* at = api.types; at != nullptr; at = at->next) {
    if (Text(at->name) == name) return at;
  }
  return nullptr;
}

TEST_F(EndpointTest, DescriptionListsBuiltInAndFeatureTypesWithTheirMembers) {
  const auto types = ListChain<HostTypeRecord>(api_.types);
  EXPECT_EQ(types.size(), Read(api_.typeCount));
  for (const char* name :
       {"BindingHelpFormat", "BindingAsyncState", "BindingFullApiHelp", "BindingCallbackEvent",
        "VynPftPFTSurvey", "VynPftPFTEvent", "VynPftPFTSurveyResults", "VynPftPFTEndOfGameStats",
        "VynPftGameflowSession"}) {
    EXPECT_NE(FindType(api_, name), nullptr) << name;
  }

  const HostTypeRecord* survey = FindType(api_, "VynPftPFTSurvey");
  ASSERT_NE(survey, nullptr);
  const HostTypeRecord surveyRecord = *survey;
  EXPECT_EQ(ListTexts(surveyRecord.tags, surveyRecord.tagCount),
            (std::vector<std::string>{"Plugins", "Plugin vyn-pft"}));
  struct Member {
    const char* name;
    uint32_t code;
    uint32_t element;
    const char* typeName;
  };
  const Member surveyMembers[] = {{"id", 9, 0, ""},       {"title", 12, 0, ""},
                                  {"caption", 12, 0, ""}, {"type", 12, 0, ""},
                                  {"display", 12, 0, ""}, {"data", 19, 13, ""}};
  const auto fields = ListChain<HostFieldRecord>(surveyRecord.fields);
  ASSERT_EQ(fields.size(), std::size(surveyMembers));
  EXPECT_EQ(Read(surveyRecord.count), fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(Text(fields[i].name), surveyMembers[i].name);
    EXPECT_EQ(Read(fields[i].typeCode), surveyMembers[i].code) << surveyMembers[i].name;
    EXPECT_EQ(Read(fields[i].elementCode), surveyMembers[i].element) << surveyMembers[i].name;
    EXPECT_EQ(Text(fields[i].typeName), surveyMembers[i].typeName) << surveyMembers[i].name;
  }

  const HostTypeRecord* results = FindType(api_, "VynPftPFTSurveyResults");
  ASSERT_NE(results, nullptr);
  const auto resultFields = ListChain<HostFieldRecord>(results->fields);
  ASSERT_EQ(resultFields.size(), 2u);
  EXPECT_EQ(Read(resultFields[0].typeCode), 15u);
  EXPECT_EQ(Read(resultFields[0].elementCode), 17u);
  EXPECT_EQ(Text(resultFields[0].typeName), "VynPftPFTQuestionResponse");

  const HostTypeRecord* states = FindType(api_, "VynPftLoginSessionStates");
  ASSERT_NE(states, nullptr);
  EXPECT_EQ(Read(states->fields), nullptr);
  EXPECT_EQ(Read(states->count), 4u);
  std::vector<std::pair<std::string, int32_t>> enumerators;
  for (const auto& e : ListChain<HostEnumeratorRecord>(states->enumerators)) {
    enumerators.emplace_back(Text(e.name), Read(e.number));
  }
  EXPECT_EQ(enumerators,
            (std::vector<std::pair<std::string, int32_t>>{
                {"ERROR", 3}, {"IN_PROGRESS", 0}, {"LOGGING_OUT", 2}, {"SUCCEEDED", 1}}))
      << "enumerators come in name order";

  const auto events = ListChain<HostEventRecord>(api_.events);
  EXPECT_EQ(events.size(), Read(api_.eventCount));
  const auto callback = std::find_if(events.begin(), events.end(), [](const HostEventRecord& e) {
    return Text(e.name) == "OnCallback";
  });
  ASSERT_NE(callback, events.end());
  EXPECT_EQ(Text(callback->payloadTypeName), "BindingCallbackEvent");
}

TEST_F(EndpointTest, DescriptionListsTheThreeEndpointsInRegistrationOrder) {
  const auto endpoints = ListEndpoints(api_);
  EXPECT_EQ(endpoints.size(), Read(api_.endpointCount));
  struct Expected {
    const char* function;
    uint32_t method;
    const char* path;
    const char* argument;  // empty: none
    const char* argumentType;
    uint32_t returnCode;  // 17: a record, 0: nothing
    const char* returnType;
  };
  const Expected expected[] = {
      {"GetVynPftV2Survey", kGet, "/vyn-pft/v2/survey", "", "", 17, "VynPftPFTSurvey"},
      {"PostVynPftV2Survey", kPost, "/vyn-pft/v2/survey", "survey", "VynPftPFTSurvey", 0, ""},
      {"PostVynPftV2Events", kPost, "/vyn-pft/v2/events", "pftEvent", "VynPftPFTEvent", 0, ""},
  };
  std::size_t previous = 0;
  for (const Expected& e : expected) {
    const auto at = std::find_if(endpoints.begin(), endpoints.end(), [&](const auto& d) {
      return Text(d.function.name) == e.function;
    });
    ASSERT_NE(at, endpoints.end()) << e.function;
    const auto index = static_cast<std::size_t>(at - endpoints.begin());
    EXPECT_GE(index, previous) << e.function << " comes after the one before it";
    previous = index;
    const EndpointDescriptor& d = *at;
    EXPECT_EQ(Read(d.methodCode), e.method) << e.function;
    EXPECT_EQ(Text(d.pathTemplate), e.path) << e.function;
    EXPECT_NE(Read(d.invoke), nullptr) << e.function;
    EXPECT_NE(Read(d.function.endpointContext), nullptr) << e.function;
    EXPECT_EQ(Text(d.function.description), "") << e.function;
    EXPECT_EQ(Read(d.function.returnTypeCode), e.returnCode) << e.function;
    EXPECT_EQ(Text(d.function.returnTypeName), e.returnType) << e.function;
    EXPECT_EQ(ListTexts(d.function.tags, d.function.tagCount),
              (std::vector<std::string>{"Plugins", "Plugin vyn-pft"}))
        << e.function;
    const auto arguments = ListChain<HostArgumentRecord>(d.function.arguments);
    EXPECT_EQ(arguments.size(), Read(d.function.argumentCount)) << e.function;
    if (e.argument[0] == '\0') {
      EXPECT_TRUE(arguments.empty()) << e.function;
      EXPECT_TRUE(ListLocations(d).empty()) << e.function;
      continue;
    }
    ASSERT_EQ(arguments.size(), 1u) << e.function;
    EXPECT_EQ(Text(arguments[0].name), e.argument);
    EXPECT_EQ(Text(arguments[0].description), "");
    EXPECT_EQ(Read(arguments[0].typeCode), 17u);
    EXPECT_EQ(Text(arguments[0].typeName), e.argumentType);
    EXPECT_EQ(ListLocations(d), (std::vector<uint32_t>{5})) << "the body argument";
  }
}

// Without a backend configured, a handler that is reached answers with its own outcome: the
// survey is published (success), retrieval and uploads stop at the missing configuration.
TEST_F(EndpointTest, BodiesInEveryFormatReachTheHandler) {
  const std::vector<uint8_t> surveyMsgPack = {0x83, 0xA2, 'i',  'd', 0x07, 0xA5, 't', 'i', 't',
                                              'l',  'e',  0xA1, 't', 0xA4, 'd',  'a', 't', 'a',
                                              0x81, 0xA3, 'u',  'r', 'l',  0xA1, 'u'};
  const char* kNoBackend = "BackendURL missing from platform configuration, plugin disabled.";
  struct Case {
    const char* desc;
    uint32_t method;
    const char* path;
    const char* function;
    const char* contentType;
    std::string body;
    uint32_t status;  // 0: success
    const char* error;
  };
  const Case cases[] = {
      {"GET survey", kGet, "/vyn-pft/v2/survey", "GetVynPftV2Survey", "", "", 404, kNoBackend},
      {"survey as JSON", kPost, "/vyn-pft/v2/survey", "PostVynPftV2Survey", "application/json",
       R"({"id":7,"title":"t","data":{"url":"u"}})", 0, ""},
      {"survey as JSON with charset", kPost, "/vyn-pft/v2/survey", "PostVynPftV2Survey",
       "Application/JSON; charset=utf-8", R"({"id":7})", 0, ""},
      {"survey as MessagePack", kPost, "/vyn-pft/v2/survey", "PostVynPftV2Survey",
       "application/x-msgpack", std::string(surveyMsgPack.begin(), surveyMsgPack.end()), 0, ""},
      {"survey as YAML", kPost, "/vyn-pft/v2/survey", "PostVynPftV2Survey", "application/x-yaml",
       "id: 7\ntitle: t\ndata:\n  url: u\n", 0, ""},
      {"event as JSON", kPost, "/vyn-pft/v2/events", "PostVynPftV2Events", "application/json",
       R"({"playerSurveyId":7,"action":"submit","data":[{"questionId":1,"value":"x"}]})", 404,
       kNoBackend},
      {"event as YAML", kPost, "/vyn-pft/v2/events", "PostVynPftV2Events", "application/x-yaml",
       "playerSurveyId: 7\naction: close\ndata: []\n", 404, kNoBackend},
  };
  for (const Case& c : cases) {
    RequestBuilder request(c.method, c.path);
    if (!c.body.empty()) request.Body(c.contentType, c.body);
    HostResponse response;
    Call(c.function, request, response);
    EXPECT_EQ(response.Status(), c.status) << c.desc;
    EXPECT_EQ(response.ErrorText(), c.error) << c.desc;
    EXPECT_EQ(Read(response.Get().error.failed), c.status != 0 ? 1u : 0u) << c.desc;
  }
  // Each posted survey was published: on its own path and under the base name.
  EXPECT_EQ(host_.sentEvents.size(), 8u);
  for (std::size_t i = 0; i < host_.sentEvents.size(); i += 2) {
    EXPECT_EQ(host_.sentEvents[i].name, "OnJsonApiEvent_vyn-pft_v2_survey");
    EXPECT_EQ(host_.sentEvents[i].payload.Member("data")->Member("id")->unsignedValue, 7u);
  }
}

TEST_F(EndpointTest, BindingFailuresAnswerTheirExactMessages) {
  struct Case {
    const char* desc;
    uint32_t method;
    const char* path;
    const char* function;
    const char* contentType;
    std::string body;
    uint32_t status;
    const char* message;
  };
  const Case cases[] = {
      {"wrong method", kDelete, "/vyn-pft/v2/survey", "GetVynPftV2Survey", "", "", 404,
       "Invalid function"},
      {"path with a trailing slash", kGet, "/vyn-pft/v2/survey/", "GetVynPftV2Survey", "", "", 404,
       "Invalid function"},
      {"unknown query argument", kGet, "/vyn-pft/v2/survey?x=1", "GetVynPftV2Survey", "", "", 0,
       "Unknown argument 'x' for 'GetVynPftV2Survey'."},
      {"body argument in the query", kPost, "/vyn-pft/v2/survey?survey=1", "PostVynPftV2Survey", "",
       "", 0, "Argument 'survey' for 'PostVynPftV2Survey' was specified in an invalid location."},
      {"no body", kPost, "/vyn-pft/v2/survey", "PostVynPftV2Survey", "", "", 0,
       "A value for 'survey' is required."},
      {"body that is no structure", kPost, "/vyn-pft/v2/survey", "PostVynPftV2Survey",
       "application/json", "[1]", 0,
       "Couldn't assign value to 'survey' of type VynPftPFTSurvey because the input not a "
       "structure."},
      {"member of the wrong type", kPost, "/vyn-pft/v2/survey", "PostVynPftV2Survey",
       "application/json", R"({"id":"x"})", 0,
       "Value x for 'id' of type uint64 is in an incorrect format"},
      {"event data that is no list", kPost, "/vyn-pft/v2/events", "PostVynPftV2Events",
       "application/json", R"({"data":5})", 0,
       "Couldn't assign value to 'data' of type vector because the input not a collection."},
      {"JSON syntax error", kPost, "/vyn-pft/v2/survey", "PostVynPftV2Survey", "application/json",
       "[1,]", 0, "Error: Invalid value. at offset 3."},
      {"MessagePack with trailing bytes", kPost, "/vyn-pft/v2/survey", "PostVynPftV2Survey",
       "application/x-msgpack", std::string("\x80\x01", 2), 0,
       "Extra MessgePack data found in body"},
      {"MessagePack refused type", kPost, "/vyn-pft/v2/survey", "PostVynPftV2Survey",
       "application/x-msgpack", "\xD4\x00\x00", 0, "Invalid MessagePack data at position 1."},
      {"YAML with two documents", kPost, "/vyn-pft/v2/survey", "PostVynPftV2Survey",
       "application/x-yaml", "id: 1\n---\nid: 2\n", 0, "Multi-document YAML is not supported."},
      {"unsupported content type", kPost, "/vyn-pft/v2/survey", "PostVynPftV2Survey", "text/plain",
       "id=1", 0, "Unsupported body content type"},
  };
  for (const Case& c : cases) {
    RequestBuilder request(c.method, c.path);
    if (!c.body.empty()) request.Body(c.contentType, c.body);
    HostResponse response;
    Call(c.function, request, response);
    EXPECT_EQ(response.ErrorText(), c.message) << c.desc;
    EXPECT_EQ(response.Status(), c.status) << c.desc;
    EXPECT_EQ(Read(response.Get().error.failed), 1u) << c.desc;
  }
}

// A small deterministic generator, so that every run sends the same bodies.
uint32_t NextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

const std::pair<const char*, const char*> kBodyEndpoints[] = {
    {"PostVynPftV2Survey", "/vyn-pft/v2/survey"}, {"PostVynPftV2Events", "/vyn-pft/v2/events"}};

TEST_F(EndpointTest, MalformedBodiesInEveryFormatNeverCrashAndLeakNothing) {
  const char* contentTypes[] = {"application/json", "application/x-msgpack", "application/x-yaml",
                                ""};
  std::vector<std::string> bodies = {
      std::string(5000, '['),
      std::string(5000, '{'),
      "- " + std::string(4000, '['),
      "a: &x [*x]",
      "{\"id\":\"\xFF\xFE\xFD\"}",
      "id: \"\xC3\x28\"\n",
      std::string("\xDF\xFF\xFF\xFF\xFF", 5),
      std::string("\xDB\x00\x00\x00\x05"
                  "ab",
                  7),
      std::string(300, '\x91'),
      std::string("{\"id\":1}\0garbage", 16),
  };
  uint32_t state = 12345;
  for (int i = 0; i < 150; ++i) {
    std::string body(1 + NextRandom(state) % 64, '\0');
    for (char& byte : body) byte = static_cast<char>(NextRandom(state) & 0xFF);
    if (i % 3 == 0) body[0] = '{';
    if (i % 3 == 1) body[0] = static_cast<char>(0x80 | (NextRandom(state) & 0x0F));
    bodies.push_back(body);
  }
  // A body the binder accepts (unknown members are ignored) is a real call: a survey gets
  // published, an event joins the event log, which only an upload empties. So only the survey
  // endpoint must give back exactly what it took.
  auto round = [&](const char* function, const char* path) {
    int answered = 0;
    for (const std::string& body : bodies) {
      for (const char* contentType : contentTypes) {
        RequestBuilder request(kPost, path);
        request.Body(contentType, body);
        HostResponse response;
        Call(function, request, response);
        if (Read(response.Get().error.failed) != 0) {
          EXPECT_FALSE(response.ErrorText().empty()) << function << " " << contentType;
        } else {
          EXPECT_EQ(response.Status(), 0u) << function << " " << contentType;
        }
        ++answered;
      }
    }
    return answered;
  };
  const int perEndpoint = static_cast<int>(bodies.size() * std::size(contentTypes));
  EXPECT_EQ(round(kBodyEndpoints[1].first, kBodyEndpoints[1].second), perEndpoint);
  round(kBodyEndpoints[0].first, kBodyEndpoints[0].second);  // may fill process-wide caches
  const uint64_t before = plugin_->LiveBytes();
  EXPECT_EQ(round(kBodyEndpoints[0].first, kBodyEndpoints[0].second), perEndpoint);
  EXPECT_EQ(plugin_->LiveBytes(), before) << "every call gives back what it took";
}

}  // namespace
}  // namespace vyn::test
