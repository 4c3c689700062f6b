// Record conversion of a full end-of-game statistics record (two teams of five players with their
// free-form statistics): AssignRecord from its value tree and RecordToValue into one, against
// hand-written conversion between the record and a RapidJSON Document, the way code without a
// type registry would do it.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include <string>
#include <vector>

#include "BenchCorpus.h"
#include "binding/AssignValue.h"
#include "binding/BindingProperty.h"
#include "binding/BindingRegistry.h"
#include "binding/RecordToValue.h"
#include "pft/PftTypes.h"

namespace vyn::bench {
namespace {

using binding::BindingProperty;
using binding::BindingResult;
using Tarn::Client::Pft::Api::EoGStats;
using Tarn::Client::Pft::Api::PFTEndOfGamePlayer;
using Tarn::Client::Pft::Api::PFTEndOfGamePoints;
using Tarn::Client::Pft::Api::PFTEndOfGameTeam;

// --- The record --------------------------------------------------------------------------------

BindingProperty PlayerStats(int seed) {
  BindingProperty stats;
  const auto u = [seed](int k) { return static_cast<uint64_t>(seed * 31 + k); };
  stats.memberAt("assists").setUnsigned(u(1));
  stats.memberAt("damageDealt").setUnsigned(u(2) * 1000);
  stats.memberAt("deaths").setUnsigned(u(3) % 13);
  stats.memberAt("firstBlood").setBool(seed % 4 == 0);
  stats.memberAt("gold").setUnsigned(u(4) * 100);
  stats.memberAt("kills").setUnsigned(u(5) % 17);
  stats.memberAt("largestMultiKill").setUnsigned(u(6) % 5);
  stats.memberAt("minionsKilled").setUnsigned(u(7));
  stats.memberAt("visionScore").setFloat(static_cast<double>(seed) * 1.75);
  stats.memberAt("position").setString(seed % 2 == 0 ? "BOTTOM" : "JUNGLE");
  BindingProperty& items = stats.memberAt("items");
  for (int k = 0; k < 6; ++k) items.appendElement().setUnsigned(u(10 + k) + 3000);
  BindingProperty& perks = stats.memberAt("perks");
  perks.memberAt("primary").setUnsigned(8000 + u(20) % 400);
  perks.memberAt("sub").setUnsigned(8100 + u(21) % 400);
  perks.memberAt("shards").setSigned(-static_cast<int64_t>(u(22)));
  return stats;
}

EoGStats MakeStats() {
  EoGStats s;
  s.difficulty = "NONE";
  s.gameId = 18446744073709551615ull;
  s.gameLength = 1834;
  s.gameMode = "CLASSIC";
  s.gameMutators = {"mutator-\xC3\xBC", "fast \"queue\"", "night"};
  s.gameType = "MATCHED_GAME";
  s.queueType = "RANKED_SOLO_5x5";
  s.ranked = true;
  s.reportGameId = 77001;
  s.roomName = "room \xE2\x98\x85";
  s.roomPassword = "pa\\ss";
  s.myTeamStatus = "WINNER";
  s.elo = -3;
  s.eloChange = 17;
  s.leveledUp = true;
  s.newSpells = {4, 14, 21};
  s.previousLevel = 211;
  s.summonerName = "S\xC3\xB8ren the \"Brave\"";
  s.userId = 9007199254740993ull;
  s.accountId = 4400112233ull;
  s.summonerId = 5500112233ull;
  s.championId = 222;
  s.basePoints = 40;
  s.ipEarned = 95;
  s.ipTotal = 120034;
  s.experienceEarned = 1230;
  s.experienceTotal = 45021;
  s.previousXpTotal = 43791;
  s.timeUntilNextFirstWinBonus = -2147483647 - 1;
  s.gameEndedInEarlySurrender = false;
  s.pointsPenalties.memberAt("afk").setUnsigned(0);
  s.pointsPenalties.memberAt("reasons").appendElement().setString("none");
  s.rerollData = PFTEndOfGamePoints{1, -2, 3, 4, 5, 6, 2147483647};
  for (int t = 0; t < 2; ++t) {
    PFTEndOfGameTeam& team = s.teams.emplace_back();
    team.stats.memberAt("towersKilled").setUnsigned(static_cast<uint64_t>(7 - t * 4));
    team.stats.memberAt("dragons").setUnsigned(static_cast<uint64_t>(2 + t));
    team.memberStatusString = t == 0 ? "WINNER" : "LOSER";
    team.name = t == 0 ? "Blue side" : "Red side";
    team.tag = t == 0 ? "BLU" : "RED";
    team.fullId = "team-" + std::to_string(100 + t);
    team.teamId = 100 + t * 100;
    team.isBottomTeam = t == 0;
    team.isPlayerTeam = t == 0;
    team.isWinningTeam = t == 0;
    team.championBans = {11, 22, 33, 44, 55};
    for (int p = 0; p < 5; ++p) {
      const int seed = t * 5 + p;
      PFTEndOfGamePlayer& player = team.players.emplace_back();
      player.stats = PlayerStats(seed);
      player.items = {3006, 3031, 3046, 3072, 3094, 3139, 3363};
      player.botPlayer = p == 4;
      player.championId = 10 + seed;
      player.elo = 1500 + seed;
      player.eloChange = seed % 2 == 0 ? 12 : -12;
      player.gameId = 18446744073709551615ull;
      player.leaves = seed % 3;
      player.level = 30 + seed;
      player.losses = 100 + seed;
      player.profileIconId = 4000 + seed;
      player.skinName = "Skin \xE2\x80\x94 " + std::to_string(seed);
      player.spell1Id = 4;
      player.spell2Id = 14;
      player.summonerName = "Player " + std::to_string(seed) + " \xE6\x97\xA5\xE6\x9C\xAC";
      player.teamId = team.teamId;
      player.userId = 9000000000ull + static_cast<uint64_t>(seed);
      player.wins = 120 + seed;
      player.summonerId = 8000000000ull + static_cast<uint64_t>(seed);
    }
  }
  return s;
}

// --- Hand-written conversion to and from a RapidJSON value --------------------------------------

using rapidjson::Value;
using Allocator = rapidjson::Document::AllocatorType;

#define PFT_POINTS_FIELDS(X)                                                          \
  X(pointChangeFromChampionsOwned)                                                    \
  X(pointChangeFromGameplay) X(pointsUsed) X(previousPoints) X(pointsUntilNextReroll) \
      X(rerollCount) X(totalPoints)
#define PFT_PLAYER_FIELDS(X)                                                                      \
  X(stats)                                                                                        \
  X(items) X(botPlayer) X(championId) X(elo) X(eloChange) X(isReportingDisabled) X(gameId)        \
      X(leaver) X(leaves) X(level) X(losses) X(profileIconId) X(skinName) X(spell1Id) X(spell2Id) \
          X(summonerName) X(teamId) X(userId) X(wins) X(summonerId)
#define PFT_TEAM_FIELDS(X)                                                            \
  X(stats)                                                                            \
  X(players) X(memberStatusString) X(name) X(tag) X(fullId) X(teamId) X(isBottomTeam) \
      X(isPlayerTeam) X(isWinningTeam) X(championBans)
#define PFT_STATS_FIELDS(X)                                                                        \
  X(difficulty)                                                                                    \
  X(gameId) X(gameLength) X(gameMode) X(gameMutators) X(gameType) X(imbalancedTeamsNoPoints)       \
      X(invalid) X(queueType) X(ranked) X(reportGameId) X(roomName) X(roomPassword) X(             \
          sendStatsToTournamentProvider) X(teams) X(myTeamStatus) X(elo) X(eloChange) X(leveledUp) \
          X(newSpells) X(previousLevel) X(tpEarned) X(skinIndex) X(skinId) X(summonerName)         \
              X(talentPointsGained) X(userId) X(accountId) X(summonerId) X(championId)             \
                  X(basePoints) X(battleBoostIpEarned) X(boostIpEarned) X(firstWinBonus)           \
                      X(ipEarned) X(ipTotal) X(loyaltyBoostIpEarned) X(duneBonusIp)                \
                          X(partyRewardsBonusIpEarned) X(pointsPenalties) X(queueBonusEarned)      \
                              X(boostXpEarned) X(completionBonusPoints) X(experienceEarned)        \
                                  X(experienceTotal) X(loyaltyBoostXpEarned) X(previousXpTotal)    \
                                      X(coOpVsAiMinutesLeftToday) X(coOpVsAiMsecsUntilReset)       \
                                          X(customMinutesLeftToday) X(customMsecsUntilReset)       \
                                              X(timeUntilNextFirstWinBonus)                        \
                                                  X(causedEarlySurrender)                          \
                                                      X(earlySurrenderAccomplice)                  \
                                                          X(teamEarlySurrendered)                  \
                                                              X(gameEndedInEarlySurrender)         \
                                                                  X(isMireGame) X(rerollData)

Value Put(const std::string& v, Allocator& a) {
  return Value(v.data(), static_cast<rapidjson::SizeType>(v.size()), a);
}
Value Put(uint64_t v, Allocator&) { return Value(v); }
Value Put(int32_t v, Allocator&) { return Value(v); }
Value Put(bool v, Allocator&) { return Value(v); }
Value Put(const BindingProperty& v, Allocator& a);
Value Put(const PFTEndOfGamePoints& v, Allocator& a);
Value Put(const PFTEndOfGamePlayer& v, Allocator& a);
Value Put(const PFTEndOfGameTeam& v, Allocator& a);
template <class T>
Value Put(const std::vector<T>& v, Allocator& a) {
  Value out(rapidjson::kArrayType);
  out.Reserve(static_cast<rapidjson::SizeType>(v.size()), a);
  for (const T& element : v) out.PushBack(Put(element, a), a);
  return out;
}

Value Put(const BindingProperty& v, Allocator& a) {
  switch (v.kind()) {
    case binding::BindingPropertyKind::Bool:
      return Value(v.asBool());
    case binding::BindingPropertyKind::Signed:
      return Value(static_cast<int64_t>(v.asSigned()));
    case binding::BindingPropertyKind::Unsigned:
      return Value(static_cast<uint64_t>(v.asUnsigned()));
    case binding::BindingPropertyKind::Float:
      return Value(v.asFloat());
    case binding::BindingPropertyKind::String: {
      const std::string_view text = v.asString();
      return Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), a);
    }
    case binding::BindingPropertyKind::Collection: {
      Value out(rapidjson::kArrayType);
      for (const BindingProperty& element : v.elements()) out.PushBack(Put(element, a), a);
      return out;
    }
    case binding::BindingPropertyKind::Structure: {
      Value out(rapidjson::kObjectType);
      for (const binding::MemberView member : v.members()) {
        out.AddMember(
            Value(member.name.data(), static_cast<rapidjson::SizeType>(member.name.size()), a),
            Put(member.value, a), a);
      }
      return out;
    }
    default:
      return Value();
  }
}

