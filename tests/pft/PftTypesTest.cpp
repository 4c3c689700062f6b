// The feedback tool's records: where their registration puts them, that a second one changes
// nothing, and round trips through values and host values that must lose no member.
#include "pft/PftTypes.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "binding/AssignValue.h"
#include "binding/BindingRegistry.h"
#include "binding/HostValueConversion.h"
#include "binding/RecordToValue.h"
#include "formats/Json.h"
#include "base/PluginAllocator.h"

namespace vyn::pft {
namespace {

using namespace Tarn::Client::Pft::Api;
using binding::BindingRegistry;
using binding::BindingResult;

const std::vector<std::string> kTags{"Plugins", "Plugin vyn-pft"};

struct PftTypes : ::testing::Test {
  PftTypes() { RegisterPftTypes(registry_, "VynPft", kTags); }
  BindingRegistry registry_;
};

TEST_F(PftTypes, RegisterAfterTheBuiltInTypesInOrderAndOnlyOnce) {
  // Members of each record, enumerators of each enumeration.
  const std::pair<const char*, std::size_t> expected[] = {
      {"PFTSurvey", 6}, {"PFTSurveyV1", 5}, {"PFTEvent", 3}, {"PFTQuestionResponse", 2},
      {"PFTSurveyResults", 2}, {"PFTEndOfGamePlayer", 21}, {"PFTEndOfGameTeam", 11},
      {"PFTEndOfGamePoints", 7}, {"PFTEndOfGameStats", 58}, {"PFTMetadata", 8},
      {"LoginSessionStates", 4}, {"LoginSession", 5}, {"GameflowPhase", 14},
      {"GameflowGameDodgeState", 4}, {"GameflowGameDodge", 2}, {"GameflowSession", 2}};
  RegisterPftTypes(registry_, "VynPft", std::vector<std::string>{"Other"});
  const std::vector<const binding::BindingType*> types = registry_.TypesSnapshot();
  ASSERT_GT(types.size(), std::size(expected));
  const std::size_t first = types.size() - std::size(expected);
  EXPECT_NE(types[first - 1]->name.rfind("VynPft", 0), 0u) << "built-in types come first";
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const binding::BindingType& type = *types[first + i];
    SCOPED_TRACE(type.name);
    EXPECT_EQ(type.name, std::string("VynPft") + expected[i].first) << "position " << i;
    EXPECT_EQ(type.tags, kTags);
    EXPECT_EQ(type.isEnum ? type.values.size() : type.fields.size(), expected[i].second);
    EXPECT_EQ(registry_.LookupTypeByNumber(type.identityNumber), &type);
    // Keys bound to native members out of order show up as offsets out of order.
    for (std::size_t f = 1; f < type.fields.size(); ++f) {
      EXPECT_GT(type.fields[f].offset, type.fields[f - 1].offset) << type.fields[f].name;
    }
    EXPECT_LT(type.fields.empty() ? 0 : type.fields.back().offset, type.size) << type.name;
  }
}

// JSON text -> native -> value -> host value -> value -> native -> value, the way records reach
// and leave the host: every member must come back as it went in, in name order.
template <typename T>
void ExpectRoundTrip(const BindingRegistry& registry, const std::string& json) {
  const BindingResult input = formats::ParseJson(json);
  const auto text = [&](const auto& v) { return formats::ToJson(v, &registry, ""); };
  // Every member of the text differs from its default, or the trip would prove nothing for it.
  const BindingResult defaults = binding::NativeToValue(registry, T{});
  ASSERT_EQ(input.size(), defaults.size()) << "the text names every member";
  for (const binding::MemberView member : input.members()) {
    EXPECT_NE(text(member.value), text(defaults.member(member.name))) << member.name;
  }
  T record, copy;
  const BindingResult in = binding::ValueToNative(registry, input, record, "record");
  ASSERT_TRUE(in.ok()) << in.ErrorText();
  const BindingResult value = binding::NativeToValue(registry, record);
  HostValue host = binding::ToHostValue(value, &registry);
  HostError error{};
  binding::BindingProperty back;
  EXPECT_TRUE(binding::FromHostValue(error, back, host, "record")) << error.message;
  binding::ReleaseHostValue(host);
  if (error.message != nullptr) base::PluginFree(const_cast<char*>(error.message));
  const BindingResult out = binding::ValueToNative(registry, back, copy, "record");
  ASSERT_TRUE(out.ok()) << out.ErrorText();
  EXPECT_EQ(text(binding::NativeToValue(registry, copy)), json);
}

// End-of-game statistics with a team and a player. Members of a kind differ from each other, so
// that two swapped or one dropped show; numbers reach the ends of their types.
const std::string kStats =
    R"({"accountId":313,"basePoints":316,"battleBoostIpEarned":317,"boostIpEarned":318,)"
    R"("boostXpEarned":326,"causedEarlySurrender":true,"championId":315,)"
    R"("coOpVsAiMinutesLeftToday":332,"coOpVsAiMsecsUntilReset":333,"completionBonusPoints":327,)"
    R"("customMinutesLeftToday":334,"customMsecsUntilReset":335,"difficulty":"hard",)"
    R"("duneBonusIp":323,"earlySurrenderAccomplice":true,"elo":-303,"eloChange":304,)"
    R"("experienceEarned":328,"experienceTotal":329,"firstWinBonus":319,)"
    R"("gameEndedInEarlySurrender":true,"gameId":18446744073709551615,"gameLength":301,)"
    R"("gameMode":"CLASSIC","gameMutators":["one","","three"],"gameType":"MATCHED",)"
    R"("imbalancedTeamsNoPoints":true,"invalid":true,"ipEarned":320,"ipTotal":321,)"
    R"("isMireGame":true,"leveledUp":true,"loyaltyBoostIpEarned":322,"loyaltyBoostXpEarned":330,)"
    R"("myTeamStatus":"mine","newSpells":[305],"partyRewardsBonusIpEarned":324,)"
    R"("pointsPenalties":{"afk":[true,false,")" "\xC3\xBC" R"("]},"previousLevel":307,)"
    R"("previousXpTotal":331,"queueBonusEarned":325,"queueType":"queue","ranked":true,)"
    R"("reportGameId":302,"rerollData":{"pointChangeFromChampionsOwned":201,)"
    R"("pointChangeFromGameplay":-202,"pointsUntilNextReroll":205,"pointsUsed":203,)"
    R"("previousPoints":204,"rerollCount":206,"totalPoints":2147483647},"roomName":"room",)"
    R"("roomPassword":"password","sendStatsToTournamentProvider":true,"skinId":310,)"
    R"("skinIndex":309,"summonerId":314,"summonerName":"s","talentPointsGained":311,)"
    R"("teamEarlySurrendered":true,"teams":[{"championBans":[1,-2,2147483647],"fullId":"full-id",)"
    R"("isBottomTeam":true,"isPlayerTeam":true,"isWinningTeam":true,)"
    R"("memberStatusString":"status","name":"team","players":[{"botPlayer":true,"championId":101,)"
    R"("elo":-102,"eloChange":103,"gameId":18446744073709551511,"isReportingDisabled":true,)"
    R"("items":[-2147483648,0,2147483647],"leaver":true,"leaves":105,"level":106,"losses":107,)"
    R"("profileIconId":108,"skinName":"skin","spell1Id":109,"spell2Id":110,"stats":{"kills":[3,)"
    R"(-1.5]},"summonerId":114,"summonerName":"summoner","teamId":111,"userId":112,"wins":113}],)"
    R"("stats":{"towers":null},"tag":"TAG","teamId":-2147483648}],)"
    R"("timeUntilNextFirstWinBonus":-2147483648,"tpEarned":308,"userId":312})";

// The survey, event and results records are pinned member by member where they are used: the
// feature tests through the library, and the upload test.
TEST_F(PftTypes, RecordsLoseNothingThroughTheHost) {
  using Trip = void (*)(const BindingRegistry&, const std::string&);
  struct Case { const char* desc; Trip trip; std::string json; };
  const Case cases[] = {
      {"metadata", ExpectRoundTrip<Metadata>,
       R"({"accountId":401,"appName":"app","appVersion":"1.2.3","env":"EUW 1","locale":"de_DE",)"
       R"("stats":)" + kStats + R"(,"systemOs":"Linux","webRegion":"euw"})"},
      {"login session", ExpectRoundTrip<LoginSession>,
       R"({"accountId":502,"idToken":"t","puuid":"p","state":"ERROR","summonerId":501})"},
      {"game flow", ExpectRoundTrip<GameflowSession>,
       R"({"gameDodge":{"dodgeIds":[1,18446744073709551615],"state":"TournamentDodged"},)"
       R"("phase":"TerminatedInError"})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    c.trip(registry_, c.json);
  }
}

}  // namespace
}  // namespace vyn::pft
