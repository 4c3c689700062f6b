// The feedback tool's records: their registration (names, identities, members and order), the
// conversions the feature depends on, and round trips through values and host values that must
// lose nothing.
#include "pft/PftTypes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/AssignValue.h"
#include "binding/BindingRegistry.h"
#include "binding/BindingType.h"
#include "binding/HostValueConversion.h"
#include "binding/RecordToValue.h"
#include "formats/Json.h"
#include "plugin/HostAbi.h"
#include "plugin/PluginAllocator.h"

namespace vyn::pft::types_test {
namespace {

using namespace Tarn::Client::Pft::Api;
using binding::BindingProperty;
using binding::BindingPropertyKind;
using binding::BindingRegistry;
using binding::BindingResult;
using binding::BindingType;
using binding::BindingTypeKind;
using binding::TypeIdOf;

constexpr uint64_t kMaxU64 = std::numeric_limits<uint64_t>::max();
constexpr int32_t kMinI32 = std::numeric_limits<int32_t>::min();
constexpr int32_t kMaxI32 = std::numeric_limits<int32_t>::max();

const std::vector<std::string> kTags{"Plugins", "Plugin vyn-pft"};

class PftTypesFixture : public ::testing::Test {
 protected:
  PftTypesFixture() { RegisterPftTypes(registry_, "VynPft", kTags); }

  // Null (and a failure) when the name is not registered.
  const BindingType* Type(std::string_view registeredName) const {
    const BindingType* type = registry_.LookupType("VynPft" + std::string(registeredName));
    EXPECT_NE(type, nullptr) << registeredName;
    return type;
  }

