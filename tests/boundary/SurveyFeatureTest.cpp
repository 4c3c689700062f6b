// The feedback survey feature end to end, through the shared library: sibling resources and the
// feedback service scripted on the test host, resource events delivered through the plugin's
// subscriptions, endpoints called through their invoke entries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/FormatText.h"
#include "diagnostics/SystemInfo.h"
#include "formats/Json.h"
#include "support/ScriptedHost.h"

namespace vyn::test {
namespace {

constexpr char kV2[] = "OnJsonApiEvent_vyn-pft_v2_survey";
constexpr char kV1[] = "OnJsonApiEvent_vyn-pft_v1_survey";
constexpr char kLogin[] = "/vyn-login/v1/session";
constexpr char kEog[] = "/vyn-end-of-game/v1/eog-stats-block";
constexpr char kGameflow[] = "/vyn-gameflow/v1/session";
constexpr char kInternalSurvey[] =
    R"({"id": 11, "title": "T", "caption": "C", "type": "internal", "display": "modal",
        "data": {"questions": [{"id": "7", "type": "rating", "data": {"text": "How?"}, "extra": 1}],
                 "theme": "dark"}})";
constexpr char kExternalSurvey[] =
    R"({"id": 12, "title": "W", "caption": "", "type": "external",
        "data": {"url": "https://survey.test/s"}})";

std::string SystemOs() {
  diagnostics::OsDescription os;
  (void)diagnostics::GetOsDescription(os);
  return diagnostics::FormatText("%1-%2.%3", os.platform, os.version, os.servicePack);
}

class SurveyFeature : public testing::Test {
 protected:
  SurveyFeature() : library(VYN_PLUGIN_PATH), scripted(library) {}
  void SetUp() override {
    ASSERT_TRUE(library.ok()) << library.error();
    ASSERT_TRUE(scripted.ok());
    scripted.SetUpSiblings();
  }

  void SignIn(const std::string& puuid = "p-1", const std::string& token = "tok",
              const char* state = "SUCCEEDED", uint64_t accountId = 42, uint64_t summonerId = 99,
              const char* eventType = "Update") {
    ASSERT_TRUE(scripted.Publish(
        kLogin, eventType,
        diagnostics::FormatText(R"({"state": "%1", "summonerId": %2, "accountId": %3,
                                    "puuid": "%4", "idToken": "%5"})",
                                state, summonerId, accountId, puuid, token)));
  }
  void Phase(const char* phase, const char* eventType = "Update", const char* dodge = "{}") {
    ASSERT_TRUE(scripted.Publish(
        kGameflow, eventType,
        diagnostics::FormatText(R"({"phase": "%1", "gameDodge": %2})", phase, dodge)));
  }
  void Stats(const char* eventType, uint64_t gameId, const char* gameMode = "CLASSIC") {
    ASSERT_TRUE(scripted.Publish(
        kEog, eventType,
        diagnostics::FormatText(R"({"gameId": %1, "gameMode": "%2", "gameType": "MATCHED",
                                    "accountId": 42})",
                                gameId, gameMode)));
  }

  const FakeHost::SeenExternalRequest& LastServiceRequest() {
    static const FakeHost::SeenExternalRequest kNone{};
    if (scripted.host.externalRequests.empty()) {
      ADD_FAILURE() << "no request reached the service";
      return kNone;
    }
    return scripted.host.externalRequests.back();
  }
  std::size_t ServiceRequests() const { return scripted.host.externalRequests.size(); }

  // The status and message of a failed call, "ok" for a success.
  static std::string Outcome(const HostResponse& response) {
    if (!response.failed()) return "ok";
    return std::to_string(response.Status()) + " " + response.ErrorText();
  }

  PluginLibrary library;
  ScriptedHost scripted;
};

// --- Registration ------------------------------------------------------------------------------

TEST_F(SurveyFeature, ObservesLoginEndOfGameAndGameFlowInThatOrder) {
  const auto& calls = scripted.host.subscribeCalls;
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(calls.begin() + 3, calls.end()),
            (std::vector<std::string>{"OnJsonApiEvent_vyn-login_v1_session",
                                      "OnJsonApiEvent_vyn-end-of-game_v1_eog-stats-block",
                                      "OnJsonApiEvent_vyn-gameflow_v1_session"}));
}

