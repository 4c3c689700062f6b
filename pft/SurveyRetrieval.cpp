// Survey retrieval: the client's facts gathered from the host, the request to the feedback
// service, and the checks and completions of its answer before the survey is published.
#include <string>

#include "diagnostics/FormatText.h"
#include "diagnostics/SystemInfo.h"
#include "formats/Json.h"
#include "pft/PftPlugin.h"
#include "plugin/OutgoingRequests.h"
#include "routing/CallResult.h"
#include "routing/PercentCoding.h"

namespace vyn::pft {

using binding::BindingProperty;
using binding::BindingPropertyKind;
using diagnostics::FormatText;
using diagnostics::PftTrace;
using routing::CallResult;
using routing::HttpMethod;

namespace {

constexpr char kBackendUrlPath[] =
    "/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl";
constexpr char kAppName[] = "QuarryClient";

}  // namespace

std::string PftPlugin::GetBackendUrl() {
  auto answer = plugin::LocalGet<BindingProperty>(*this, HttpMethod::Get, kBackendUrlPath);
  if (!answer.ok()) {
    PftTrace("Failed to get PlayerFeedbackTool platform configuration '%s'",
             answer.Detail("error").c_str());
    return {};
  }
  return answer.value.toText();
}

RegionLocale PftPlugin::GetRegionLocale() {
  auto answer = plugin::LocalGet<BindingProperty>(*this, HttpMethod::Get, "/tarnclient/region-locale");
  if (!answer.ok()) return {};
  const BindingProperty& v = answer.value;
  return RegionLocale{v.member("region").toText(), v.member("locale").toText(),
                      v.member("webRegion").toText(), v.member("webLanguage").toText()};
}

std::string PftPlugin::GetBuildVersion() {
  auto answer = plugin::LocalGet<BindingProperty>(*this, HttpMethod::Get, "/system/v1/builds");
  if (!answer.ok()) {
    PftTrace("Failed to get build information from global '%s'", answer.Detail("error").c_str());
    return "Unknown";
  }
  return FormatText("%1-%2", answer.value.member("codeBuildId").toText(),
                    answer.value.member("contentBuildId").toText());
}

AppInfo PftPlugin::GetAppInfo() {
  diagnostics::OsDescription os;
  // The texts are used whether or not the system could be described: empty ones then.
  (void)diagnostics::GetOsDescription(os);
  return AppInfo{kAppName, GetBuildVersion(),
                 FormatText("%1-%2.%3", os.platform, os.version, os.servicePack)};
}

HeaderList PftPlugin::GetRequestHeaders() const {
  HeaderList headers = {{"Accept", "application/json"},
                        {"Content-Type", "application/json"},
                        {"User-Agent", "Mozilla/5.0"}};
  if (!idToken_.empty()) headers.emplace_back("Authorization", "Bearer " + idToken_);
  return headers;
}

Metadata BuildSurveyMetadata(uint64_t accountId, const RegionLocale& regionLocale,
                             const AppInfo& appInfo, const EoGStats& statistics) {
  Metadata metadata;
  metadata.accountId = accountId;
  metadata.env = regionLocale.region;
  metadata.webRegion = regionLocale.webRegion;
  metadata.locale = regionLocale.locale;
  metadata.appName = appInfo.appName;
  metadata.appVersion = appInfo.appVersion;
  metadata.systemOs = appInfo.systemOs;
  if (statistics.accountId != 0) metadata.stats = statistics;
  return metadata;
}

std::string BuildExternalSurveyUrl(std::string_view url, uint64_t accountId,
                                   const AppInfo& appInfo, const RegionLocale& regionLocale,
                                   const EoGStats& statistics) {
  using routing::PercentEncode;
  // The url is taken as the service sent it, even when it has a query of its own.
  std::string result = FormatText(
      "%1?account_id=%2&env=%3&web_region=%4&locale=%5&app_name=%6&app_version=%7&system_os=%8",
      url, accountId, PercentEncode(regionLocale.region), PercentEncode(regionLocale.webRegion),
      PercentEncode(regionLocale.locale), PercentEncode(appInfo.appName),
      PercentEncode(appInfo.appVersion), PercentEncode(appInfo.systemOs));
  if (!statistics.gameMode.empty()) result = FormatText("%1&game_id=%2", result, statistics.gameId);
  return result;
}

void PftPlugin::GetSurvey(CallResult& result, PFTSurvey& survey, const EoGStats& statistics,
                          std::string_view eventType) {
  const std::string backendUrl = GetBackendUrl();
  if (backendUrl.empty()) {
    result.NotFoundResult(kBackendUrlMissing);
    return;
  }
  PftTrace("GetSurvey: backendUrl:'%s'", backendUrl.c_str());
  if (summonerId_ == 0) {
    result.NotFoundResult("No survey available, user not logged in.");
    return;
  }
  const RegionLocale regionLocale = GetRegionLocale();
  PftTrace("GetSurvey: locale region '%s' - '%s'", regionLocale.locale.c_str(),
           regionLocale.region.c_str());

  std::string shard;
  auto packet =
      plugin::LocalGet<BindingProperty>(*this, HttpMethod::Get, "/vyn-login/v1/login-data-packet");
  if (packet.ok()) {
    shard = packet.value.member("platformId").toText();
  } else {
    PftTrace("Failed to get shard from global '%s'", packet.Detail("error").c_str());
  }
  if (shard.empty()) {
    result.InternalErrorResult("Failed to retrieve shardId.");
    return;
  }
  PftTrace("GetSurvey: shardId '%s'", shard.c_str());

  std::string url = FormatText("%1/player-feedback-tool/v1/players/%2/surveys?shard=%3&iso_locale=%4",
                               backendUrl, puuid_, shard, regionLocale.locale);
  if (!eventType.empty()) url = FormatText("%1&event_type=%2", url, eventType);
  PftTrace("GetSurvey: query: '%s'", url.c_str());

  const AppInfo appInfo = GetAppInfo();
  const Metadata metadata = BuildSurveyMetadata(accountId_, regionLocale, appInfo, statistics);
  plugin::ExternalHttpRequest request;
  if (!ToPrettyJson(metadata, request.body)) {
    result.InternalErrorResult("Error serializing request payload.");
    return;
  }
  PftTrace("GetSurvey: payload: '%s'", request.body.c_str());

  request.method = HttpMethod::Post;
  request.url = url;
  request.headers = GetRequestHeaders();
  request.option = kServiceRequestOption;
  const plugin::ExternalHttpResponse response = plugin::ExternalRequest(*this, request);
  if (response.failed()) {
    result.InternalErrorResult("Failed to get survey for puuid '%1': '%2'", puuid_, response.error);
    return;
  }
  const uint32_t status = response.status;
  if (status < 200 || status >= 400) {
    result.InternalErrorResult("Failed to get survey for puuid '%1': %2-'%3'", puuid_, status,
                               response.body);
    return;
  }
  if (status == 204) {
    // The ordinary answer when no survey waits.
    result.NotFoundResult(
        "No survey available at this moment for puuid '%1', region '%2', locale '%3'.", puuid_,
        shard, regionLocale.locale);
    return;
  }
  if (status >= 300) {
    result.InternalErrorResult("Failed to get survey for puuid '%1'", puuid_);
    return;
  }

  PftTrace("GetSurvey: response '%s'", response.body.c_str());
  ValidateSurveyResponse(result, survey, response.body, regionLocale, statistics, appInfo);
  if (!result.ok()) return;
  // The trace is discarded, so the survey is not serialised just for it.
  PftTrace("GetSurvey: new survey available for puuid: '%s', result: '%s'", puuid_.c_str(), "");

  PublishSurvey("/vyn-pft/v2/survey", survey);
  if (survey.type == "external") PublishSurvey("/vyn-pft/v1/survey", ToSurveyV1(survey));
}

void PftPlugin::ValidateSurveyResponse(CallResult& result, PFTSurvey& survey,
                                       const std::string& body, const RegionLocale& regionLocale,
                                       const EoGStats& statistics, const AppInfo& appInfo) {
  binding::BindingResult parsed = formats::ParseJson(body);
  if (!parsed.ok() || !binding::ValueToNative(*typeRegistry(), parsed, survey, "<value>").ok()) {
    result.InternalErrorResult("Failed to deserialize reponse: '%1'", body);
    return;
  }
  if (survey.type.empty()) {
    result.InternalErrorResult("Received invalid response from PFT Service: '%1'", body);
    return;
  }
  survey.ownerPuuid = puuid_;

  if (survey.type == "external") {
    const auto found = survey.data.find("url");
    const std::string url = found != survey.data.end() ? found->second.toText() : std::string();
    if (url.empty()) {
      result.InternalErrorResult(
          "Received invalid response from PFT Service, url cannot be empty when type is "
          "external: '%1'",
          body);
      return;
    }
    survey.data["url"].setString(
        BuildExternalSurveyUrl(url, accountId_, appInfo, regionLocale, statistics));
    return;
  }

  // Every other type is one of the service's own surveys, given by its questions.
  BindingProperty& questions = survey.data["questions"];
  if (questions.kind() != BindingPropertyKind::Collection) {
    result.InternalErrorResult(
        "Received invalid response from PFT Service, questions cannot be empty when type is "
        "internal: '%1'",
        body);
    return;
  }
  BindingProperty rebuilt;
  rebuilt.makeCollection();
  rebuilt.reserve(questions.size());
  const std::span<const BindingProperty> elements = questions.elements();
  for (std::size_t i = 0; i < elements.size(); ++i) {
    const BindingProperty& question = elements[i];
    BindingProperty& entry = rebuilt.appendElement();
    // "type" first: a member moves when another joins its structure.
    entry.memberAt("type").copyFrom(question.member("type"));
    BindingProperty& data = entry.memberAt("data");
    data.copyFrom(question.member("data"));
    data.memberAt("questionId").setUnsigned(question.member("id").toUnsigned());
    data.memberAt("questionPosition").setUnsigned(i);
  }
  questions.moveFrom(rebuilt);
}

}  // namespace vyn::pft
