// The feedback survey feature end to end, through the shared library: sibling resources and the
// feedback service scripted on the test host, resource events delivered through the plugin's
// subscriptions, endpoints called through their invoke entries.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "boundary/ScriptedFeature.h"
#include "diagnostics/SystemInfo.h"
#include "formats/Json.h"
#include "routing/PercentCoding.h"

namespace vyn::test {
namespace {

using diagnostics::FormatText;

constexpr char kV2[] = "OnJsonApiEvent_vyn-pft_v2_survey";
constexpr char kV1[] = "OnJsonApiEvent_vyn-pft_v1_survey";
constexpr char kLogin[] = "/vyn-login/v1/session";
const std::string kSurveys =
    "https://pft.test/player-feedback-tool/v1/players/p-1/surveys?shard=NA1&iso_locale=";
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
  return FormatText("%1-%2.%3", os.platform, os.version, os.servicePack);
}

class SurveyFeature : public ScriptedFeature {
 protected:
  void Phase(const char* phase, const char* eventType = "Update", const char* dodge = "{}") {
    ASSERT_TRUE(Publish("/vyn-gameflow/v1/session", eventType,
                        FormatText(R"({"phase": "%1", "gameDodge": %2})", phase, dodge)));
  }
  void Stats(const char* eventType, uint64_t gameId, const char* gameMode) {
    ASSERT_TRUE(Publish(
        "/vyn-end-of-game/v1/eog-stats-block", eventType,
        FormatText(R"({"gameId": %1, "gameMode": "%2", "gameType": "MATCHED", "accountId": 42})",
                   gameId, gameMode)));
  }
};

TEST_F(SurveyFeature, SurveysAreRequestedCompletedPublishedAndReturned) {
  SignIn();
  Answer(0, 200, kInternalSurvey);
  HostResponse internal;
  ASSERT_EQ(Get(&internal), "ok");
  const auto& request = LastServiceRequest();
  EXPECT_EQ(FormatText("%1 %2 %3", request.method, request.option, request.url),
            "6 5 " + kSurveys + "en_US");
  EXPECT_EQ(request.headers, (std::vector<std::pair<std::string, std::string>>{
                                 {"Accept", "application/json"},
                                 {"Content-Type", "application/json"},
                                 {"User-Agent", "Mozilla/5.0"},
                                 {"Authorization", "Bearer tok"}}));
  // Pretty, members in name order; the statistics always complete, at their defaults here.
  const std::string head =
      "{\r\n    \"accountId\": 42,\r\n    \"appName\": \"QuarryClient\",\r\n    \"appVersion\": "
      "\"code-7-content-9\",\r\n    \"env\": \"NA 1\",\r\n    \"locale\": \"en_US\",\r\n    "
      "\"stats\": {\r\n        \"accountId\": 0,\r\n";
  const std::string tail =
      "\r\n    },\r\n    \"systemOs\": \"" + SystemOs() + "\",\r\n    \"webRegion\": \"na\"\r\n}";
  EXPECT_EQ(request.body.substr(0, head.size()), head);
  EXPECT_EQ(request.body.substr(request.body.size() - tail.size()), tail);
  EXPECT_EQ(Body().member("stats").size(), 58u) << "every member of the statistics record";
  const std::string stats = formats::ToJson(Body().member("stats"), nullptr, nullptr);
  EXPECT_EQ(stats.find_first_of("123456789"), stats.find(":true")) << "all zero: " << stats;
  // Returned and published with the questions rebuilt, the rest as the service sent it.
  const std::string survey =
      R"({"caption":"C","data":{"questions":[{"data":{"questionId":7u,"questionPosition":0u,)"
      R"("text":"How?"},"type":"rating"}],"theme":"dark"},"display":"modal","id":11u,"title":"T",)"
      R"("type":"internal"})";
  EXPECT_EQ(Json(internal.Value()), survey);
  ASSERT_EQ(SentUnder(kV2).size(), 1u);
  EXPECT_EQ(Json(SentUnder(kV2)[0]->payload),
            R"({"data":)" + survey + R"(,"eventType":"Update","uri":"/vyn-pft/v2/survey"})");
  EXPECT_EQ(SentUnder("OnJsonApiEvent").size(), 1u);
  EXPECT_TRUE(SentUnder(kV1).empty());

  // Questions without structured data get only their numbers; no questions stay none.
  Answer(0, 201, R"({"id": 1, "type": "poll", "data": {"questions": [
      {"id": 3.9, "type": "a", "data": "plain"}, {"id": "0x10"}, {"id": true, "data": [1]}]}})");
  Answer(0, 200, R"({"type": "poll", "data": {"questions": []}})");
  HostResponse some, none;
  Get(&some);
  Get(&none);
  EXPECT_EQ(Json(some.Value().Member("data")),
            R"({"questions":[{"data":{"questionId":3u,"questionPosition":0u},"type":"a"},)"
            R"({"data":{"questionId":16u,"questionPosition":1u},"type":null},)"
            R"({"data":{"questionId":1u,"questionPosition":2u},"type":null}]})");
  EXPECT_EQ(Json(none.Value().Member("data")), R"({"questions":[]})");

  // An external survey gets the client's query, and is published on v1 as well.
  host.sentEvents.clear();
  Answer(0, 200, kExternalSurvey);
  HostResponse external;
  Get(&external);
  const std::string url =
      "https://survey.test/s?account_id=42&env=NA%201&web_region=na&locale=en_US"
      "&app_name=QuarryClient&app_version=code-7-content-9&system_os=" +
      routing::PercentEncode(SystemOs());
  EXPECT_EQ(Json(external.Value()),
            R"({"caption":"","data":{"url":")" + url + R"("},"display":"","id":12u,"title":"W",)"
            R"("type":"external"})");
  EXPECT_EQ(Json(SentUnder(kV1).at(0)->payload.Member("data")),
            R"({"caption":"","id":12u,"title":"W","type":"external","url":")" + url + "\"}");
  EXPECT_EQ(SentUnder(kV2).size(), 1u);
  EXPECT_EQ(host.sentEvents.size(), 4u);
}