// --- Survey retrieval ----------------------------------------------------------------------------

TEST_F(SurveyFeature, AnInternalSurveyIsRequestedCompletedPublishedAndReturned) {
  SignIn();
  scripted.Answer(0, 200, kInternalSurvey);
  HostResponse response;
  scripted.Get(response);
  ASSERT_FALSE(response.failed()) << response.ErrorText();

  const auto& request = LastServiceRequest();
  EXPECT_EQ(request.method, 6u);
  EXPECT_EQ(request.url,
            "https://pft.test/player-feedback-tool/v1/players/p-1/surveys?shard=NA1&iso_locale=en_US");
  EXPECT_EQ(request.headers, (std::vector<std::pair<std::string, std::string>>{
                                 {"Accept", "application/json"},
                                 {"Content-Type", "application/json"},
                                 {"User-Agent", "Mozilla/5.0"},
                                 {"Authorization", "Bearer tok"}}));
  EXPECT_EQ(request.option, 5u);
  // Members in name order; the statistics always complete, at their defaults here.
  const std::string head = Crlf(
      "{\n    \"accountId\": 42,\n    \"appName\": \"QuarryClient\",\n"
      "    \"appVersion\": \"code-7-content-9\",\n    \"env\": \"NA 1\",\n"
      "    \"locale\": \"en_US\",\n    \"stats\": {\n        \"accountId\": 0,\n");
  const std::string tail = Crlf("\n    },\n    \"systemOs\": \"" + SystemOs() +
                                "\",\n    \"webRegion\": \"na\"\n}");
  ASSERT_GE(request.body.size(), head.size() + tail.size());
  EXPECT_EQ(request.body.substr(0, head.size()), head);
  EXPECT_EQ(request.body.substr(request.body.size() - tail.size()), tail);
  binding::BindingResult body = formats::ParseJson(request.body);
  ASSERT_TRUE(body.ok());
  const binding::BindingProperty& stats = body.member("stats");
  EXPECT_EQ(stats.size(), 58u) << "every member of the statistics record";
  EXPECT_EQ(stats.member("gameMode").asString(), "");
  EXPECT_EQ(stats.member("rerollData").member("totalPoints").asUnsigned(99), 0u);

  // The survey as returned: questions rebuilt, everything else as the service sent it.
  const CopiedValue survey = response.Value();
  EXPECT_EQ(survey.Member("id")->unsignedValue, 11u);
  EXPECT_EQ(survey.Member("display")->bytes, "modal");
  const CopiedValue* questions = survey.Member("data")->Member("questions");
  ASSERT_NE(questions, nullptr);
  ASSERT_EQ(questions->elements.size(), 1u);
  const CopiedValue& question = questions->elements[0];
  ASSERT_EQ(question.members.size(), 2u);
  EXPECT_EQ(question.members[0].first, "data");
  EXPECT_EQ(question.members[1].first, "type");
  EXPECT_EQ(question.Member("type")->bytes, "rating");
  const CopiedValue* data = question.Member("data");
  ASSERT_EQ(data->members.size(), 3u);
  EXPECT_EQ(data->Member("questionId")->kind, kHostValueUnsigned);
  EXPECT_EQ(data->Member("questionId")->unsignedValue, 7u);
  EXPECT_EQ(data->Member("questionPosition")->unsignedValue, 0u);
  EXPECT_EQ(data->Member("text")->bytes, "How?");
  EXPECT_EQ(survey.Member("data")->Member("theme")->bytes, "dark");

  // Published once on the v2 path (and under the base name), never on v1.
  const auto published = scripted.SentUnder(kV2);
  ASSERT_EQ(published.size(), 1u);
  EXPECT_EQ(published[0]->payload.Member("uri")->bytes, "/vyn-pft/v2/survey");
  EXPECT_EQ(published[0]->payload.Member("eventType")->bytes, "Update");
  const CopiedValue& publishedSurvey = *published[0]->payload.Member("data");
  EXPECT_EQ(publishedSurvey.Member("title")->bytes, "T");
  // The survey's free data is published whole, the rebuilt questions included.
  const CopiedValue* publishedData = publishedSurvey.Member("data");
  ASSERT_NE(publishedData, nullptr);
  ASSERT_EQ(publishedData->members.size(), 2u);
  EXPECT_EQ(publishedData->Member("theme")->bytes, "dark");
  const CopiedValue* publishedQuestion = &publishedData->Member("questions")->elements.at(0);
  EXPECT_EQ(publishedQuestion->Member("data")->Member("questionId")->unsignedValue, 7u);
  EXPECT_EQ(publishedQuestion->Member("data")->Member("text")->bytes, "How?");
  EXPECT_EQ(scripted.SentUnder("OnJsonApiEvent").size(), 1u);
  EXPECT_TRUE(scripted.SentUnder(kV1).empty());
}