#define PFT_PUT(field) out.AddMember(Value(#field, a), Put(v.field, a), a);
Value Put(const PFTEndOfGamePoints& v, Allocator& a) {
  Value out(rapidjson::kObjectType);
  PFT_POINTS_FIELDS(PFT_PUT)
  return out;
}
Value Put(const PFTEndOfGamePlayer& v, Allocator& a) {
  Value out(rapidjson::kObjectType);
  PFT_PLAYER_FIELDS(PFT_PUT)
  return out;
}
Value Put(const PFTEndOfGameTeam& v, Allocator& a) {
  Value out(rapidjson::kObjectType);
  PFT_TEAM_FIELDS(PFT_PUT)
  return out;
}
Value Put(const EoGStats& v, Allocator& a) {
  Value out(rapidjson::kObjectType);
  PFT_STATS_FIELDS(PFT_PUT)
  return out;
}
#undef PFT_PUT

// Readers keep the default when the member is missing or of another type, as lenient hand code
// does.
void Get(const Value& in, std::string& out) {
  if (in.IsString()) out.assign(in.GetString(), in.GetStringLength());
}
void Get(const Value& in, uint64_t& out) {
  if (in.IsUint64()) out = in.GetUint64();
}
void Get(const Value& in, int32_t& out) {
  if (in.IsInt()) out = in.GetInt();
}
void Get(const Value& in, bool& out) {
  if (in.IsBool()) out = in.GetBool();
}
void Get(const Value& in, BindingProperty& out);
void Get(const Value& in, PFTEndOfGamePoints& out);
void Get(const Value& in, PFTEndOfGamePlayer& out);
void Get(const Value& in, PFTEndOfGameTeam& out);
template <class T>
void Get(const Value& in, std::vector<T>& out) {
  out.clear();
  if (!in.IsArray()) return;
  out.resize(in.Size());
  for (rapidjson::SizeType i = 0; i < in.Size(); ++i) Get(in[i], out[i]);
}

