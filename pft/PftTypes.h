// The feedback tool's records and enumerations: what it exchanges with the front end, sibling
// plugins and the feedback service, and their registration with the plugin's type registry.
//
// Native members are declared in registration order. Every member has a default initialiser, so
// a default-constructed record holds 0, false, empty texts, lists and values throughout; a
// default EoGStats is how callers say that no statistics are given. Identity numbers are fixed
// beside each type because the host sees them in the API description.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingTypeId.h"

namespace vyn::binding {
class BindingRegistry;
}

namespace Tarn::Client::Pft::Api {

using vyn::binding::BindingProperty;
using vyn::binding::BindingTypeTag;

// --- The survey -------------------------------------------------------------------------------

// The free data of a survey, by name.
using PFTSurveyData = std::unordered_map<std::string, BindingProperty>;

struct PFTSurvey {
  uint64_t id = 0;
  std::string title;
  std::string caption;
  // "external": a survey given by the url in `data`; any other non-empty text: by its questions.
  std::string type;
  std::string display;
  PFTSurveyData data;
  // Whom the survey was fetched for; never registered, so it never leaves the plugin.
  std::string ownerPuuid;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<PFTSurvey>) noexcept { return 0x958D81F0u; }

// The older form, published for external surveys only.
struct PFTSurveyV1 {
  uint64_t id = 0;
  std::string title;
  std::string caption;
  std::string type;
  std::string url;
  std::string ownerPuuid;  // never registered
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<PFTSurveyV1>) noexcept { return 0x11B904CFu; }

// One front-end event about a survey.
struct PFTEvent {
  uint64_t playerSurveyId = 0;
  std::string action;
  // Answers: structures with the members "questionId" and "value".
  std::vector<BindingProperty> data;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<PFTEvent>) noexcept { return 0x49A2EFB0u; }

struct PFTQuestionResponse {
  uint64_t questionId = 0;
  BindingProperty responseData;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<PFTQuestionResponse>) noexcept {
  return 0x53A00B6Fu;
}

// Body of the results upload; registered as PFTSurveyResults.
struct SurveyResults {
  std::vector<PFTQuestionResponse> questionResponses;
  std::vector<PFTEvent> actions;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<SurveyResults>) noexcept {
  return 0xC463B930u;
}

// --- End-of-game statistics -------------------------------------------------------------------

struct PFTEndOfGamePlayer {
  BindingProperty stats;
  std::vector<int32_t> items;
  bool botPlayer = false;
  int32_t championId = 0;
  int32_t elo = 0;
  int32_t eloChange = 0;
  bool isReportingDisabled = false;
  uint64_t gameId = 0;
  bool leaver = false;
  int32_t leaves = 0;
  int32_t level = 0;
  int32_t losses = 0;
  int32_t profileIconId = 0;
  std::string skinName;
  int32_t spell1Id = 0;
  int32_t spell2Id = 0;
  std::string summonerName;
  int32_t teamId = 0;
  uint64_t userId = 0;
  int32_t wins = 0;
  uint64_t summonerId = 0;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<PFTEndOfGamePlayer>) noexcept {
  return 0x2558CE4Du;
}

struct PFTEndOfGameTeam {
  BindingProperty stats;
  std::vector<PFTEndOfGamePlayer> players;
  std::string memberStatusString;
  std::string name;
  std::string tag;
  std::string fullId;
  int32_t teamId = 0;
  bool isBottomTeam = false;
  bool isPlayerTeam = false;
  bool isWinningTeam = false;
  std::vector<int32_t> championBans;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<PFTEndOfGameTeam>) noexcept {
  return 0x3E35F1E5u;
}

struct PFTEndOfGamePoints {
  int32_t pointChangeFromChampionsOwned = 0;
  int32_t pointChangeFromGameplay = 0;
  int32_t pointsUsed = 0;
  int32_t previousPoints = 0;
  int32_t pointsUntilNextReroll = 0;
  int32_t rerollCount = 0;
  int32_t totalPoints = 0;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<PFTEndOfGamePoints>) noexcept {
  return 0x00F66503u;
}

// Registered as PFTEndOfGameStats. The feature reads gameId, gameMode, gameType and accountId and
// carries the rest to the service.
struct EoGStats {
  std::string difficulty;
  uint64_t gameId = 0;
  int32_t gameLength = 0;
  std::string gameMode;
  std::vector<std::string> gameMutators;
  std::string gameType;
  bool imbalancedTeamsNoPoints = false;
  bool invalid = false;
  std::string queueType;
  bool ranked = false;
  uint64_t reportGameId = 0;
  std::string roomName;
  std::string roomPassword;
  bool sendStatsToTournamentProvider = false;
  std::vector<PFTEndOfGameTeam> teams;
  std::string myTeamStatus;
  int32_t elo = 0;
  int32_t eloChange = 0;
  bool leveledUp = false;
  std::vector<int32_t> newSpells;
  uint64_t previousLevel = 0;
  int32_t tpEarned = 0;
  int32_t skinIndex = 0;
  int32_t skinId = 0;
  std::string summonerName;
  int32_t talentPointsGained = 0;
  uint64_t userId = 0;
  uint64_t accountId = 0;
  uint64_t summonerId = 0;
  int32_t championId = 0;
  int32_t basePoints = 0;
  int32_t battleBoostIpEarned = 0;
  int32_t boostIpEarned = 0;
  int32_t firstWinBonus = 0;
  int32_t ipEarned = 0;
  int32_t ipTotal = 0;
  int32_t loyaltyBoostIpEarned = 0;
  int32_t duneBonusIp = 0;
  int32_t partyRewardsBonusIpEarned = 0;
  BindingProperty pointsPenalties;
  int32_t queueBonusEarned = 0;
  int32_t boostXpEarned = 0;
  int32_t completionBonusPoints = 0;
  int32_t experienceEarned = 0;
  int32_t experienceTotal = 0;
  int32_t loyaltyBoostXpEarned = 0;
  uint64_t previousXpTotal = 0;
  int32_t coOpVsAiMinutesLeftToday = 0;
  int32_t coOpVsAiMsecsUntilReset = 0;
  int32_t customMinutesLeftToday = 0;
  int32_t customMsecsUntilReset = 0;
  int32_t timeUntilNextFirstWinBonus = 0;
  bool causedEarlySurrender = false;
  bool earlySurrenderAccomplice = false;
  bool teamEarlySurrendered = false;
  bool gameEndedInEarlySurrender = false;
  bool isMireGame = false;
  PFTEndOfGamePoints rerollData;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<EoGStats>) noexcept { return 0x68EBCAAAu; }

// Body of the survey request; registered as PFTMetadata.
struct Metadata {
  uint64_t accountId = 0;
  std::string env;
  std::string webRegion;
  std::string locale;
  std::string appName;
  std::string appVersion;
  std::string systemOs;
  EoGStats stats;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<Metadata>) noexcept { return 0x2BE337E1u; }

// --- Sibling plugins' resources ---------------------------------------------------------------

enum class LoginSessionStates : int32_t {
  InProgress = 0,
  Succeeded = 1,
  LoggingOut = 2,
  Error = 3,
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<LoginSessionStates>) noexcept {
  return 0x2F816218u;
}

struct LoginSession {
  LoginSessionStates state = LoginSessionStates::InProgress;
  uint64_t summonerId = 0;
  uint64_t accountId = 0;
  std::string puuid;
  std::string idToken;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<LoginSession>) noexcept {
  return 0xE1372367u;
}

enum class GameflowPhase : int32_t {
  None = 0,
  Lobby = 1,
  Matchmaking = 2,
  CheckedIntoTournament = 3,
  ReadyCheck = 4,
  ChampSelect = 5,
  GameStart = 6,
  FailedToLaunch = 7,
  InProgress = 8,
  Reconnect = 9,
  WaitingForStats = 10,
  PreEndOfGame = 11,
  EndOfGame = 12,
  TerminatedInError = 13,
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<GameflowPhase>) noexcept {
  return 0x34240FCFu;
}

// The numbers start at 48 because that is what the game-flow resource carries.
enum class GameflowGameDodgeState : int32_t {
  Invalid = 48,
  PartyDodged = 49,
  StrangerDodged = 50,
  TournamentDodged = 51,
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<GameflowGameDodgeState>) noexcept {
  return 0xC00E5C76u;
}

struct GameflowGameDodge {
  // 0 until a resource says otherwise: no enumerator has it, so it never reads as a dodge.
  GameflowGameDodgeState state{};
  std::vector<uint64_t> dodgeIds;  // summoner ids; only the first is compared
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<GameflowGameDodge>) noexcept {
  return 0x1C39C77Du;
}

struct GameflowSession {
  GameflowPhase phase = GameflowPhase::None;
  GameflowGameDodge gameDodge;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<GameflowSession>) noexcept {
  return 0x55BB030Au;
}

// Event types of survey requests that the plugin makes on its own.
inline constexpr char kEventTypeEndOfGame[] = "END_OF_GAME";
inline constexpr char kEventTypeQueueDodge[] = "QUEUE_DODGE";

// Registers the sixteen records and enumerations above, each named `typeNamePrefix` followed by
// its registered name and carrying `tags`; contained types come first, so every member finds its
// type. A name registered before keeps its first registration. Call during start-up, before any
// endpoint is registered; the registry copies what it keeps.
void RegisterPftTypes(vyn::binding::BindingRegistry& registry, std::string_view typeNamePrefix,
                      std::span<const std::string> tags);

}  // namespace Tarn::Client::Pft::Api