TEST_F(SurveyFeature, QuestionsWithoutStructuredDataGetOnlyTheirNumbers) {
  SignIn();
  scripted.Answer(0, 201, R"({"id": 1, "type": "poll", "data": {"questions": [
      {"id": 3.9, "type": "a", "data": "plain"}, {"id": "0x10"}, {"id": true, "data": [1]}]}})");
  HostResponse response;
  scripted.Get(response);
  ASSERT_FALSE(response.failed()) << response.ErrorText();
  const CopiedValue survey = response.Value();
  const CopiedValue* questions = survey.Member("data")->Member("questions");
  ASSERT_EQ(questions->elements.size(), 3u);
  const uint64_t ids[] = {3, 16, 1};
  for (std::size_t i = 0; i < 3; ++i) {
    const CopiedValue* data = questions->elements[i].Member("data");
    ASSERT_EQ(data->members.size(), 2u) << i;
    EXPECT_EQ(data->Member("questionId")->unsignedValue, ids[i]) << i;
    EXPECT_EQ(data->Member("questionPosition")->unsignedValue, i) << i;
  }

  // An empty collection passes and stays empty.
  scripted.Answer(0, 200, R"({"type": "poll", "data": {"questions": []}})");
  HostResponse empty;
  scripted.Get(empty);
  ASSERT_FALSE(empty.failed()) << empty.ErrorText();
  EXPECT_TRUE(empty.Value().Member("data")->Member("questions")->elements.empty());
}

