// The player feedback tool: the one concrete plugin object of the library. It follows who is
// signed in and how the game flows, asks the feedback service for surveys (when the front end
// asks, after a game and after a queue dodge), publishes them as resources and uploads the
// player's answers.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/BindingRegistry.h"
#include "binding/RecordToValue.h"
#include "diagnostics/Trace.h"
#include "formats/Json.h"
#include "pft/EventLog.h"
#include "pft/PftTypes.h"
#include "plugin/PluginBase.h"

namespace vyn::routing {
class CallResult;
}

namespace vyn::pft {

using Tarn::Client::Pft::Api::EoGStats;
using Tarn::Client::Pft::Api::GameflowPhase;
using Tarn::Client::Pft::Api::GameflowSession;
using Tarn::Client::Pft::Api::LoginSession;
using Tarn::Client::Pft::Api::Metadata;
using Tarn::Client::Pft::Api::PFTEvent;
using Tarn::Client::Pft::Api::PFTSurvey;
using Tarn::Client::Pft::Api::PFTSurveyData;
using Tarn::Client::Pft::Api::PFTSurveyV1;

// Region and language of the client, as the host reports them.
struct RegionLocale {
  std::string region;
  std::string locale;
  std::string webRegion;
  std::string webLanguage;
};

// What the survey requests say about the client.
struct AppInfo {
  std::string appName;
  std::string appVersion;
  std::string systemOs;
};

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The host's numeric option for requests to the feedback service; its meaning is the host's.
inline constexpr uint32_t kServiceRequestOption = 5;
inline constexpr char kBackendUrlMissing[] =
    "BackendURL missing from platform configuration, plugin disabled.";

// The url of an external survey with the client's facts as its query (each but the url itself
// percent-encoded), and the game id when the statistics name a game mode.
std::string BuildExternalSurveyUrl(std::string_view url, uint64_t accountId,
                                   const AppInfo& appInfo, const RegionLocale& regionLocale,
                                   const EoGStats& statistics);

// The request body of a survey request: the statistics only when they name an account.
Metadata BuildSurveyMetadata(uint64_t accountId, const RegionLocale& regionLocale,
                             const AppInfo& appInfo, const EoGStats& statistics);

class PftPlugin final : public plugin::PluginBase {
 public:
  PftPlugin() = default;
  ~PftPlugin() override = default;

  // The feature's records, then its three endpoints: GET and POST "/vyn-pft/v2/survey", POST
  // "/vyn-pft/v2/events".
  void RegisterApi() override;
  // Observes the login session, the end-of-game statistics and the game flow, in that order.
  bool OnInitialized() override;

  // Asks the feedback service for a survey; on success publishes it and returns it in `survey`.
  // Default statistics and an empty event type mean none.
  void GetSurvey(routing::CallResult& result, PFTSurvey& survey, const EoGStats& statistics,
                 std::string_view eventType);
  // Records a front-end event and uploads the answers when it closes, submits or pops out.
  void HandlePFTEvent(routing::CallResult& result, const PFTEvent& event);
  void SavePFTSurveyResults(routing::CallResult& result, const PFTEvent& event,
                            const std::string& backendUrl);
  // Sends the end-of-game survey request when statistics wait and the game has ended.
  void HandleEoGEvent();
  // Publishes a record as an Update of the resource at `path`; a record that cannot be
  // converted is not published.
  template <typename T>
  void PublishSurvey(std::string_view path, const T& record) {
    PublishRecord(path, record, nullptr);
  }
  // The same for the survey, whose free data the host is shown in place: it can be most of a
  // large survey, and a copy of it would only live for the sends.
  void PublishSurvey(std::string_view path, const PFTSurvey& survey);
  // `shownData`, when given, holds values shown as the members of the record's "data", which
  // the record leaves empty.
  template <typename T>
  void PublishRecord(std::string_view path, const T& record, const PFTSurveyData* shownData);

  // The older survey form: the same texts, and the url out of the survey's data (read as a
  // text; a survey without one gets none).
  PFTSurveyV1 ToSurveyV1(const PFTSurvey& survey) const;