TEST_F(SurveyFeature, EveryFailureHasItsStatusAndMessageAndPublishesNothing) {
  SignIn();
  // "%1" stands for the body the service answered.
  const std::string failed = "500 Failed to get survey for puuid 'p-1'";
  const std::string invalid = "500 Received invalid response from PFT Service";
  const std::string noUrl = invalid + ", url cannot be empty when type is external: '%1'";
  const std::string noQuestions =
      invalid + ", questions cannot be empty when type is internal: '%1'";
  struct Case { int32_t transport; uint32_t status; const char* body; std::string outcome; };
  const Case cases[] = {
      {1, 0, "no route", failed + ": '%1'"},
      {-1, 0, "cancelled", failed + ": '%1'"},
      {0, 199, "early", failed + ": 199-'%1'"},
      {0, 400, "bad", failed + ": 400-'%1'"},
      {0, 204, "", "404 No survey available at this moment for puuid 'p-1', region 'NA1', "
                   "locale 'en_US'."},
      {0, 302, "moved", failed},
      {0, 399, "", failed},
      {0, 200, "{not json", "500 Failed to deserialize reponse: '%1'"},
      {0, 200, R"({"id": "eleven", "type": "x"})", "500 Failed to deserialize reponse: '%1'"},
      {0, 200, R"({"id": 1, "type": ""})", invalid + ": '%1'"},
      {0, 200, R"({"type": "external", "data": {"url": ""}})", noUrl},
      {0, 200, R"({"type": "external"})", noUrl},
      {0, 200, R"({"type": "External", "data": {"url": "https://x"}})", noQuestions},
      {0, 200, R"({"type": "poll", "data": {"questions": {"a": 1}}})", noQuestions},
  };
  for (const Case& c : cases) {
    Answer(c.transport, c.status, c.body);
    std::string outcome = c.outcome;
    if (const auto at = outcome.find("%1"); at != std::string::npos) outcome.replace(at, 2, c.body);
    EXPECT_EQ(Get(), outcome) << c.status << " " << c.body;
  }
  EXPECT_EQ(ServiceRequests(), std::size(cases));
  EXPECT_TRUE(host.sentEvents.empty());
}

TEST_F(SurveyFeature, TheRequestNeedsASignedInPlayerAndItsSiblings) {
  EXPECT_EQ(Get(), "404 No survey available, user not logged in.");
  SignIn("p-1", "tok", "SUCCEEDED", 0, 99);  // no account: not signed in
  EXPECT_EQ(Get(), "404 No survey available, user not logged in.");
  SignIn("p-1", "tok", "SUCCEEDED", 42, 0);  // no summoner: not signed in
  EXPECT_EQ(Get(), "404 No survey available, user not logged in.");
  // The first sign-in stands: its identity and token, also after a sign-out by an update, which
  // only uploads need.
  SignIn("p-1", "first");
  SignIn("p-2", "second");
  SignIn("p-1", "first", "LOGGING_OUT");
  Answer(0, 204, "");
  EXPECT_EQ(Get(), "404 No survey available at this moment for puuid 'p-1', region 'NA1', "
                   "locale 'en_US'.");
  EXPECT_EQ(LastServiceRequest().url, kSurveys + "en_US");
  ASSERT_FALSE(LastServiceRequest().headers.empty());
  EXPECT_EQ(LastServiceRequest().headers.back().second, "Bearer first");
  EXPECT_EQ(PostEvent(R"({"playerSurveyId": 1, "action": "submit", "data": []})"),
            "404 Plugin disabled, user not logged in.");
  ASSERT_TRUE(Publish(kLogin, "Delete", "null"));
  EXPECT_EQ(Get(), "404 No survey available, user not logged in.");
  EXPECT_EQ(ServiceRequests(), 1u);

  SignIn("p-1", "");
  SetResource("/vyn-login/v1/login-data-packet", R"({"platformId": ""})");
  EXPECT_EQ(Get(), "500 Failed to retrieve shardId.");
  RemoveResource("/vyn-login/v1/login-data-packet");
  EXPECT_EQ(Get(), "500 Failed to retrieve shardId.");
  EXPECT_EQ(ServiceRequests(), 1u);
  // Without region and build the texts are empty and the version unknown; without a token there
  // is no authorisation.
  SetUpSiblings();
  RemoveResource("/tarnclient/region-locale");
  RemoveResource("/system/v1/builds");
  Answer(0, 204, "");
  EXPECT_EQ(Get(),
            "404 No survey available at this moment for puuid 'p-1', region 'NA1', locale ''.");
  EXPECT_EQ(LastServiceRequest().url, kSurveys);
  EXPECT_EQ(LastServiceRequest().headers.size(), 3u);
  EXPECT_EQ(Body().member("appVersion").asString(), "Unknown");
  EXPECT_EQ(Body().member("env").asString(), "");

  RemoveResource("/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl");
  EXPECT_EQ(Get(), "404 BackendURL missing from platform configuration, plugin disabled.");
  EXPECT_EQ(ServiceRequests(), 2u);
}

TEST_F(SurveyFeature, EventsWaitInTheLogForAnUploadThatSucceeds) {
  SignIn();
  const auto event = [](const char* action) {
    return FormatText(R"({"playerSurveyId": 5, "action": "%1", "data": []})", action);
  };
  EXPECT_EQ(PostEvent(event("view")), "ok");
  EXPECT_EQ(PostEvent(event("")), "ok");
  EXPECT_EQ(ServiceRequests(), 0u);
  // Failures keep the log for the next upload.
  const std::string failed = "500 Failed to save survey results for puuid 'p-1': ";
  struct Case { int32_t transport; uint32_t status; const char* body; std::string outcome; };
  const Case uploads[] = {{0, 206, "partial", failed + "206-'partial'"},
                          {0, 199, "", failed + "199-''"},
                          {1, 0, "timeout", failed + "'timeout'"},
                          {0, 201, "", "ok"}};
  std::string actions = "view,,";
  for (const Case& c : uploads) {
    Answer(c.transport, c.status, c.body);
    EXPECT_EQ(PostEvent(event("close")), c.outcome);
    EXPECT_EQ(UploadedActions(), actions += "close,") << c.outcome;
  }
  const auto& request = LastServiceRequest();
  EXPECT_EQ(FormatText("%1 %2 %3 %4", request.method, request.option, request.headers.size(),
                       request.url),
            "6 5 4 https://pft.test/player-feedback-tool/v2/players/p-1/surveys/5/results");

  // The upload emptied the log. Answers are wrapped, written as pretty JSON.
  Answer(0, 200, "");
  EXPECT_EQ(PostEvent(R"({"playerSurveyId": 77, "action": "popout", "data": [
      {"questionId": 3, "value": "yes"}, {"questionId": "0x1f", "value": {"choice": 2}},
      {"value": 5}, {"questionId": 4}]})"),
            "ok");
  const binding::BindingResult upload = Body();
  EXPECT_EQ(LastServiceRequest().body, formats::ToJson(upload, nullptr, "\r\n"));
  EXPECT_EQ(formats::ToJson(upload, nullptr, nullptr),
            R"({"actions":[{"action":"popout","data":[{"questionId":3,"value":"yes"},)"
            R"({"questionId":"0x1f","value":{"choice":2}},{"value":5},{"questionId":4}],)"
            R"("playerSurveyId":77}],"questionResponses":[{"questionId":3,"responseData":)"
            R"({"value":"yes"}},{"questionId":31,"responseData":{"choice":2}},{"questionId":0,)"
            R"("responseData":{"value":5}},{"questionId":4,"responseData":{"value":null}}]})");
  Answer(0, 204, "");
  EXPECT_EQ(PostEvent(event("submit")), "ok");
  EXPECT_EQ(UploadedActions(), "submit,");
}