TEST_F(SurveyFeature, AnExternalSurveyGetsTheClientsQueryAndIsPublishedOnBothPaths) {
  SignIn();
  scripted.Answer(0, 200, kExternalSurvey);
  HostResponse response;
  scripted.Get(response);
  ASSERT_FALSE(response.failed()) << response.ErrorText();
  const std::string expectedUrl =
      "https://survey.test/s?account_id=42&env=NA%201&web_region=na&locale=en_US"
      "&app_name=QuarryClient&app_version=code-7-content-9&system_os=" +
      [] {
        std::string os;
        for (const char c : SystemOs()) {
          const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                             (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
                             c == '~';
          const auto byte = static_cast<unsigned char>(c);
          if (plain) {
            os += c;
          } else {
            os += '%';
            os += "0123456789ABCDEF"[byte >> 4];
            os += "0123456789ABCDEF"[byte & 15];
          }
        }
        return os;
      }();
  EXPECT_EQ(response.Value().Member("data")->Member("url")->bytes, expectedUrl);
  ASSERT_EQ(scripted.SentUnder(kV2).size(), 1u);
  const auto v1 = scripted.SentUnder(kV1);
  ASSERT_EQ(v1.size(), 1u);
  const CopiedValue* data = v1[0]->payload.Member("data");
  EXPECT_EQ(data->Member("url")->bytes, expectedUrl);
  EXPECT_EQ(data->Member("id")->unsignedValue, 12u);
  EXPECT_EQ(data->Member("title")->bytes, "W");
  EXPECT_EQ(data->Member("display"), nullptr);
  EXPECT_EQ(scripted.SentUnder("OnJsonApiEvent").size(), 2u);
}

TEST_F(SurveyFeature, WithoutATokenTheRequestCarriesThreeHeaders) {
  SignIn("p-1", "");
  scripted.Answer(0, 204, "");
  HostResponse response;
  scripted.Get(response);
  EXPECT_EQ(LastServiceRequest().headers.size(), 3u);
}

TEST_F(SurveyFeature, EveryFailureHasItsStatusAndMessageAndPublishesNothing) {
  SignIn();
  struct Case {
    int32_t transport;
    uint32_t status;
    std::string body;
    std::string outcome;
  };
  const Case cases[] = {
      {1, 0, "no route", "500 Failed to get survey for puuid 'p-1': 'no route'"},
      {-1, 0, "cancelled", "500 Failed to get survey for puuid 'p-1': 'cancelled'"},
      {0, 500, "oops", "500 Failed to get survey for puuid 'p-1': 500-'oops'"},
      {0, 199, "early", "500 Failed to get survey for puuid 'p-1': 199-'early'"},
      {0, 400, "bad", "500 Failed to get survey for puuid 'p-1': 400-'bad'"},
      {0, 204, "",
       "404 No survey available at this moment for puuid 'p-1', region 'NA1', locale 'en_US'."},
      {0, 302, "moved", "500 Failed to get survey for puuid 'p-1'"},
      {0, 399, "", "500 Failed to get survey for puuid 'p-1'"},
      {0, 200, "{not json", "500 Failed to deserialize reponse: '{not json'"},
      {0, 200, R"({"id": "eleven", "type": "x"})",
       R"(500 Failed to deserialize reponse: '{"id": "eleven", "type": "x"}')"},
      {0, 200, R"({"id": 1, "type": ""})",
       R"(500 Received invalid response from PFT Service: '{"id": 1, "type": ""}')"},
      {0, 200, R"({"type": "external", "data": {"url": ""}})",
       R"(500 Received invalid response from PFT Service, url cannot be empty when type is external: '{"type": "external", "data": {"url": ""}}')"},
      {0, 200, R"({"type": "external"})",
       R"(500 Received invalid response from PFT Service, url cannot be empty when type is external: '{"type": "external"}')"},
      {0, 200, R"({"type": "External", "data": {"url": "https://x"}})",
       R"(500 Received invalid response from PFT Service, questions cannot be empty when type is internal: '{"type": "External", "data": {"url": "https://x"}}')"},
      {0, 200, R"({"type": "poll", "data": {"questions": {"a": 1}}})",
       R"(500 Received invalid response from PFT Service, questions cannot be empty when type is internal: '{"type": "poll", "data": {"questions": {"a": 1}}}')"},
  };
  for (const Case& c : cases) {
    scripted.Answer(c.transport, c.status, c.body);
    HostResponse response;
    scripted.Get(response);
    EXPECT_EQ(Outcome(response), c.outcome);
  }
  EXPECT_EQ(ServiceRequests(), std::size(cases));
  EXPECT_TRUE(scripted.host.sentEvents.empty());
}

TEST_F(SurveyFeature, MissingConfigurationLoginOrShardStopBeforeTheService) {
  HostResponse notLoggedIn;
  scripted.Get(notLoggedIn);
  EXPECT_EQ(Outcome(notLoggedIn), "404 No survey available, user not logged in.");

  SignIn("p-1", "tok", "SUCCEEDED", 0, 99);  // no account: not signed in
  HostResponse noAccount;
  scripted.Get(noAccount);
  EXPECT_EQ(Outcome(noAccount), "404 No survey available, user not logged in.");

  SignIn();
  scripted.SetResource("/vyn-login/v1/login-data-packet", R"({"platformId": ""})");
  HostResponse emptyShard;
  scripted.Get(emptyShard);
  EXPECT_EQ(Outcome(emptyShard), "500 Failed to retrieve shardId.");
  scripted.RemoveResource("/vyn-login/v1/login-data-packet");
  HostResponse noShard;
  scripted.Get(noShard);
  EXPECT_EQ(Outcome(noShard), "500 Failed to retrieve shardId.");

  scripted.RemoveResource("/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl");
  HostResponse noBackend;
  scripted.Get(noBackend);
  EXPECT_EQ(Outcome(noBackend),
            "404 BackendURL missing from platform configuration, plugin disabled.");
  EXPECT_EQ(ServiceRequests(), 0u);
}

TEST_F(SurveyFeature, RegionAndBuildFailuresGiveEmptyTextsAndUnknown) {
  SignIn();
  scripted.RemoveResource("/tarnclient/region-locale");
  scripted.RemoveResource("/system/v1/builds");
  scripted.Answer(0, 204, "");
  HostResponse response;
  scripted.Get(response);
  EXPECT_EQ(Outcome(response),
            "404 No survey available at this moment for puuid 'p-1', region 'NA1', locale ''.");
  const auto& request = LastServiceRequest();
  EXPECT_EQ(request.url,
            "https://pft.test/player-feedback-tool/v1/players/p-1/surveys?shard=NA1&iso_locale=");
  binding::BindingResult body = formats::ParseJson(request.body);
  EXPECT_EQ(body.member("appVersion").asString(), "Unknown");
  EXPECT_EQ(body.member("env").asString(), "");
}

// --- Login state ---------------------------------------------------------------------------------

TEST_F(SurveyFeature, TheFirstSignInStandsUntilADelete) {
  SignIn("p-1", "first");
  SignIn("p-2", "second");
  scripted.Answer(0, 204, "");
  HostResponse first;
  scripted.Get(first);
  EXPECT_NE(LastServiceRequest().url.find("/players/p-1/"), std::string::npos);
  EXPECT_EQ(LastServiceRequest().headers.back().second, "Bearer first");

  // Signing out through an update keeps the identity: the GET still reaches the service, while
  // an upload needs a signed-in player.
  SignIn("p-1", "first", "LOGGING_OUT");
  scripted.Answer(0, 204, "");
  HostResponse stillKnown;
  scripted.Get(stillKnown);
  EXPECT_EQ(ServiceRequests(), 2u);
  HostResponse submit;
  scripted.PostEvent(R"({"playerSurveyId": 1, "action": "submit", "data": []})", submit);
  EXPECT_EQ(Outcome(submit), "404 Plugin disabled, user not logged in.");

  ASSERT_TRUE(scripted.Publish(kLogin, "Delete", "null"));
  HostResponse gone;
  scripted.Get(gone);
  EXPECT_EQ(Outcome(gone), "404 No survey available, user not logged in.");
  EXPECT_EQ(ServiceRequests(), 2u);
}

// --- Posting a survey ----------------------------------------------------------------------------

TEST_F(SurveyFeature, APostedSurveyIsPublishedOnceOnTheV2Path) {
  HostResponse response;
  scripted.PostSurvey(kExternalSurvey, response);
  EXPECT_EQ(Outcome(response), "ok");
  EXPECT_EQ(response.Status(), 0u);
  const auto published = scripted.SentUnder(kV2);
  ASSERT_EQ(published.size(), 1u);
  EXPECT_EQ(published[0]->payload.Member("data")->Member("data")->Member("url")->bytes,
            "https://survey.test/s");
  EXPECT_TRUE(scripted.SentUnder(kV1).empty());
  EXPECT_EQ(ServiceRequests(), 0u);

  HostResponse emptied;
  scripted.PostSurvey("{}", emptied);
  EXPECT_EQ(Outcome(emptied), "ok");
  EXPECT_EQ(scripted.SentUnder(kV2).size(), 2u);
}

// --- Events and results ----------------------------------------------------------------------------

TEST_F(SurveyFeature, OtherActionsAreOnlyLoggedAndGoOutWithTheNextUpload) {
  SignIn();
  for (const char* action : {"view", ""}) {
    HostResponse response;
    scripted.PostEvent(diagnostics::FormatText(
                           R"({"playerSurveyId": 5, "action": "%1", "data": []})", action),
                       response);
    EXPECT_EQ(Outcome(response), "ok") << action;
  }
  EXPECT_EQ(ServiceRequests(), 0u);

  scripted.Answer(0, 201, "");
  HostResponse close;
  scripted.PostEvent(R"({"playerSurveyId": 5, "action": "close", "data": []})", close);
  EXPECT_EQ(Outcome(close), "ok");
  const auto& request = LastServiceRequest();
  EXPECT_EQ(request.url, "https://pft.test/player-feedback-tool/v2/players/p-1/surveys/5/results");
  EXPECT_EQ(request.option, 5u);
  EXPECT_EQ(request.headers.size(), 4u);
  binding::BindingResult body = formats::ParseJson(request.body);
  ASSERT_TRUE(body.ok());
  const auto actions = body.member("actions").elements();
  ASSERT_EQ(actions.size(), 3u);
  EXPECT_EQ(actions[0].member("action").asString(), "view");
  EXPECT_EQ(actions[1].member("action").asString(), "");
  EXPECT_EQ(actions[2].member("action").asString(), "close");

  // The log was emptied by the upload.
  scripted.Answer(0, 200, "");
  HostResponse popout;
  scripted.PostEvent(R"({"playerSurveyId": 5, "action": "popout", "data": []})", popout);
  binding::BindingResult second = formats::ParseJson(LastServiceRequest().body);
  EXPECT_EQ(second.member("actions").size(), 1u);
}

TEST_F(SurveyFeature, AnswersAreWrappedAndTheUploadBodyIsPrettyJson) {
  SignIn();
  scripted.Answer(0, 204, "");
  HostResponse response;
  scripted.PostEvent(R"({"playerSurveyId": 77, "action": "submit", "data": [
      {"questionId": 3, "value": "yes"}, {"questionId": "0x1f", "value": {"choice": 2}},
      {"value": 5}, {"questionId": 4}]})",
                     response);
  EXPECT_EQ(Outcome(response), "ok");
  const std::string expected = Crlf(R"({
    "actions": [
        {
            "action": "submit",
            "data": [
                {
                    "questionId": 3,
                    "value": "yes"
                },
                {
                    "questionId": "0x1f",
                    "value": {
                        "choice": 2
                    }
                },
                {
                    "value": 5
                },
                {
                    "questionId": 4
                }
            ],
            "playerSurveyId": 77
        }
    ],
    "questionResponses": [
        {
            "questionId": 3,
            "responseData": {
                "value": "yes"
            }
        },
        {
            "questionId": 31,
            "responseData": {
                "choice": 2
            }
        },
        {
            "questionId": 0,
            "responseData": {
                "value": 5
            }
        },
        {
            "questionId": 4,
            "responseData": {
                "value": null
            }
        }
    ]
})");
  EXPECT_EQ(LastServiceRequest().body, expected);
}

