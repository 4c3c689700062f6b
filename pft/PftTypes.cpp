// Registration of the feedback tool's records and enumerations with the plugin's type registry.
#include "pft/PftTypes.h"

#include <string>
#include <string_view>

#include "binding/BindingRegistry.h"
#include "binding/TypeBuilder.h"

namespace Tarn::Client::Pft::Api {
namespace {

using vyn::binding::BindingRegistry;
using vyn::binding::EnumBuilder;
using vyn::binding::RecordBuilder;

// Everything a registration needs besides the type itself.
struct Registration {
  BindingRegistry& registry;
  std::string_view prefix;
  std::span<const std::string> tags;

  std::string NameOf(std::string_view registeredName) const {
    std::string name;
    name.reserve(prefix.size() + registeredName.size());
    name.append(prefix).append(registeredName);
    return name;
  }

  // Tags go on before the members. The builders ignore every call when the name was registered
  // before, so that first registration stands unchanged.
  template <typename R>
  RecordBuilder<R> Record(std::string_view registeredName) const {
    RecordBuilder<R> builder(registry, NameOf(registeredName));
    builder.AddTags(tags);
    return builder;
  }
  template <typename E>
  EnumBuilder<E> Enum(std::string_view registeredName) const {
    EnumBuilder<E> builder(registry, NameOf(registeredName));
    builder.AddTags(tags);
    return builder;
  }
};

void RegisterSurveyRecords(const Registration& r) {
  r.Record<PFTSurvey>("PFTSurvey")
      .Field("id", &PFTSurvey::id)
      .Field("title", &PFTSurvey::title)
      .Field("caption", &PFTSurvey::caption)
      .Field("type", &PFTSurvey::type)
      .Field("display", &PFTSurvey::display)
      .Field("data", &PFTSurvey::data);

  r.Record<PFTSurveyV1>("PFTSurveyV1")
      .Field("id", &PFTSurveyV1::id)
      .Field("title", &PFTSurveyV1::title)
      .Field("caption", &PFTSurveyV1::caption)
      .Field("type", &PFTSurveyV1::type)
      .Field("url", &PFTSurveyV1::url);

  r.Record<PFTEvent>("PFTEvent")
      .Field("playerSurveyId", &PFTEvent::playerSurveyId)
      .Field("action", &PFTEvent::action)
      .Field("data", &PFTEvent::data);

  r.Record<PFTQuestionResponse>("PFTQuestionResponse")
      .Field("questionId", &PFTQuestionResponse::questionId)
      .Field("responseData", &PFTQuestionResponse::responseData);

  r.Record<SurveyResults>("PFTSurveyResults")
      .Field("questionResponses", &SurveyResults::questionResponses)
      .Field("actions", &SurveyResults::actions);
}

void RegisterEndOfGameRecords(const Registration& r) {
  using P = PFTEndOfGamePlayer;
  r.Record<P>("PFTEndOfGamePlayer")
      .Field("stats", &P::stats)
      .Field("items", &P::items)
      .Field("botPlayer", &P::botPlayer)
      .Field("championId", &P::championId)
      .Field("elo", &P::elo)
      .Field("eloChange", &P::eloChange)
      .Field("isReportingDisabled", &P::isReportingDisabled)
      .Field("gameId", &P::gameId)
      .Field("leaver", &P::leaver)
      .Field("leaves", &P::leaves)
      .Field("level", &P::level)
      .Field("losses", &P::losses)
      .Field("profileIconId", &P::profileIconId)
      .Field("skinName", &P::skinName)
      .Field("spell1Id", &P::spell1Id)
      .Field("spell2Id", &P::spell2Id)
      .Field("summonerName", &P::summonerName)
      .Field("teamId", &P::teamId)
      .Field("userId", &P::userId)
      .Field("wins", &P::wins)
      .Field("summonerId", &P::summonerId);

  using T = PFTEndOfGameTeam;
  r.Record<T>("PFTEndOfGameTeam")
      .Field("stats", &T::stats)
      .Field("players", &T::players)
      .Field("memberStatusString", &T::memberStatusString)
      .Field("name", &T::name)
      .Field("tag", &T::tag)
      .Field("fullId", &T::fullId)
      .Field("teamId", &T::teamId)
      .Field("isBottomTeam", &T::isBottomTeam)
      .Field("isPlayerTeam", &T::isPlayerTeam)
      .Field("isWinningTeam", &T::isWinningTeam)
      .Field("championBans", &T::championBans);

  using Points = PFTEndOfGamePoints;
  r.Record<Points>("PFTEndOfGamePoints")
      .Field("pointChangeFromChampionsOwned", &Points::pointChangeFromChampionsOwned)
      .Field("pointChangeFromGameplay", &Points::pointChangeFromGameplay)
      .Field("pointsUsed", &Points::pointsUsed)
      .Field("previousPoints", &Points::previousPoints)
      .Field("pointsUntilNextReroll", &Points::pointsUntilNextReroll)
      .Field("rerollCount", &Points::rerollCount)
      .Field("totalPoints", &Points::totalPoints);

  using S = EoGStats;
  r.Record<S>("PFTEndOfGameStats")
      .Field("difficulty", &S::difficulty)
      .Field("gameId", &S::gameId)
      .Field("gameLength", &S::gameLength)
      .Field("gameMode", &S::gameMode)
      .Field("gameMutators", &S::gameMutators)
      .Field("gameType", &S::gameType)
      .Field("imbalancedTeamsNoPoints", &S::imbalancedTeamsNoPoints)
      .Field("invalid", &S::invalid)
      .Field("queueType", &S::queueType)
      .Field("ranked", &S::ranked)
      .Field("reportGameId", &S::reportGameId)
      .Field("roomName", &S::roomName)
      .Field("roomPassword", &S::roomPassword)
      .Field("sendStatsToTournamentProvider", &S::sendStatsToTournamentProvider)
      .Field("teams", &S::teams)
      .Field("myTeamStatus", &S::myTeamStatus)
      .Field("elo", &S::elo)
      .Field("eloChange", &S::eloChange)
      .Field("leveledUp", &S::leveledUp)
      .Field("newSpells", &S::newSpells)
      .Field("previousLevel", &S::previousLevel)
      .Field("tpEarned", &S::tpEarned)
      .Field("skinIndex", &S::skinIndex)
      .Field("skinId", &S::skinId)
      .Field("summonerName", &S::summonerName)
      .Field("talentPointsGained", &S::talentPointsGained)
      .Field("userId", &S::userId)
      .Field("accountId", &S::accountId)
      .Field("summonerId", &S::summonerId)
      .Field("championId", &S::championId)
      .Field("basePoints", &S::basePoints)
      .Field("battleBoostIpEarned", &S::battleBoostIpEarned)
      .Field("boostIpEarned", &S::boostIpEarned)
      .Field("firstWinBonus", &S::firstWinBonus)
      .Field("ipEarned", &S::ipEarned)
      .Field("ipTotal", &S::ipTotal)
      .Field("loyaltyBoostIpEarned", &S::loyaltyBoostIpEarned)
      .Field("duneBonusIp", &S::duneBonusIp)
      .Field("partyRewardsBonusIpEarned", &S::partyRewardsBonusIpEarned)
      .Field("pointsPenalties", &S::pointsPenalties)
      .Field("queueBonusEarned", &S::queueBonusEarned)
      .Field("boostXpEarned", &S::boostXpEarned)
      .Field("completionBonusPoints", &S::completionBonusPoints)
      .Field("experienceEarned", &S::experienceEarned)
      .Field("experienceTotal", &S::experienceTotal)
      .Field("loyaltyBoostXpEarned", &S::loyaltyBoostXpEarned)
      .Field("previousXpTotal", &S::previousXpTotal)
      .Field("coOpVsAiMinutesLeftToday", &S::coOpVsAiMinutesLeftToday)
      .Field("coOpVsAiMsecsUntilReset", &S::coOpVsAiMsecsUntilReset)
      .Field("customMinutesLeftToday", &S::customMinutesLeftToday)
      .Field("customMsecsUntilReset", &S::customMsecsUntilReset)
      .Field("timeUntilNextFirstWinBonus", &S::timeUntilNextFirstWinBonus)
      .Field("causedEarlySurrender", &S::causedEarlySurrender)
      .Field("earlySurrenderAccomplice", &S::earlySurrenderAccomplice)
      .Field("teamEarlySurrendered", &S::teamEarlySurrendered)
      .Field("gameEndedInEarlySurrender", &S::gameEndedInEarlySurrender)
      .Field("isMireGame", &S::isMireGame)
      .Field("rerollData", &S::rerollData);

  r.Record<Metadata>("PFTMetadata")
      .Field("accountId", &Metadata::accountId)
      .Field("env", &Metadata::env)
      .Field("webRegion", &Metadata::webRegion)
      .Field("locale", &Metadata::locale)
      .Field("appName", &Metadata::appName)
      .Field("appVersion", &Metadata::appVersion)
      .Field("systemOs", &Metadata::systemOs)
      .Field("stats", &Metadata::stats);
}

void RegisterSessionRecords(const Registration& r) {
  // The enumerator order is the order of the host's description, not of the numbers.
  r.Enum<LoginSessionStates>("LoginSessionStates")
      .Value("IN_PROGRESS", LoginSessionStates::InProgress)
      .Value("ERROR", LoginSessionStates::Error)
      .Value("SUCCEEDED", LoginSessionStates::Succeeded)
      .Value("LOGGING_OUT", LoginSessionStates::LoggingOut);

  r.Record<LoginSession>("LoginSession")
      .Field("state", &LoginSession::state)
      .Field("summonerId", &LoginSession::summonerId)
      .Field("accountId", &LoginSession::accountId)
      .Field("puuid", &LoginSession::puuid)
      .Field("idToken", &LoginSession::idToken);

  r.Enum<GameflowPhase>("GameflowPhase")
      .Value("None", GameflowPhase::None)
      .Value("Lobby", GameflowPhase::Lobby)
      .Value("Matchmaking", GameflowPhase::Matchmaking)
      .Value("CheckedIntoTournament", GameflowPhase::CheckedIntoTournament)
      .Value("ReadyCheck", GameflowPhase::ReadyCheck)
      .Value("ChampSelect", GameflowPhase::ChampSelect)
      .Value("GameStart", GameflowPhase::GameStart)
      .Value("FailedToLaunch", GameflowPhase::FailedToLaunch)
      .Value("InProgress", GameflowPhase::InProgress)
      .Value("Reconnect", GameflowPhase::Reconnect)
      .Value("WaitingForStats", GameflowPhase::WaitingForStats)
      .Value("PreEndOfGame", GameflowPhase::PreEndOfGame)
      .Value("EndOfGame", GameflowPhase::EndOfGame)
      .Value("TerminatedInError", GameflowPhase::TerminatedInError);

  r.Enum<GameflowGameDodgeState>("GameflowGameDodgeState")
      .Value("Invalid", GameflowGameDodgeState::Invalid)
      .Value("PartyDodged", GameflowGameDodgeState::PartyDodged)
      .Value("StrangerDodged", GameflowGameDodgeState::StrangerDodged)
      .Value("TournamentDodged", GameflowGameDodgeState::TournamentDodged);

  r.Record<GameflowGameDodge>("GameflowGameDodge")
      .Field("state", &GameflowGameDodge::state)
      .Field("dodgeIds", &GameflowGameDodge::dodgeIds);

  r.Record<GameflowSession>("GameflowSession")
      .Field("phase", &GameflowSession::phase)
      .Field("gameDodge", &GameflowSession::gameDodge);
}

}  // namespace

void RegisterPftTypes(vyn::binding::BindingRegistry& registry, std::string_view typeNamePrefix,
                      std::span<const std::string> tags) {
  // A record's member finds its type by identity when it is added, so every contained type is
  // registered before the records that hold it.
  const Registration registration{registry, typeNamePrefix, tags};
  RegisterSurveyRecords(registration);
  RegisterEndOfGameRecords(registration);
  RegisterSessionRecords(registration);
}

}  // namespace Tarn::Client::Pft::Api
