// The feedback tool's plugin object: registration of its records, endpoints and observations,
// the login state, the survey endpoints, and the end-of-game and game-flow triggers.
#include "pft/PftPlugin.h"

#include "routing/FunctionDispatcher.h"

namespace vyn::pft {

using diagnostics::PftTrace;
using plugin::PluginResourceEventType;
using routing::BodyArgument;
using routing::CallResult;
using routing::HttpMethod;
using Tarn::Client::Pft::Api::GameflowGameDodgeState;
using Tarn::Client::Pft::Api::kEventTypeEndOfGame;
using Tarn::Client::Pft::Api::kEventTypeQueueDodge;
using Tarn::Client::Pft::Api::LoginSessionStates;

void PftPlugin::RegisterApi() {
  routing::FunctionDispatcher& dispatcher = registry();
  Tarn::Client::Pft::Api::RegisterPftTypes(dispatcher, typeNamePrefix(), tags());
  dispatcher.RegisterEndpoint(HttpMethod::Get, "/vyn-pft/v2/survey", tags(), {},
                              [this](CallResult& result) {
                                PFTSurvey survey;
                                HandleGetSurvey(result, survey);
                                return survey;
                              });
  dispatcher.RegisterEndpoint(
      HttpMethod::Post, "/vyn-pft/v2/survey", tags(), {BodyArgument<PFTSurvey>("survey")},
      [this](CallResult&, const PFTSurvey& survey) { HandlePostSurvey(survey); });
  dispatcher.RegisterEndpoint(
      HttpMethod::Post, "/vyn-pft/v2/events", tags(), {BodyArgument<PFTEvent>("pftEvent")},
      [this](CallResult& result, const PFTEvent& event) { HandlePFTEvent(result, event); });
}

bool PftPlugin::OnInitialized() {
  using Type = PluginResourceEventType;
  ObserveResource<LoginSession>(
      "/vyn-login/v1/session",
      [this](std::string_view, Type type, const LoginSession& s) { OnLoginSessionUpdate(type, s); });
  ObserveResource<EoGStats>(
      "/vyn-end-of-game/v1/eog-stats-block",
      [this](std::string_view, Type type, const EoGStats& s) { OnEogStatsUpdate(type, s); });
  ObserveResource<GameflowSession>("/vyn-gameflow/v1/session",
                                   [this](std::string_view, Type type, const GameflowSession& s) {
                                     OnGameflowSessionUpdate(type, s);
                                   });
  return true;
}

void PftPlugin::OnLoginSessionUpdate(PluginResourceEventType type, const LoginSession& session) {
  if (type == PluginResourceEventType::Delete) {
    loggedIn_ = false;
    summonerId_ = 0;
    accountId_ = 0;
    puuid_.clear();
    idToken_.clear();
    return;
  }
  const bool wasLoggedIn = loggedIn_;
  loggedIn_ = session.state == LoginSessionStates::Succeeded && session.accountId != 0 &&
              session.summonerId != 0;
  // The identity is taken once per sign-in; a session that stays signed in keeps its first
  // token, and a sign-out through an update keeps the last player's identity.
  if (!wasLoggedIn && loggedIn_) {
    summonerId_ = session.summonerId;
    accountId_ = session.accountId;
    puuid_ = session.puuid;
    idToken_ = session.idToken;
  }
}

void PftPlugin::HandleGetSurvey(CallResult& result, PFTSurvey& survey) {
  GetSurvey(result, survey, EoGStats{}, {});
}

void PftPlugin::HandlePostSurvey(const PFTSurvey& survey) {
  PublishSurvey("/vyn-pft/v2/survey", survey);
}

void PftPlugin::PublishSurvey(std::string_view path, const PFTSurvey& survey) {
  // The event's tree gets the survey without its data, then a placeholder for each entry of the
  // data; the view the host is sent shows the entries themselves there.
  PFTSurvey shell;
  shell.id = survey.id;
  shell.title = survey.title;
  shell.caption = survey.caption;
  shell.type = survey.type;
  shell.display = survey.display;
  PublishRecord(path, shell, &survey.data);
}

PFTSurveyV1 PftPlugin::ToSurveyV1(const PFTSurvey& survey) const {
  PFTSurveyV1 v1;
  v1.id = survey.id;
  v1.title = survey.title;
  v1.caption = survey.caption;
  v1.type = survey.type;
  v1.ownerPuuid = survey.ownerPuuid;
  // Looked up, never inserted: the survey handed in stays as it is.
  const auto url = survey.data.find("url");
  if (url != survey.data.end()) {
    (void)binding::ValueToNative(*typeRegistry(), url->second, v1.url, "url");
  }
  return v1;
}

void PftPlugin::OnEogStatsUpdate(PluginResourceEventType type, const EoGStats& statistics) {
  if (type != PluginResourceEventType::Create) return;
  pendingEogStats_ = statistics;
  HandleEoGEvent();
}

void PftPlugin::OnGameflowSessionUpdate(PluginResourceEventType type,
                                        const GameflowSession& session) {
  if (type == PluginResourceEventType::Delete) return;
  // The dodge is judged against the phase stored before this update.
  const auto& dodge = session.gameDodge;
  if (gameflowPhase_ == GameflowPhase::ChampSelect &&
      dodge.state == GameflowGameDodgeState::PartyDodged && !dodge.dodgeIds.empty() &&
      dodge.dodgeIds.front() == summonerId_) {
    CallResult ignored(typeRegistry());
    PFTSurvey survey;
    GetSurvey(ignored, survey, EoGStats{}, kEventTypeQueueDodge);
  }
  gameflowPhase_ = session.phase;
  HandleEoGEvent();
}

void PftPlugin::HandleEoGEvent() {
  if (gameflowPhase_ != GameflowPhase::EndOfGame && gameflowPhase_ != GameflowPhase::None) return;
  if (!pendingEogStats_) return;
  const EoGStats statistics = *pendingEogStats_;
  PftTrace("HandleEoGEvent: gameId: '%llu', gameType:'%s', gameMode:'%s'",
           static_cast<unsigned long long>(statistics.gameId), statistics.gameType.c_str(),
           statistics.gameMode.c_str());
  // Whatever the service answers, these statistics have had their one request.
  CallResult ignored(typeRegistry());
  PFTSurvey survey;
  GetSurvey(ignored, survey, statistics, kEventTypeEndOfGame);
  pendingEogStats_.reset();
}

}  // namespace vyn::pft