TEST_F(SurveyFeature, AFailedUploadKeepsTheLogForTheNextOne) {
  SignIn();
  const char* submit = R"({"playerSurveyId": 8, "action": "submit", "data": []})";
  struct Case {
    int32_t transport;
    uint32_t status;
    const char* body;
    const char* outcome;
  };
  const Case failures[] = {
      {0, 500, "down", "500 Failed to save survey results for puuid 'p-1': 500-'down'"},
      {0, 206, "partial", "500 Failed to save survey results for puuid 'p-1': 206-'partial'"},
      {0, 199, "", "500 Failed to save survey results for puuid 'p-1': 199-''"},
      {1, 0, "timeout", "500 Failed to save survey results for puuid 'p-1': 'timeout'"},
  };
  std::size_t posted = 0;
  for (const Case& c : failures) {
    scripted.Answer(c.transport, c.status, c.body);
    HostResponse response;
    scripted.PostEvent(submit, response);
    ++posted;
    EXPECT_EQ(Outcome(response), c.outcome);
    binding::BindingResult body = formats::ParseJson(LastServiceRequest().body);
    EXPECT_EQ(body.member("actions").size(), posted) << c.outcome;
  }
  scripted.Answer(0, 204, "");
  HostResponse accepted;
  scripted.PostEvent(submit, accepted);
  EXPECT_EQ(Outcome(accepted), "ok");
  EXPECT_EQ(formats::ParseJson(LastServiceRequest().body).member("actions").size(), posted + 1);

  scripted.RemoveResource("/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl");
  HostResponse noBackend;
  scripted.PostEvent(submit, noBackend);
  EXPECT_EQ(Outcome(noBackend),
            "404 BackendURL missing from platform configuration, plugin disabled.");
}