void Get(const Value& in, BindingProperty& out) {
  switch (in.GetType()) {
    case rapidjson::kNullType:
      out.reset();
      break;
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
      out.setBool(in.GetBool());
      break;
    case rapidjson::kNumberType:
      if (in.IsDouble()) {
        out.setFloat(in.GetDouble());
      } else if (in.IsUint64()) {
        out.setUnsigned(in.GetUint64());
      } else {
        out.setSigned(in.GetInt64());
      }
      break;
    case rapidjson::kStringType:
      out.setString(std::string_view(in.GetString(), in.GetStringLength()));
      break;
    case rapidjson::kArrayType:
      out.reset();
      out.makeCollection();
      for (const Value& element : in.GetArray()) Get(element, out.appendElement());
      break;
    case rapidjson::kObjectType:
      out.reset();
      out.makeStructure();
      for (const auto& member : in.GetObject()) {
        Get(member.value,
            out.memberAt(std::string_view(member.name.GetString(), member.name.GetStringLength())));
      }
      break;
  }
}

#define PFT_GET(field)                                               \
  if (const auto it = in.FindMember(#field); it != in.MemberEnd()) { \
    Get(it->value, out.field);                                       \
  }
void Get(const Value& in, PFTEndOfGamePoints& out) {
  if (!in.IsObject()) return;
  PFT_POINTS_FIELDS(PFT_GET)
}
void Get(const Value& in, PFTEndOfGamePlayer& out) {
  if (!in.IsObject()) return;
  PFT_PLAYER_FIELDS(PFT_GET)
}
void Get(const Value& in, PFTEndOfGameTeam& out) {
  if (!in.IsObject()) return;
  PFT_TEAM_FIELDS(PFT_GET)
}
void Get(const Value& in, EoGStats& out) {
  if (!in.IsObject()) return;
  PFT_STATS_FIELDS(PFT_GET)
}
#undef PFT_GET

// --- Benchmarks ---------------------------------------------------------------------------------

struct Fixture {
  Fixture() {
    const std::vector<std::string> tags{"Plugins", "Plugin vyn-pft"};
    Tarn::Client::Pft::Api::RegisterPftTypes(registry, "VynPft", tags);
    type = registry.LookupType("VynPftPFTEndOfGameStats");
    stats = MakeStats();
    binding::RecordToValue(registry, value, &stats, type);
    document.CopyFrom(Put(stats, document.GetAllocator()), document.GetAllocator());
  }
  binding::BindingRegistry registry;
  const binding::BindingType* type = nullptr;
  EoGStats stats;
  BindingResult value;
  rapidjson::Document document;
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void RecordToValueOurs(benchmark::State& state) {
  Fixture& f = Shared();
  if (f.type == nullptr || !f.value.ok()) {
    state.SkipWithError("the record is not registered");
    return;
  }
  TimedSteps(state, "RecordToValue failed", [&] {
    BindingResult result;
    binding::RecordToValue(f.registry, result, &f.stats, f.type);
    benchmark::DoNotOptimize(result);
    return result.ok();
  });
}

void RecordToRapidJsonByHand(benchmark::State& state) {
  Fixture& f = Shared();
  TimedSteps(state, "", [&] {
    rapidjson::Document document;
    Value value = Put(f.stats, document.GetAllocator());
    benchmark::DoNotOptimize(value);
    return true;
  });
}

void AssignRecordOurs(benchmark::State& state) {
  Fixture& f = Shared();
  if (f.type == nullptr || !f.value.ok()) {
    state.SkipWithError("the record is not registered");
    return;
  }
  TimedSteps(state, "AssignRecord failed", [&] {
    EoGStats out;
    BindingResult result;
    binding::AssignRecord(f.registry, result, &out, f.value, "stats", f.type);
    benchmark::DoNotOptimize(out);
    return result.ok();
  });
}

void AssignFromRapidJsonByHand(benchmark::State& state) {
  Fixture& f = Shared();
  TimedSteps(state, "", [&] {
    EoGStats out;
    Get(f.document, out);
    benchmark::DoNotOptimize(out);
    return true;
  });
}

BENCHMARK(RecordToValueOurs);
BENCHMARK(RecordToRapidJsonByHand);
BENCHMARK(AssignRecordOurs);
BENCHMARK(AssignFromRapidJsonByHand);

}  // namespace
}  // namespace vyn::bench

BENCHMARK_MAIN();
