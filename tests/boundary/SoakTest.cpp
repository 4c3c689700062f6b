// A long mixed session against the shared library: thousands of endpoint calls, resource events
// and survey requests in every outcome, after which the plugin holds exactly what it held before.
#include <gtest/gtest.h>

#include <string>

#include "diagnostics/FormatText.h"
#include "support/ScriptedHost.h"

namespace vyn::test {
namespace {

uint32_t NextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

constexpr char kSurvey[] =
    R"({"id": 3, "title": "T", "type": "poll", "data": {"questions": [
        {"id": "1", "type": "stars", "data": {"text": "How was it?", "max": 5}},
        {"id": 2, "type": "text", "data": {"text": "Why?"}}]}})";
constexpr char kExternal[] =
    R"({"id": 4, "title": "W", "type": "external", "data": {"url": "https://survey.test/w"}})";

// One step of the session, chosen by a number.
void Step(ScriptedHost& scripted, uint32_t choice, uint32_t n) {
  using diagnostics::FormatText;
  HostResponse response;
  switch (choice % 10) {
    case 0:
      scripted.Publish("/vyn-login/v1/session", n % 5 == 0 ? "Delete" : "Update",
                       FormatText(R"({"state": "%1", "summonerId": 9, "accountId": 8,
                                      "puuid": "p-%2", "idToken": "t"})",
                                  n % 3 == 0 ? "LOGGING_OUT" : "SUCCEEDED", n));
      break;
    case 1:
    case 2: {
      const uint32_t statuses[] = {200, 204, 500, 302, 200};
      scripted.Answer(n % 7 == 0 ? 1 : 0, statuses[n % 5], n % 2 == 0 ? kSurvey : kExternal);
      scripted.Get(response);
      break;
    }
    case 3:
      scripted.PostSurvey(n % 2 == 0 ? kSurvey : "{\"id\": \"bad\"}", response);
      break;
    case 4:
    case 5: {
      const char* actions[] = {"view", "submit", "close", "", "popout"};
      scripted.Answer(0, n % 4 == 0 ? 500 : 204, "");
      scripted.PostEvent(FormatText(R"({"playerSurveyId": %1, "action": "%2",
                                        "data": [{"questionId": 1, "value": %3}]})",
                                    n, actions[n % 5], n),
                         response);
      break;
    }
    case 6:
      scripted.Answer(0, 204, "");
      scripted.Publish("/vyn-end-of-game/v1/eog-stats-block", n % 4 == 0 ? "Update" : "Create",
                       FormatText(R"({"gameId": %1, "gameMode": "ARAM", "accountId": 8})", n));
      break;
    case 7: {
      const char* phases[] = {"ChampSelect", "InProgress", "EndOfGame", "None", "Lobby"};
      scripted.Answer(0, 204, "");
      scripted.Publish("/vyn-gameflow/v1/session", "Update",
                       FormatText(R"({"phase": "%1", "gameDodge": {"state": "PartyDodged",
                                      "dodgeIds": [9]}})",
                                  phases[n % 5]));
      break;
    }
    case 8:
      scripted.PostEvent(std::string("{\"playerSurveyId\": [").append(n % 13, '['), response);
      break;
    default:
      scripted.Publish("/vyn-gameflow/v1/session", "Update", R"({"phase": 17})");
      break;
  }
}

// Ends every piece of session state the plugin may hold: signs in, uploads the event log, lets
// pending statistics go, then signs out with a delete.
void Settle(ScriptedHost& scripted) {
  scripted.ClearAnswers();
  scripted.Publish("/vyn-login/v1/session", "Delete", "null");
  scripted.Publish("/vyn-login/v1/session", "Update",
                   R"({"state": "SUCCEEDED", "summonerId": 9, "accountId": 8, "puuid": "p",
                       "idToken": "t"})");
  scripted.Answer(0, 204, "");
  HostResponse upload;
  scripted.PostEvent(R"({"playerSurveyId": 1, "action": "close", "data": []})", upload);
  EXPECT_FALSE(upload.failed()) << upload.ErrorText();
  scripted.Answer(0, 204, "");
  scripted.Publish("/vyn-gameflow/v1/session", "Update", R"({"phase": "EndOfGame"})");
  scripted.Publish("/vyn-login/v1/session", "Delete", "null");
}

TEST(Soak, ThousandsOfMixedCallsLeaveNothingBehind) {
  PluginLibrary library(VYN_PLUGIN_PATH);
  ASSERT_TRUE(library.ok()) << library.error();
  ScriptedHost scripted(library);
  ASSERT_TRUE(scripted.ok());
  scripted.SetUpSiblings();

  uint32_t state = 2024;
  for (uint32_t n = 0; n < 300; ++n) Step(scripted, NextRandom(state), n);  // warm-up
  Settle(scripted);
  scripted.host.sentEvents.clear();
  scripted.host.externalRequests.clear();
  scripted.host.requests.clear();
  const auto statsBefore = scripted.plugin().MemoryStats();
  const uint64_t liveBlocksBefore =
      (statsBefore[6] | uint64_t{statsBefore[7]} << 32) -
      (statsBefore[10] | uint64_t{statsBefore[11]} << 32);
  const uint64_t liveBytesBefore = scripted.plugin().LiveBytes();

  for (uint32_t n = 0; n < 4000; ++n) {
    Step(scripted, NextRandom(state), n);
    // The recording host keeps copies of everything; only the plugin's memory is measured.
    if (n % 500 == 0) {
      scripted.host.sentEvents.clear();
      scripted.host.externalRequests.clear();
      scripted.host.requests.clear();
    }
  }
  Settle(scripted);

  const auto statsAfter = scripted.plugin().MemoryStats();
  const uint64_t liveBlocksAfter = (statsAfter[6] | uint64_t{statsAfter[7]} << 32) -
                                   (statsAfter[10] | uint64_t{statsAfter[11]} << 32);
  EXPECT_EQ(liveBlocksAfter, liveBlocksBefore);
  EXPECT_EQ(scripted.plugin().LiveBytes(), liveBytesBefore);
}

}  // namespace
}  // namespace vyn::test