// --- End of game and game flow -------------------------------------------------------------------

TEST_F(SurveyFeature, StatisticsWaitForTheEndOfTheGame) {
  SignIn();
  Phase("WaitingForStats");
  Stats("Create", 1001);
  EXPECT_EQ(ServiceRequests(), 0u);
  scripted.Answer(0, 200, kExternalSurvey);
  Phase("EndOfGame");
  ASSERT_EQ(ServiceRequests(), 1u);
  const auto& request = LastServiceRequest();
  EXPECT_EQ(request.url,
            "https://pft.test/player-feedback-tool/v1/players/p-1/surveys?shard=NA1&iso_locale=en_US"
            "&event_type=END_OF_GAME");
  binding::BindingResult body = formats::ParseJson(request.body);
  EXPECT_EQ(body.member("stats").member("gameId").asUnsigned(), 1001u);
  EXPECT_EQ(body.member("stats").member("accountId").asUnsigned(), 42u);
  // An external survey after a game names the game.
  const auto v1 = scripted.SentUnder(kV1);
  ASSERT_EQ(v1.size(), 1u);
  const std::string url = v1[0]->payload.Member("data")->Member("url")->bytes;
  EXPECT_EQ(url.substr(url.size() - 13), "&game_id=1001");

  Phase("EndOfGame");
  EXPECT_EQ(ServiceRequests(), 1u) << "nothing pending any more";
}