  void OnLoginSessionUpdate(plugin::PluginResourceEventType type, const LoginSession& session);
  void OnEogStatsUpdate(plugin::PluginResourceEventType type, const EoGStats& statistics);
  void OnGameflowSessionUpdate(plugin::PluginResourceEventType type,
                               const GameflowSession& session);

  // Read from the host on every use; empty texts (or "Unknown") when the host cannot say.
  std::string GetBackendUrl();
  RegionLocale GetRegionLocale();
  std::string GetBuildVersion();
  AppInfo GetAppInfo();
  HeaderList GetRequestHeaders() const;

  // The session state, for inspection.
  const EventLog& eventLog() const noexcept { return eventLog_; }
  uint64_t summonerId() const noexcept { return summonerId_; }
  uint64_t accountId() const noexcept { return accountId_; }
  const std::string& puuid() const noexcept { return puuid_; }
  const std::string& idToken() const noexcept { return idToken_; }
  bool loggedIn() const noexcept { return loggedIn_; }
  GameflowPhase gameflowPhase() const noexcept { return gameflowPhase_; }
  const std::optional<EoGStats>& pendingEogStats() const noexcept { return pendingEogStats_; }

 private:
  void HandleGetSurvey(routing::CallResult& result, PFTSurvey& survey);
  void HandlePostSurvey(const PFTSurvey& survey);
  void ValidateSurveyResponse(routing::CallResult& result, PFTSurvey& survey,
                              const std::string& body, const RegionLocale& regionLocale,
                              const EoGStats& statistics, const AppInfo& appInfo);
  // A record as pretty JSON text with "\r\n" line breaks; false when it cannot be converted or
  // its text would pass `maxBytes`.
  template <typename T>
  bool ToPrettyJson(const T& record, std::string& text,
                    std::size_t maxBytes = std::numeric_limits<std::size_t>::max()) const;

  // Events posted since the last successful upload, oldest first.
  EventLog eventLog_;
  uint64_t summonerId_ = 0;
  uint64_t accountId_ = 0;
  std::string puuid_;
  std::string idToken_;
  bool loggedIn_ = false;
  GameflowPhase gameflowPhase_ = GameflowPhase::None;
  std::optional<EoGStats> pendingEogStats_;
};

template <typename T>
void PftPlugin::PublishRecord(std::string_view path, const T& record,
                              const PFTSurveyData* shownData) {
  plugin::PluginResourceEvent event;  // its data stays empty: the record's tree is sent as it
  event.uri = path;
  event.eventType = plugin::PluginResourceEventType::Update;
  binding::BindingResult data = binding::NativeToValue(*typeRegistry(), record);
  if (!data.ok()) {
    const binding::BindingType* type = binding::DescribedTypeIn<T>(*typeRegistry());
    diagnostics::PftTrace("%s: Couldn't convert resource %s for event uri \"%s\"",
                          shortName().c_str(), type != nullptr ? type->name.c_str() : "",
                          event.uri.c_str());
    return;
  }
  binding::HostValueGraftList grafts(shownData != nullptr ? shownData->size() : 0);
  if (shownData != nullptr) {
    binding::BindingProperty& placeholders = data.memberAt("data");
    // Members move while others join or are put in order: all are placed before any is held.
    for (const auto& entry : *shownData) (void)placeholders.memberAt(entry.first);
    placeholders.closeMembers();
    std::size_t next = 0;
    for (const auto& [name, value] : *shownData) {
      grafts[next++] = {&placeholders.memberAt(name), &value};
    }
  }
  // The survey stays what the caller asked for whether or not the host took the event.
  (void)SendResourceEvent("OnJsonApiEvent", event, data, 0, grafts.View());
}

template <typename T>
bool PftPlugin::ToPrettyJson(const T& record, std::string& text, std::size_t maxBytes) const {
  const binding::BindingResult value = binding::NativeToValue(*typeRegistry(), record);
  if (!value.ok()) return false;
  return formats::ToJson(value, typeRegistry(), "\r\n", maxBytes, text);
}

}  // namespace vyn::pft
