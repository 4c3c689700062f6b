// Front-end survey events and the upload of the player's answers. The event log survives failed
// uploads, so the next upload repeats everything the service has not acknowledged.
#include <string>

#include "diagnostics/FormatText.h"
#include "pft/PftPlugin.h"
#include "plugin/OutgoingRequests.h"
#include "routing/FunctionDispatcher.h"

namespace vyn::pft {

using binding::BindingProperty;
using binding::BindingPropertyKind;
using diagnostics::PftTrace;
using routing::CallResult;
using Tarn::Client::Pft::Api::PFTQuestionResponse;
using Tarn::Client::Pft::Api::SurveyResults;

namespace {

bool IsUploadAction(std::string_view action) {
  return action == "close" || action == "submit" || action == "popout";
}

}  // namespace

void PftPlugin::HandlePFTEvent(CallResult& result, const PFTEvent& event) {
  eventLog_.push_back(event);
  if (!IsUploadAction(event.action)) return;

  std::string input;
  if (!ToPrettyJson(event, input)) {
    result.InternalErrorResult("Error serializing event.");
    return;
  }
  PftTrace("HandlePFTEvent: input %s", input.c_str());
  const std::string backendUrl = GetBackendUrl();
  if (backendUrl.empty()) {
    result.NotFoundResult(kBackendUrlMissing);
    return;
  }
  PftTrace("HandlePFTEvent: backendUrl:'%s'", backendUrl.c_str());
  if (!loggedIn_) {
    result.NotFoundResult("Plugin disabled, user not logged in.");
    return;
  }
  SavePFTSurveyResults(result, event, backendUrl);
}

void PftPlugin::SavePFTSurveyResults(CallResult& result, const PFTEvent& event,
                                     const std::string& backendUrl) {
  SurveyResults results;
  results.questionResponses.reserve(event.data.size());
  for (const BindingProperty& answer : event.data) {
    PFTQuestionResponse& response = results.questionResponses.emplace_back();
    // A plain answer travels wrapped, so the service always reads a structure.
    const BindingProperty& value = answer.member("value");
    if (value.kind() == BindingPropertyKind::Structure) {
      response.responseData.copyFrom(value);
    } else {
      response.responseData.memberAt("value").copyFrom(value);
    }
    response.questionId = answer.member("questionId").toUnsigned();
  }
  results.actions = eventLog_;

  plugin::ExternalHttpRequest request;
  if (!ToPrettyJson(results, request.body)) {
    result.InternalErrorResult("Error serializing request payload.");
    return;
  }
  PftTrace("SavePFTSurveyResults: payload: '%s'", request.body.c_str());
  request.url = diagnostics::FormatText("%1/player-feedback-tool/v2/players/%2/surveys/%3/results",
                                        backendUrl, puuid_, event.playerSurveyId);
  PftTrace("SavePFTSurveyResults: queryString: '%s'", request.url.c_str());
  request.method = routing::HttpMethod::Post;
  request.headers = GetRequestHeaders();
  request.option = kServiceRequestOption;

  const plugin::ExternalHttpResponse response = plugin::ExternalRequest(*this, request);
  if (response.failed()) {
    result.InternalErrorResult("Failed to save survey results for puuid '%1': '%2'", puuid_,
                               response.error);
    return;
  }
  if (response.status >= 200 && response.status <= 204) {
    // The log's storage goes too: a long session between uploads must not keep its peak.
    eventLog_.clear();
    eventLog_.shrink_to_fit();
    return;
  }
  result.InternalErrorResult("Failed to save survey results for puuid '%1': %2-'%3'", puuid_,
                             response.status, response.body);
}

}  // namespace vyn::pft