TEST_F(SurveyFeature, StatisticsAfterTheEndAreSentAtOnceAndTheLastPendingOnesWin) {
  SignIn();
  Phase("EndOfGame");
  scripted.Answer(0, 204, "");
  Stats("Create", 1);
  EXPECT_EQ(ServiceRequests(), 1u);
  Stats("Update", 2);
  EXPECT_EQ(ServiceRequests(), 1u) << "updates of the statistics are ignored";

  Phase("InProgress");
  Stats("Create", 3);
  Stats("Create", 4);
  Phase("PreEndOfGame");
  EXPECT_EQ(ServiceRequests(), 1u);
  scripted.Answer(0, 204, "");
  Phase("EndOfGame");
  ASSERT_EQ(ServiceRequests(), 2u);
  EXPECT_EQ(formats::ParseJson(LastServiceRequest().body).member("stats").member("gameId")
                .asUnsigned(),
            4u);
}

TEST_F(SurveyFeature, StatisticsBeforeAnyGameFlowAreSentAtOnceWithoutAGameIdForNoMode) {
  SignIn();
  scripted.Answer(0, 200, kExternalSurvey);
  Stats("Create", 5, "");
  ASSERT_EQ(ServiceRequests(), 1u);
  const auto v1 = scripted.SentUnder(kV1);
  ASSERT_EQ(v1.size(), 1u);
  EXPECT_EQ(v1[0]->payload.Member("data")->Member("url")->bytes.find("game_id"),
            std::string::npos);
}

TEST_F(SurveyFeature, AFailedEndOfGameRequestStillClearsThePendingStatistics) {
  Phase("InProgress");
  Stats("Create", 6);
  Phase("EndOfGame");  // nobody signed in: the request fails before the service
  SignIn();
  Phase("EndOfGame");
  EXPECT_EQ(ServiceRequests(), 0u);
  // A game-flow delete changes nothing.
  Phase("InProgress", "Delete");
  scripted.Answer(0, 204, "");
  Stats("Create", 7);
  EXPECT_EQ(ServiceRequests(), 1u) << "the phase is still EndOfGame";
}

TEST_F(SurveyFeature, APartyDodgeInChampionSelectByThePlayerAsksForASurvey) {
  SignIn();
  const char* dodgeFirst = R"({"state": "PartyDodged", "dodgeIds": [99, 5]})";
  const char* dodgeSecond = R"({"state": "PartyDodged", "dodgeIds": [5, 99]})";
  const char* strangers = R"({"state": "StrangerDodged", "dodgeIds": [99]})";

  Phase("ChampSelect");
  Phase("Lobby", "Update", dodgeSecond);
  EXPECT_EQ(ServiceRequests(), 0u);
  Phase("ChampSelect");
  Phase("Lobby", "Update", strangers);
  EXPECT_EQ(ServiceRequests(), 0u);
  Phase("Lobby", "Update", dodgeFirst);
  EXPECT_EQ(ServiceRequests(), 0u) << "the stored phase was Lobby";

  Phase("ChampSelect");
  scripted.Answer(0, 204, "");
  Phase("Lobby", "Update", dodgeFirst);
  ASSERT_EQ(ServiceRequests(), 1u);
  const auto& request = LastServiceRequest();
  EXPECT_EQ(request.url.substr(request.url.size() - 23), "&event_type=QUEUE_DODGE");
  EXPECT_EQ(formats::ParseJson(request.body).member("stats").member("gameId").asUnsigned(9), 0u);
}

}  // namespace
}  // namespace vyn::test