TEST_F(SurveyFeature, EndOfGameStatisticsAndPartyDodgesAskForASurvey) {
  // Steps as the siblings publish them: "in" a sign-in, "<phase>" a game-flow update (with
  // ":<dodge state>:<dodge ids>"), "-<phase>" a game-flow delete, "+<id>" statistics created,
  // "~<id>" updated; a "*" marks the steps that ask the service. Every request gets an external
  // survey, which then names the game.
  struct Case { const char* desc; const char* steps; const char* type; uint64_t game; bool mode; };
  const Case cases[] = {
      {"statistics wait for the end, then nothing is pending",
       "in WaitingForStats +1001 EndOfGame* EndOfGame", "END_OF_GAME", 1001, true},
      {"after the end they go at once, updates are ignored, the last pending ones win",
       "in EndOfGame +1* ~2 InProgress +3 +4 PreEndOfGame EndOfGame*", "END_OF_GAME", 4, true},
      {"before any game flow they go at once, without a game id for no mode", "in +5*",
       "END_OF_GAME", 5, false},
      {"a failed request still clears them, and a game-flow delete changes nothing",
       "InProgress +6 EndOfGame in EndOfGame -InProgress +7*", "END_OF_GAME", 7, true},
      {"a party dodge by the player, judged by the phase before it, in champion select only",
       "in ChampSelect Lobby:PartyDodged:5,99 ChampSelect Lobby:StrangerDodged:99 "
       "Lobby:PartyDodged:99,5 ChampSelect Lobby:PartyDodged:99,5*", "QUEUE_DODGE", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    ASSERT_TRUE(Publish(kLogin, "Delete", "null"));
    Phase("None");  // a fresh session: nobody signed in, nothing pending
    host.externalRequests.clear();
    std::size_t requests = 0;
    std::istringstream steps(c.steps);
    for (std::string step; steps >> step;) {
      ClearAnswers();
      Answer(0, 200, kExternalSurvey);
      requests += step.back() == '*';
      if (step.back() == '*') step.pop_back();
      const std::string rest = step.substr(1);
      const auto dodge = step.find(':');
      if (step == "in") {
        SignIn();
      } else if (step[0] == '+' || step[0] == '~') {
        Stats(step[0] == '+' ? "Create" : "Update", std::stoull(rest), c.mode ? "CLASSIC" : "");
      } else if (dodge != std::string::npos) {
        const auto ids = step.find(':', dodge + 1);
        Phase(step.substr(0, dodge).c_str(), "Update",
              FormatText(R"({"state": "%1", "dodgeIds": [%2]})",
                         step.substr(dodge + 1, ids - dodge - 1), step.substr(ids + 1)).c_str());
      } else {
        Phase(step[0] == '-' ? rest.c_str() : step.c_str(), step[0] == '-' ? "Delete" : "Update");
      }
      ASSERT_EQ(ServiceRequests(), requests) << "after " << step;
    }
    EXPECT_EQ(LastServiceRequest().url, kSurveys + "en_US&event_type=" + c.type);
    EXPECT_EQ(Body().member("stats").member("gameId").asUnsigned(9), c.game);
    EXPECT_EQ(Body().member("stats").member("accountId").asUnsigned(9), c.game != 0 ? 42u : 0u);
    const auto v1 = SentUnder(kV1);
    ASSERT_FALSE(v1.empty());
    const std::string survey = Json(v1.back()->payload.Member("data"));
    const std::string game = c.mode ? FormatText("&game_id=%1", c.game) : "";
    EXPECT_EQ(survey.substr(survey.rfind("system_os=") + 10),
              routing::PercentEncode(SystemOs()) + game + "\"}");
  }
}

// A long mixed session: thousands of endpoint calls, resource events and survey requests in every
// outcome, after which the plugin holds exactly what it held before.
TEST_F(SurveyFeature, ThousandsOfMixedCallsLeaveNothingBehind) {
  const char* actions[] = {"view", "submit", "close", "", "popout"};
  const char* phases[] = {"ChampSelect", "InProgress", "EndOfGame", "None", "Lobby"};
  const char* types[] = {"application/json", "application/x-msgpack", "application/x-yaml"};
  const uint32_t statuses[] = {200, 204, 500, 302, 200};
  uint32_t state = 2024;
  const auto step = [&](uint32_t n) {
    state = state * 1664525u + 1013904223u;
    const bool even = n % 2 == 0;
    switch ((state >> 8) % 10) {
      case 0:
        if (n % 5 == 0) return (void)Publish(kLogin, "Delete", "null");
        return SignIn(FormatText("p-%1", n), "t", n % 3 ? "SUCCEEDED" : "LOGGING_OUT");
      case 1:
      case 2:
        Answer(n % 7 == 0, statuses[n % 5], even ? kInternalSurvey : kExternalSurvey);
        return (void)Get();
      case 3: {
        RequestBuilder request(6, "/vyn-pft/v2/survey");
        return (void)Call("PostVynPftV2Survey",
                          request.Body(types[0], even ? kInternalSurvey : "{\"id\": \"bad\"}"));
      }
      case 4:
      case 5:
        Answer(0, n % 4 == 0 ? 500 : 204, "");
        return (void)PostEvent(FormatText(
            R"({"playerSurveyId": %1, "action": "%2", "data": [{"questionId": 1, "value": %1}]})",
            n, actions[n % 5]));
      case 6:
        Answer(0, 204, "");
        return Stats(n % 4 == 0 ? "Update" : "Create", n, "ARAM");
      case 7:
        Answer(0, 204, "");
        return Phase(phases[n % 5], "Update", R"({"state": "PartyDodged", "dodgeIds": [99]})");
      case 8: {  // random bytes in any format to either endpoint: refused with a message, or taken
        std::string body = even ? "{" : "\x85";
        for (uint32_t i = n % 64; i > 0; --i) body += static_cast<char>(state >> (i % 24));
        RequestBuilder request(6, even ? "/vyn-pft/v2/survey" : "/vyn-pft/v2/events");
        const std::string outcome = Call(
            even ? "PostVynPftV2Survey" : "PostVynPftV2Events",
            request.Body(types[n % 3], body + std::string(n % 13, '[')));
        EXPECT_TRUE(outcome == "ok" || outcome.size() > outcome.find(' ') + 1) << outcome;
        return;
      }
      default: Publish("/vyn-gameflow/v1/session", "Update", R"({"phase": 17})");
    }
  };
  // Ends every piece of session state the plugin may hold: signs in, uploads the event log, lets
  // pending statistics go, then signs out with a delete. The recording host forgets its copies:
  // only the plugin's memory is measured.
  const auto settle = [&] {
    ClearAnswers();
    ASSERT_TRUE(Publish(kLogin, "Delete", "null"));
    SignIn();
    Answer(0, 204, "");
    EXPECT_EQ(PostEvent(R"({"playerSurveyId": 1, "action": "close"})"), "ok");
    Answer(0, 204, "");
    Phase("EndOfGame");
    ASSERT_TRUE(Publish(kLogin, "Delete", "null"));
    host.sentEvents.clear();
    host.externalRequests.clear();
    host.requests.clear();
  };
  for (uint32_t n = 0; n < 300; ++n) step(n);  // warm-up
  settle();
  const uint64_t blocks = plugin().LiveBlocks(), bytes = plugin().LiveBytes();
  for (uint32_t n = 0; n < 4000; ++n) step(n);
  settle();
  EXPECT_EQ(plugin().LiveBlocks(), blocks);
  EXPECT_EQ(plugin().LiveBytes(), bytes);
}

}  // namespace
}  // namespace vyn::test