  BindingRegistry registry_;
};

// --- Registration ------------------------------------------------------------------------------

using PftTypeRegistration = PftTypesFixture;

TEST_F(PftTypeRegistration, RegistersSixteenTypesInOrderWithTheirIdentities) {
  struct Row {
    const char* name;
    uint32_t number;
    const binding::BindingTypeId* identity;
    bool isEnum;
    std::size_t size;
  };
  const Row rows[] = {
      {"VynPftPFTSurvey", 0x958D81F0, TypeIdOf<PFTSurvey>(), false, sizeof(PFTSurvey)},
      {"VynPftPFTSurveyV1", 0x11B904CF, TypeIdOf<PFTSurveyV1>(), false, sizeof(PFTSurveyV1)},
      {"VynPftPFTEvent", 0x49A2EFB0, TypeIdOf<PFTEvent>(), false, sizeof(PFTEvent)},
      {"VynPftPFTQuestionResponse", 0x53A00B6F, TypeIdOf<PFTQuestionResponse>(), false,
       sizeof(PFTQuestionResponse)},
      {"VynPftPFTSurveyResults", 0xC463B930, TypeIdOf<SurveyResults>(), false,
       sizeof(SurveyResults)},
      {"VynPftPFTEndOfGamePlayer", 0x2558CE4D, TypeIdOf<PFTEndOfGamePlayer>(), false,
       sizeof(PFTEndOfGamePlayer)},
      {"VynPftPFTEndOfGameTeam", 0x3E35F1E5, TypeIdOf<PFTEndOfGameTeam>(), false,
       sizeof(PFTEndOfGameTeam)},
      {"VynPftPFTEndOfGamePoints", 0x00F66503, TypeIdOf<PFTEndOfGamePoints>(), false,
       sizeof(PFTEndOfGamePoints)},
      {"VynPftPFTEndOfGameStats", 0x68EBCAAA, TypeIdOf<EoGStats>(), false, sizeof(EoGStats)},
      {"VynPftPFTMetadata", 0x2BE337E1, TypeIdOf<Metadata>(), false, sizeof(Metadata)},
      {"VynPftLoginSessionStates", 0x2F816218, TypeIdOf<LoginSessionStates>(), true, 4},
      {"VynPftLoginSession", 0xE1372367, TypeIdOf<LoginSession>(), false, sizeof(LoginSession)},
      {"VynPftGameflowPhase", 0x34240FCF, TypeIdOf<GameflowPhase>(), true, 4},
      {"VynPftGameflowGameDodgeState", 0xC00E5C76, TypeIdOf<GameflowGameDodgeState>(), true, 4},
      {"VynPftGameflowGameDodge", 0x1C39C77D, TypeIdOf<GameflowGameDodge>(), false,
       sizeof(GameflowGameDodge)},
      {"VynPftGameflowSession", 0x55BB030A, TypeIdOf<GameflowSession>(), false,
       sizeof(GameflowSession)},
  };
  constexpr std::size_t kCount = std::size(rows);

  // The feature's types come last, after the built-in ones.
  const std::vector<const BindingType*> types = registry_.TypesSnapshot();
  ASSERT_GE(types.size(), kCount);
  const std::size_t first = types.size() - kCount;
  if (first > 0) {
    EXPECT_NE(types[first - 1]->name.rfind("VynPft", 0), 0u);
  }
  for (std::size_t i = 0; i < kCount; ++i) {
    const Row& row = rows[i];
    const BindingType& type = *types[first + i];
    EXPECT_EQ(type.name, row.name) << "position " << i;
    EXPECT_EQ(type.identityNumber, row.number) << row.name;
    EXPECT_EQ(type.identity, row.identity) << row.name;
    EXPECT_EQ(row.identity->number, row.number) << row.name;
    EXPECT_EQ(registry_.LookupTypeByNumber(row.number), &type) << row.name;
    EXPECT_EQ(type.isEnum, row.isEnum) << row.name;
    EXPECT_EQ(type.size, row.size) << row.name;
    EXPECT_EQ(type.tags, kTags) << row.name;
    EXPECT_EQ(type.description, "") << row.name;
    EXPECT_EQ(type.nameSpace, "") << row.name;
  }
}

// One member as "name:kind", with the element kind of lists and maps in angle brackets and the
// name of the described type after records and enumerations ("?" when it was not found).
std::string DescribedKind(BindingTypeKind kind, const BindingType* type) {
  std::string text = binding::BindingTypeKindName(kind);
  if (kind == BindingTypeKind::Struct || kind == BindingTypeKind::Enum) {
    text += " " + (type != nullptr ? type->name : std::string("?"));
  }
  return text;
}

std::string MemberList(const BindingType& type) {
  std::string text;
  for (const binding::BindingField& field : type.fields) {
    if (!text.empty()) text += ", ";
    text += field.name + ":";
    if (field.type.kind == BindingTypeKind::Vector || field.type.kind == BindingTypeKind::Map) {
      text += std::string(binding::BindingTypeKindName(field.type.kind)) + "<" +
              DescribedKind(field.type.elementKind, field.type.type) + ">";
    } else {
      text += DescribedKind(field.type.kind, field.type.type);
    }
  }
  return text;
}

TEST_F(PftTypeRegistration, DescribesEveryMemberInDeclarationOrder) {
  struct Row {
    const char* type;
    const char* members;
  };
  const Row rows[] = {
      {"PFTSurvey",
       "id:uint64, title:string, caption:string, type:string, display:string, data:map<object>"},
      {"PFTSurveyV1", "id:uint64, title:string, caption:string, type:string, url:string"},
      {"PFTEvent", "playerSurveyId:uint64, action:string, data:vector<object>"},
      {"PFTQuestionResponse", "questionId:uint64, responseData:object"},
      {"PFTSurveyResults",
       "questionResponses:vector<struct VynPftPFTQuestionResponse>, "
       "actions:vector<struct VynPftPFTEvent>"},
      {"PFTEndOfGamePlayer",
       "stats:object, items:vector<int32>, botPlayer:bool, championId:int32, elo:int32, "
       "eloChange:int32, isReportingDisabled:bool, gameId:uint64, leaver:bool, leaves:int32, "
       "level:int32, losses:int32, profileIconId:int32, skinName:string, spell1Id:int32, "
       "spell2Id:int32, summonerName:string, teamId:int32, userId:uint64, wins:int32, "
       "summonerId:uint64"},
      {"PFTEndOfGameTeam",
       "stats:object, players:vector<struct VynPftPFTEndOfGamePlayer>, "
       "memberStatusString:string, name:string, tag:string, fullId:string, teamId:int32, "
       "isBottomTeam:bool, isPlayerTeam:bool, isWinningTeam:bool, championBans:vector<int32>"},
      {"PFTEndOfGamePoints",
       "pointChangeFromChampionsOwned:int32, pointChangeFromGameplay:int32, pointsUsed:int32, "
       "previousPoints:int32, pointsUntilNextReroll:int32, rerollCount:int32, "
       "totalPoints:int32"},
      {"PFTEndOfGameStats",
       "difficulty:string, gameId:uint64, gameLength:int32, gameMode:string, "
       "gameMutators:vector<string>, gameType:string, imbalancedTeamsNoPoints:bool, "
       "invalid:bool, queueType:string, ranked:bool, reportGameId:uint64, roomName:string, "
       "roomPassword:string, sendStatsToTournamentProvider:bool, "
       "teams:vector<struct VynPftPFTEndOfGameTeam>, myTeamStatus:string, elo:int32, "
       "eloChange:int32, leveledUp:bool, newSpells:vector<int32>, previousLevel:uint64, "
       "tpEarned:int32, skinIndex:int32, skinId:int32, summonerName:string, "
       "talentPointsGained:int32, userId:uint64, accountId:uint64, summonerId:uint64, "
       "championId:int32, basePoints:int32, battleBoostIpEarned:int32, boostIpEarned:int32, "
       "firstWinBonus:int32, ipEarned:int32, ipTotal:int32, loyaltyBoostIpEarned:int32, "
       "duneBonusIp:int32, partyRewardsBonusIpEarned:int32, pointsPenalties:object, "
       "queueBonusEarned:int32, boostXpEarned:int32, completionBonusPoints:int32, "
       "experienceEarned:int32, experienceTotal:int32, loyaltyBoostXpEarned:int32, "
       "previousXpTotal:uint64, coOpVsAiMinutesLeftToday:int32, coOpVsAiMsecsUntilReset:int32, "
       "customMinutesLeftToday:int32, customMsecsUntilReset:int32, "
       "timeUntilNextFirstWinBonus:int32, causedEarlySurrender:bool, "
       "earlySurrenderAccomplice:bool, teamEarlySurrendered:bool, "
       "gameEndedInEarlySurrender:bool, isMireGame:bool, "
       "rerollData:struct VynPftPFTEndOfGamePoints"},
      {"PFTMetadata",
       "accountId:uint64, env:string, webRegion:string, locale:string, appName:string, "
       "appVersion:string, systemOs:string, stats:struct VynPftPFTEndOfGameStats"},
      {"LoginSession",
       "state:enum VynPftLoginSessionStates, summonerId:uint64, accountId:uint64, "
       "puuid:string, idToken:string"},
      {"GameflowGameDodge",
       "state:enum VynPftGameflowGameDodgeState, dodgeIds:vector<uint64>"},
      {"GameflowSession",
       "phase:enum VynPftGameflowPhase, gameDodge:struct VynPftGameflowGameDodge"},
  };
  for (const Row& row : rows) {
    const BindingType* type = Type(row.type);
    if (type == nullptr) continue;
    EXPECT_EQ(MemberList(*type), row.members) << row.type;
    uint32_t previousOffset = 0;
    for (std::size_t i = 0; i < type->fields.size(); ++i) {
      const binding::BindingField& field = type->fields[i];
      // Keys bound to native members out of order show up as offsets out of order.
      if (i > 0) {
        EXPECT_GT(field.offset, previousOffset) << row.type << "." << field.name;
      }
      previousOffset = field.offset;
      EXPECT_LT(field.offset, type->size) << row.type << "." << field.name;
      EXPECT_EQ(field.description, "") << row.type << "." << field.name;
      EXPECT_EQ(field.flags, 0u) << row.type << "." << field.name;
      EXPECT_FALSE(field.optional) << row.type << "." << field.name;
      EXPECT_EQ(field.owner, type) << row.type << "." << field.name;
    }
  }
  EXPECT_EQ(Type("PFTEndOfGameStats")->fields.size(), 58u);
}

TEST_F(PftTypeRegistration, EnumeratorsCarryTheirNumbers) {
  struct Row {
    const char* type;
    std::vector<std::pair<std::string, int32_t>> values;  // in name order
  };
  const Row rows[] = {
      {"LoginSessionStates",
       {{"ERROR", 3}, {"IN_PROGRESS", 0}, {"LOGGING_OUT", 2}, {"SUCCEEDED", 1}}},
      {"GameflowPhase",
       {{"ChampSelect", 5}, {"CheckedIntoTournament", 3}, {"EndOfGame", 12},
        {"FailedToLaunch", 7}, {"GameStart", 6}, {"InProgress", 8}, {"Lobby", 1},
        {"Matchmaking", 2}, {"None", 0}, {"PreEndOfGame", 11}, {"ReadyCheck", 4},
        {"Reconnect", 9}, {"TerminatedInError", 13}, {"WaitingForStats", 10}}},
      {"GameflowGameDodgeState",
       {{"Invalid", 48}, {"PartyDodged", 49}, {"StrangerDodged", 50}, {"TournamentDodged", 51}}},
  };
  for (const Row& row : rows) {
    const BindingType* type = Type(row.type);
    if (type == nullptr) continue;
    std::vector<std::pair<std::string, int32_t>> values;
    for (const auto& [name, value] : type->values) {
      values.emplace_back(name, value.number);
      EXPECT_EQ(value.description, "") << row.type << "." << name;
    }
    EXPECT_EQ(values, row.values) << row.type;
  }
  EXPECT_EQ(static_cast<int32_t>(GameflowGameDodgeState::PartyDodged), 49);
  EXPECT_EQ(static_cast<int32_t>(LoginSessionStates::Error), 3);
  EXPECT_EQ(static_cast<int32_t>(GameflowPhase::EndOfGame), 12);
}

TEST_F(PftTypeRegistration, SecondRegistrationKeepsTheFirst) {
  const std::size_t typeCount = registry_.TypesSnapshot().size();
  const std::vector<std::string> otherTags{"Other"};
  RegisterPftTypes(registry_, "VynPft", otherTags);

  EXPECT_EQ(registry_.TypesSnapshot().size(), typeCount);
  for (const char* name : {"PFTSurvey", "PFTEndOfGameStats", "LoginSessionStates"}) {
    const BindingType* type = Type(name);
    if (type == nullptr) continue;
    EXPECT_EQ(type->tags, kTags) << name;
  }
  EXPECT_EQ(Type("PFTEndOfGameStats")->fields.size(), 58u);
  EXPECT_EQ(Type("PFTSurvey")->fields.size(), 6u);
  EXPECT_EQ(Type("LoginSessionStates")->values.size(), 4u);
}

TEST(PftEventTypes, AreTheServiceTexts) {
  EXPECT_STREQ(kEventTypeEndOfGame, "END_OF_GAME");
  EXPECT_STREQ(kEventTypeQueueDodge, "QUEUE_DODGE");
}

// --- Conversions the feature depends on --------------------------------------------------------

using PftRecordConversion = PftTypesFixture;

template <typename T>
BindingResult FromJson(const BindingRegistry& registry, const char* json, T& out) {
  BindingResult parsed = formats::ParseJson(json);
  EXPECT_TRUE(parsed.ok()) << json << ": " << parsed.ErrorText();
  return binding::ValueToNative(registry, parsed, out, "record");
}

TEST_F(PftRecordConversion, ReadsADodgeOfTheGameflowSession) {
  GameflowSession session;
  const BindingResult result = FromJson(
      registry_,
      R"({"phase":"ChampSelect","gameDodge":{"state":"PartyDodged","dodgeIds":[42,7]}})",
      session);
  ASSERT_TRUE(result.ok()) << result.ErrorText();
  EXPECT_EQ(session.phase, GameflowPhase::ChampSelect);
  EXPECT_EQ(static_cast<int32_t>(session.gameDodge.state), 49);
  EXPECT_EQ(session.gameDodge.dodgeIds, (std::vector<uint64_t>{42, 7}));
}

TEST_F(PftRecordConversion, ReadsLoginStatesByNameNotByRegistrationOrder) {
  struct Case {
    const char* desc;
    const char* json;
    int32_t state;  // -1: fails with `error`
    const char* error;
  };
  const Case cases[] = {
      {"registered third", R"({"state":"SUCCEEDED"})", 1, ""},
      {"registered second", R"({"state":"ERROR"})", 3, ""},
      {"registered first", R"({"state":"IN_PROGRESS"})", 0, ""},
      {"registered last", R"({"state":"LOGGING_OUT"})", 2, ""},
      {"a number", R"({"state":2})", 2, ""},
      {"names are case-sensitive", R"({"state":"Succeeded"})", -1,
       "Succeeded is not a valid VynPftLoginSessionStates enumeration value for 'state'."},
      {"no such number", R"({"state":4})", -1,
       "4 is not a valid VynPftLoginSessionStates enumeration value for 'state'."},
  };
  for (const Case& c : cases) {
    LoginSession session;
    const BindingResult result = FromJson(registry_, c.json, session);
    if (c.state < 0) {
      EXPECT_FALSE(result.ok()) << c.desc;
      EXPECT_EQ(result.ErrorText(), c.error) << c.desc;
    } else {
      EXPECT_TRUE(result.ok()) << c.desc << ": " << result.ErrorText();
      EXPECT_EQ(static_cast<int32_t>(session.state), c.state) << c.desc;
    }
  }
  // And back: the number's own name, not the one registered at that position.
  LoginSession failed;
  failed.state = LoginSessionStates::Error;
  const BindingResult value = binding::NativeToValue(registry_, failed);
  ASSERT_TRUE(value.ok()) << value.ErrorText();
  EXPECT_EQ(formats::ToJson(value.member("state"), &registry_, nullptr), R"("ERROR")");
}

TEST_F(PftRecordConversion, WritesASurveyWithoutItsOwnerInNameOrder) {
  PFTSurvey survey;
  survey.id = 7;
  survey.title = "Title";
  survey.caption = "Caption";
  survey.type = "external";
  survey.display = "modal";
  survey.data["url"].setString("https://survey.test/s");
  survey.ownerPuuid = "owner-puuid";

  const BindingResult value = binding::NativeToValue(registry_, survey);
  ASSERT_TRUE(value.ok()) << value.ErrorText();
  EXPECT_EQ(formats::ToJson(value, &registry_, nullptr),
            R"({"caption":"Caption","data":{"url":"https://survey.test/s"},"display":"modal",)"
            R"("id":7,"title":"Title","type":"external"})");

  PFTSurveyV1 older;
  older.ownerPuuid = "owner-puuid";
  const BindingResult olderValue = binding::NativeToValue(registry_, older);
  ASSERT_TRUE(olderValue.ok()) << olderValue.ErrorText();
  EXPECT_EQ(olderValue.size(), 5u);
  EXPECT_EQ(olderValue.member("ownerPuuid").kind(), BindingPropertyKind::Empty);
}

TEST_F(PftRecordConversion, RefusesEventDataThatIsNotAList) {
  struct Case {
    const char* desc;
    const char* json;
  };
  const Case cases[] = {
      {"a number", R"({"playerSurveyId":1,"data":5})"},
      {"a structure", R"({"playerSurveyId":1,"data":{"questionId":1,"value":2}})"},
      {"a text", R"({"playerSurveyId":1,"data":"[]"})"},
  };
  for (const Case& c : cases) {
    PFTEvent event;
    const BindingResult result = FromJson(registry_, c.json, event);
    EXPECT_FALSE(result.ok()) << c.desc;
    EXPECT_EQ(result.ErrorText(),
              "Couldn't assign value to 'data' of type vector because the input not a "
              "collection.")
        << c.desc;
  }
  PFTSurvey survey;
  const BindingResult result = FromJson(registry_, R"({"data":[1]})", survey);
  EXPECT_EQ(result.ErrorText(),
            "Couldn't assign value to 'data' of type map because the input not a structure.");
}

TEST_F(PftRecordConversion, WritesEveryStatisticOfADefaultRecord) {
  const BindingResult value = binding::NativeToValue(registry_, EoGStats{});
  ASSERT_TRUE(value.ok()) << value.ErrorText();
  EXPECT_EQ(value.size(), 58u);
  EXPECT_EQ(
      formats::ToJson(value, &registry_, nullptr),
      R"({"accountId":0,"basePoints":0,"battleBoostIpEarned":0,"boostIpEarned":0,)"
      R"("boostXpEarned":0,"causedEarlySurrender":false,"championId":0,)"
      R"("coOpVsAiMinutesLeftToday":0,"coOpVsAiMsecsUntilReset":0,"completionBonusPoints":0,)"
      R"("customMinutesLeftToday":0,"customMsecsUntilReset":0,"difficulty":"","duneBonusIp":0,)"
      R"("earlySurrenderAccomplice":false,"elo":0,"eloChange":0,"experienceEarned":0,)"
      R"("experienceTotal":0,"firstWinBonus":0,"gameEndedInEarlySurrender":false,"gameId":0,)"
      R"("gameLength":0,"gameMode":"","gameMutators":[],"gameType":"",)"
      R"("imbalancedTeamsNoPoints":false,"invalid":false,"ipEarned":0,"ipTotal":0,)"
      R"("isMireGame":false,"leveledUp":false,"loyaltyBoostIpEarned":0,)"
      R"("loyaltyBoostXpEarned":0,"myTeamStatus":"","newSpells":[],)"
      R"("partyRewardsBonusIpEarned":0,"pointsPenalties":null,"previousLevel":0,)"
      R"("previousXpTotal":0,"queueBonusEarned":0,"queueType":"","ranked":false,)"
      R"("reportGameId":0,"rerollData":{"pointChangeFromChampionsOwned":0,)"
      R"("pointChangeFromGameplay":0,"pointsUntilNextReroll":0,"pointsUsed":0,)"
      R"("previousPoints":0,"rerollCount":0,"totalPoints":0},"roomName":"",)"
      R"("roomPassword":"","sendStatsToTournamentProvider":false,"skinId":0,"skinIndex":0,)"
      R"("summonerId":0,"summonerName":"","talentPointsGained":0,)"
      R"("teamEarlySurrendered":false,"teams":[],"timeUntilNextFirstWinBonus":0,)"
      R"("tpEarned":0,"userId":0})");
  EXPECT_EQ(value.member("gameId").kind(), BindingPropertyKind::Unsigned);
  EXPECT_EQ(value.member("elo").kind(), BindingPropertyKind::Signed);
  EXPECT_EQ(value.member("pointsPenalties").kind(), BindingPropertyKind::Empty);

  // The survey request body carries them all even when no statistics are given.
  const BindingResult metadata = binding::NativeToValue(registry_, Metadata{});
  ASSERT_TRUE(metadata.ok()) << metadata.ErrorText();
  EXPECT_EQ(metadata.member("stats").size(), 58u);
}

// --- Round trips -------------------------------------------------------------------------------

// Deep equality of two values, kinds included (signed 5 is not unsigned 5).
bool SameTree(const BindingProperty& a, const BindingProperty& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case BindingPropertyKind::Empty: return true;
    case BindingPropertyKind::Bool: return a.asBool() == b.asBool();
    case BindingPropertyKind::Signed: return a.asSigned() == b.asSigned();
    case BindingPropertyKind::Unsigned: return a.asUnsigned() == b.asUnsigned();
    case BindingPropertyKind::Float: return a.asFloat() == b.asFloat();
    case BindingPropertyKind::String: return a.asString() == b.asString();
    case BindingPropertyKind::Blob: {
      const auto x = a.asBlob();
      const auto y = b.asBlob();
      return std::equal(x.begin(), x.end(), y.begin(), y.end());
    }
    case BindingPropertyKind::Enum:
      return a.asEnum().number == b.asEnum().number && a.asEnum().type == b.asEnum().type;
    case BindingPropertyKind::Collection: {
      if (a.size() != b.size()) return false;
      for (uint32_t i = 0; i < a.size(); ++i) {
        if (!SameTree(a.element(i), b.element(i))) return false;
      }
      return true;
    }
    case BindingPropertyKind::Structure: {
      if (a.size() != b.size()) return false;
      for (const binding::MemberView member : a.members()) {
        if (!SameTree(member.value, b.member(member.name))) return false;
      }
      return true;
    }
  }
  return false;
}

void ExpectSame(const BindingProperty& a, const BindingProperty& b, const std::string& path) {
  EXPECT_TRUE(SameTree(a, b)) << path << ": " << formats::ToJson(a, nullptr, nullptr) << " vs "
                              << formats::ToJson(b, nullptr, nullptr);
}
void ExpectSame(const PFTSurvey& a, const PFTSurvey& b, const std::string& path);
void ExpectSame(const PFTSurveyV1& a, const PFTSurveyV1& b, const std::string& path);
void ExpectSame(const PFTEvent& a, const PFTEvent& b, const std::string& path);
void ExpectSame(const PFTQuestionResponse& a, const PFTQuestionResponse& b,
                const std::string& path);
void ExpectSame(const SurveyResults& a, const SurveyResults& b, const std::string& path);
void ExpectSame(const PFTEndOfGamePlayer& a, const PFTEndOfGamePlayer& b,
                const std::string& path);
void ExpectSame(const PFTEndOfGameTeam& a, const PFTEndOfGameTeam& b, const std::string& path);
void ExpectSame(const PFTEndOfGamePoints& a, const PFTEndOfGamePoints& b,
                const std::string& path);
void ExpectSame(const EoGStats& a, const EoGStats& b, const std::string& path);
void ExpectSame(const Metadata& a, const Metadata& b, const std::string& path);
void ExpectSame(const LoginSession& a, const LoginSession& b, const std::string& path);
void ExpectSame(const GameflowGameDodge& a, const GameflowGameDodge& b,
                const std::string& path);
void ExpectSame(const GameflowSession& a, const GameflowSession& b, const std::string& path);

// Scalars, texts and enumerations.
template <typename T>
void ExpectSame(const T& a, const T& b, const std::string& path) {
  EXPECT_TRUE(a == b) << path;
}
template <typename T>
void ExpectSame(const std::vector<T>& a, const std::vector<T>& b, const std::string& path) {
  ASSERT_EQ(a.size(), b.size()) << path;
  for (std::size_t i = 0; i < a.size(); ++i) {
    ExpectSame(a[i], b[i], path + "[" + std::to_string(i) + "]");
  }
}
template <typename T>
void ExpectSame(const std::unordered_map<std::string, T>& a,
                const std::unordered_map<std::string, T>& b, const std::string& path) {
  ASSERT_EQ(a.size(), b.size()) << path;
  for (const auto& [key, value] : a) {
    const auto found = b.find(key);
    ASSERT_NE(found, b.end()) << path << "." << key;
    ExpectSame(value, found->second, path + "." + key);
  }
}

// Compares one member of `a` and `b` under its own name; a macro so that the name in the message
// and the member compared cannot drift apart.
#define PFT_SAME(member) ExpectSame(a.member, b.member, path + "." #member)

// The owner is left out on purpose: it never leaves the plugin.
void ExpectSame(const PFTSurvey& a, const PFTSurvey& b, const std::string& path) {
  PFT_SAME(id);
  PFT_SAME(title);
  PFT_SAME(caption);
  PFT_SAME(type);
  PFT_SAME(display);
  PFT_SAME(data);
}
void ExpectSame(const PFTSurveyV1& a, const PFTSurveyV1& b, const std::string& path) {
  PFT_SAME(id);
  PFT_SAME(title);
  PFT_SAME(caption);
  PFT_SAME(type);
  PFT_SAME(url);
}
void ExpectSame(const PFTEvent& a, const PFTEvent& b, const std::string& path) {
  PFT_SAME(playerSurveyId);
  PFT_SAME(action);
  PFT_SAME(data);
}
void ExpectSame(const PFTQuestionResponse& a, const PFTQuestionResponse& b,
                const std::string& path) {
  PFT_SAME(questionId);
  PFT_SAME(responseData);
}
void ExpectSame(const SurveyResults& a, const SurveyResults& b, const std::string& path) {
  PFT_SAME(questionResponses);
  PFT_SAME(actions);
}
void ExpectSame(const PFTEndOfGamePlayer& a, const PFTEndOfGamePlayer& b,
                const std::string& path) {
  PFT_SAME(stats);
  PFT_SAME(items);
  PFT_SAME(botPlayer);
  PFT_SAME(championId);
  PFT_SAME(elo);
  PFT_SAME(eloChange);
  PFT_SAME(isReportingDisabled);
  PFT_SAME(gameId);
  PFT_SAME(leaver);
  PFT_SAME(leaves);
  PFT_SAME(level);
  PFT_SAME(losses);
  PFT_SAME(profileIconId);
  PFT_SAME(skinName);
  PFT_SAME(spell1Id);
  PFT_SAME(spell2Id);
  PFT_SAME(summonerName);
  PFT_SAME(teamId);
  PFT_SAME(userId);
  PFT_SAME(wins);
  PFT_SAME(summonerId);
}
void ExpectSame(const PFTEndOfGameTeam& a, const PFTEndOfGameTeam& b, const std::string& path) {
  PFT_SAME(stats);
  PFT_SAME(players);
  PFT_SAME(memberStatusString);
  PFT_SAME(name);
  PFT_SAME(tag);
  PFT_SAME(fullId);
  PFT_SAME(teamId);
  PFT_SAME(isBottomTeam);
  PFT_SAME(isPlayerTeam);
  PFT_SAME(isWinningTeam);
  PFT_SAME(championBans);
}
void ExpectSame(const PFTEndOfGamePoints& a, const PFTEndOfGamePoints& b,
                const std::string& path) {
  PFT_SAME(pointChangeFromChampionsOwned);
  PFT_SAME(pointChangeFromGameplay);
  PFT_SAME(pointsUsed);
  PFT_SAME(previousPoints);
  PFT_SAME(pointsUntilNextReroll);
  PFT_SAME(rerollCount);
  PFT_SAME(totalPoints);
}
void ExpectSame(const EoGStats& a, const EoGStats& b, const std::string& path) {
  PFT_SAME(difficulty);
  PFT_SAME(gameId);
  PFT_SAME(gameLength);
  PFT_SAME(gameMode);
  PFT_SAME(gameMutators);
  PFT_SAME(gameType);
  PFT_SAME(imbalancedTeamsNoPoints);
  PFT_SAME(invalid);
  PFT_SAME(queueType);
  PFT_SAME(ranked);
  PFT_SAME(reportGameId);
  PFT_SAME(roomName);
  PFT_SAME(roomPassword);
  PFT_SAME(sendStatsToTournamentProvider);
  PFT_SAME(teams);
  PFT_SAME(myTeamStatus);
  PFT_SAME(elo);
  PFT_SAME(eloChange);
  PFT_SAME(leveledUp);
  PFT_SAME(newSpells);
  PFT_SAME(previousLevel);
  PFT_SAME(tpEarned);
  PFT_SAME(skinIndex);
  PFT_SAME(skinId);
  PFT_SAME(summonerName);
  PFT_SAME(talentPointsGained);
  PFT_SAME(userId);
  PFT_SAME(accountId);
  PFT_SAME(summonerId);
  PFT_SAME(championId);
  PFT_SAME(basePoints);
  PFT_SAME(battleBoostIpEarned);
  PFT_SAME(boostIpEarned);
  PFT_SAME(firstWinBonus);
  PFT_SAME(ipEarned);
  PFT_SAME(ipTotal);
  PFT_SAME(loyaltyBoostIpEarned);
  PFT_SAME(duneBonusIp);
  PFT_SAME(partyRewardsBonusIpEarned);
  PFT_SAME(pointsPenalties);
  PFT_SAME(queueBonusEarned);
  PFT_SAME(boostXpEarned);
  PFT_SAME(completionBonusPoints);
  PFT_SAME(experienceEarned);
  PFT_SAME(experienceTotal);
  PFT_SAME(loyaltyBoostXpEarned);
  PFT_SAME(previousXpTotal);
  PFT_SAME(coOpVsAiMinutesLeftToday);
  PFT_SAME(coOpVsAiMsecsUntilReset);
  PFT_SAME(customMinutesLeftToday);
  PFT_SAME(customMsecsUntilReset);
  PFT_SAME(timeUntilNextFirstWinBonus);
  PFT_SAME(causedEarlySurrender);
  PFT_SAME(earlySurrenderAccomplice);
  PFT_SAME(teamEarlySurrendered);
  PFT_SAME(gameEndedInEarlySurrender);
  PFT_SAME(isMireGame);
  PFT_SAME(rerollData);
}
void ExpectSame(const Metadata& a, const Metadata& b, const std::string& path) {
  PFT_SAME(accountId);
  PFT_SAME(env);
  PFT_SAME(webRegion);
  PFT_SAME(locale);
  PFT_SAME(appName);
  PFT_SAME(appVersion);
  PFT_SAME(systemOs);
  PFT_SAME(stats);
}
void ExpectSame(const LoginSession& a, const LoginSession& b, const std::string& path) {
  PFT_SAME(state);
  PFT_SAME(summonerId);
  PFT_SAME(accountId);
  PFT_SAME(puuid);
  PFT_SAME(idToken);
}
void ExpectSame(const GameflowGameDodge& a, const GameflowGameDodge& b,
                const std::string& path) {
  PFT_SAME(state);
  PFT_SAME(dodgeIds);
}
void ExpectSame(const GameflowSession& a, const GameflowSession& b, const std::string& path) {
  PFT_SAME(phase);
  PFT_SAME(gameDodge);
}

#undef PFT_SAME

// A value of every kind a host value carries, nested; `seed` makes two trees differ.
BindingProperty RichTree(uint8_t seed) {
  BindingProperty tree;
  tree.makeStructure();
  tree.memberAt("flag").setBool(true);
  tree.memberAt("negative").setSigned(-1 - seed);
  tree.memberAt("huge").setUnsigned(kMaxU64 - seed);
  tree.memberAt("real").setFloat(0.1 + seed);
  tree.memberAt("text").setString("\xC3\xBC \"quoted\"\n");
  tree.memberAt("bytes").setBlob(std::vector<uint8_t>{0, 255, seed});
  tree.memberAt("nothing");
  BindingProperty& list = tree.memberAt("list");
  list.makeCollection();
  list.appendElement().setSigned(seed);
  list.appendElement();  // an empty element
  list.appendElement().makeStructure();
  list.elementAt(2).memberAt("inner").setString("deep");
  return tree;
}

// Every member differs from its default, and members of a kind differ from each other, so that
// two members swapped or one dropped cannot go unnoticed.
void Fill(PFTSurvey& s) {
  s.id = kMaxU64;
  s.title = "Title \xE2\x9C\x93";
  s.caption = "Caption\r\nsecond line";
  s.type = "external";
  s.display = "modal";
  s.data["url"].setString("https://survey.test/s?a=1&b=2");
  s.data["questions"] = RichTree(1);
  s.ownerPuuid = "owner-puuid";
}
void Fill(PFTSurveyV1& s) {
  s.id = 1ull << 63;
  s.title = "V1 title";
  s.caption = "V1 caption";
  s.type = "external";
  s.url = "https://survey.test/v1";
  s.ownerPuuid = "owner-puuid";
}
void Fill(PFTEvent& e) {
  e.playerSurveyId = (1ull << 53) + 1;  // not exact as a double
  e.action = "submit";
  BindingProperty answer;
  answer.makeStructure();
  answer.memberAt("questionId").setUnsigned(3);
  answer.memberAt("value") = RichTree(2);
  e.data.push_back(answer);
  e.data.emplace_back().setString("free text");
  e.data.emplace_back();  // an empty answer
}
void Fill(PFTQuestionResponse& r) {
  r.questionId = 77;
  r.responseData = RichTree(3);
}
void Fill(SurveyResults& r) {
  Fill(r.questionResponses.emplace_back());
  r.questionResponses.emplace_back().questionId = 5;
  Fill(r.actions.emplace_back());
  r.actions.emplace_back().action = "close";
}
void Fill(PFTEndOfGamePlayer& p) {
  p.stats = RichTree(4);
  p.items = {kMinI32, 0, kMaxI32};
  p.botPlayer = true;
  p.championId = 101;
  p.elo = -102;
  p.eloChange = 103;
  p.isReportingDisabled = true;
  p.gameId = kMaxU64 - 104;
  p.leaver = true;
  p.leaves = 105;
  p.level = 106;
  p.losses = 107;
  p.profileIconId = 108;
  p.skinName = "skin";
  p.spell1Id = 109;
  p.spell2Id = 110;
  p.summonerName = "summoner";
  p.teamId = 111;
  p.userId = 112;
  p.wins = 113;
  p.summonerId = 114;
}
void Fill(PFTEndOfGameTeam& t) {
  t.stats = RichTree(5);
  Fill(t.players.emplace_back());
  t.players.emplace_back().summonerName = "second";
  t.memberStatusString = "status";
  t.name = "team";
  t.tag = "TAG";
  t.fullId = "full-id";
  t.teamId = kMinI32;
  t.isBottomTeam = true;
  t.isPlayerTeam = true;
  t.isWinningTeam = true;
  t.championBans = {1, -2, kMaxI32};
}
void Fill(PFTEndOfGamePoints& p) {
  p.pointChangeFromChampionsOwned = 201;
  p.pointChangeFromGameplay = -202;
  p.pointsUsed = 203;
  p.previousPoints = 204;
  p.pointsUntilNextReroll = 205;
  p.rerollCount = 206;
  p.totalPoints = kMaxI32;
}
void Fill(EoGStats& s) {
  s.difficulty = "difficulty";
  s.gameId = kMaxU64;
  s.gameLength = 301;
  s.gameMode = "CLASSIC";
  s.gameMutators = {"one", "", "three"};
  s.gameType = "MATCHED_GAME";
  s.imbalancedTeamsNoPoints = true;
  s.invalid = true;
  s.queueType = "queue";
  s.ranked = true;
  s.reportGameId = 302;
  s.roomName = "room";
  s.roomPassword = "password";
  s.sendStatsToTournamentProvider = true;
  Fill(s.teams.emplace_back());
  s.teams.emplace_back().name = "other team";
  s.myTeamStatus = "my team";
  s.elo = -303;
  s.eloChange = 304;
  s.leveledUp = true;
  s.newSpells = {305, 306};
  s.previousLevel = 307;
  s.tpEarned = 308;
  s.skinIndex = 309;
  s.skinId = 310;
  s.summonerName = "stats summoner";
  s.talentPointsGained = 311;
  s.userId = 312;
  s.accountId = 313;
  s.summonerId = 314;
  s.championId = 315;
  s.basePoints = 316;
  s.battleBoostIpEarned = 317;
  s.boostIpEarned = 318;
  s.firstWinBonus = 319;
  s.ipEarned = 320;
  s.ipTotal = 321;
  s.loyaltyBoostIpEarned = 322;
  s.duneBonusIp = 323;
  s.partyRewardsBonusIpEarned = 324;
  s.pointsPenalties = RichTree(6);
  s.queueBonusEarned = 325;
  s.boostXpEarned = 326;
  s.completionBonusPoints = 327;
  s.experienceEarned = 328;
  s.experienceTotal = 329;
  s.loyaltyBoostXpEarned = 330;
  s.previousXpTotal = 331;
  s.coOpVsAiMinutesLeftToday = 332;
  s.coOpVsAiMsecsUntilReset = 333;
  s.customMinutesLeftToday = 334;
  s.customMsecsUntilReset = 335;
  s.timeUntilNextFirstWinBonus = kMinI32;
  s.causedEarlySurrender = true;
  s.earlySurrenderAccomplice = true;
  s.teamEarlySurrendered = true;
  s.gameEndedInEarlySurrender = true;
  s.isMireGame = true;
  Fill(s.rerollData);
}
void Fill(Metadata& m) {
  m.accountId = 401;
  m.env = "EUW 1";
  m.webRegion = "euw";
  m.locale = "de_DE";
  m.appName = "app";
  m.appVersion = "1.2.3";
  m.systemOs = "Linux";
  Fill(m.stats);
}
void Fill(LoginSession& s) {
  s.state = LoginSessionStates::Error;
  s.summonerId = 501;
  s.accountId = 502;
  s.puuid = "puuid";
  s.idToken = "token";
}
void Fill(GameflowGameDodge& d) {
  d.state = GameflowGameDodgeState::TournamentDodged;
  d.dodgeIds = {1, kMaxU64};
}
void Fill(GameflowSession& s) {
  s.phase = GameflowPhase::TerminatedInError;
  Fill(s.gameDodge);
}

// native → value → host value → value → native, the way records reach and leave the host.
template <typename T>
T ThroughTheHost(const BindingRegistry& registry, const T& original) {
  const BindingResult value = binding::NativeToValue(registry, original);
  EXPECT_TRUE(value.ok()) << value.ErrorText();
  HostValue host = binding::ToHostValue(value, &registry);
  HostError error{};
  BindingProperty back;
  const bool read = binding::FromHostValue(error, back, host, "record");
  binding::ReleaseHostValue(host);
  EXPECT_TRUE(read) << (error.message != nullptr ? error.message : "");
  if (error.message != nullptr) plugin::PluginFree(const_cast<char*>(error.message));
  T copy;
  const BindingResult assigned = binding::ValueToNative(registry, back, copy, "record");
  EXPECT_TRUE(assigned.ok()) << assigned.ErrorText();
  return copy;
}

template <typename T>
class PftRecordRoundTrip : public PftTypesFixture {};

using FeatureRecords =
    ::testing::Types<PFTSurvey, PFTSurveyV1, PFTEvent, PFTQuestionResponse, SurveyResults,
                     PFTEndOfGamePlayer, PFTEndOfGameTeam, PFTEndOfGamePoints, EoGStats, Metadata,
                     LoginSession, GameflowGameDodge, GameflowSession>;
TYPED_TEST_SUITE(PftRecordRoundTrip, FeatureRecords);

TYPED_TEST(PftRecordRoundTrip, LosesNothingThroughTheHost) {
  TypeParam original;
  Fill(original);

  // The filled record must differ from a default one in every registered member, or the round
  // trip would prove nothing for that member.
  const BindingResult filled = binding::NativeToValue(this->registry_, original);
  const BindingResult empty = binding::NativeToValue(this->registry_, TypeParam{});
  ASSERT_TRUE(filled.ok()) << filled.ErrorText();
  ASSERT_TRUE(empty.ok()) << empty.ErrorText();
  const BindingType* type = this->registry_.LookupTypeById(TypeIdOf<TypeParam>());
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(filled.size(), type->fields.size());
  for (const binding::BindingField& field : type->fields) {
    EXPECT_FALSE(SameTree(filled.member(field.name), empty.member(field.name)))
        << type->name << "." << field.name << " is left at its default";
  }

  const TypeParam copy = ThroughTheHost(this->registry_, original);
  ExpectSame(original, copy, type->name);
}

TEST_F(PftRecordConversion, NeverCarriesTheOwnerThroughTheHost) {
  PFTSurvey survey;
  Fill(survey);
  EXPECT_EQ(ThroughTheHost(registry_, survey).ownerPuuid, "");
  PFTSurveyV1 older;
  Fill(older);
  EXPECT_EQ(ThroughTheHost(registry_, older).ownerPuuid, "");
}

}  // namespace
}  // namespace vyn::pft::types_test
