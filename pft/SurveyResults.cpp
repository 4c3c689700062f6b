// Front-end survey events and the upload of the player's answers. The event log survives failed
// uploads, so the next upload repeats everything the service has not acknowledged.
#include <string>

#include "diagnostics/FormatText.h"
#include "diagnostics/Log.h"
#include "pft/PftPlugin.h"
#include "plugin/OutgoingRequests.h"
#include "routing/CallResult.h"

namespace vyn::pft {

using diagnostics::PftTrace;
using routing::CallResult;

namespace {

bool IsUploadAction(std::string_view action) {
  return action == "close" || action == "submit" || action == "popout";
}

}  // namespace

void PftPlugin::HandlePFTEvent(CallResult& result, const PFTEvent& event) {
  // The event is kept as the text it takes in the upload. One that cannot be written, or that
  // alone would fill the log, could never be uploaded: it is refused rather than kept, since
  // keeping it would fail every later upload.
  std::string input;
  std::size_t dropped = 0;
  if (!ToPrettyJson(event, input, EventLog::kMaxBytes) || !eventLog_.Append(input, dropped)) {
    result.InternalErrorResult("Error serializing event.");
    return;
  }
  if (dropped != 0) {
    diagnostics::LogPrintf(
        diagnostics::kLogError, diagnostics::kCategoryDbg,
        "HandlePFTEvent: event log full, dropped the %zu oldest events awaiting upload", dropped);
  }
  if (!IsUploadAction(event.action)) return;

  PftTrace("HandlePFTEvent: input %s", input.c_str());
  input = std::string();  // the log holds it; an upload may be large
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
  plugin::ExternalHttpRequest request;
  if (!WriteResultsUpload(eventLog_, event.data, typeRegistry(), kMaxResultsUploadBytes,
                          request.body)) {
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
    eventLog_.Clear();
    return;
  }
  result.InternalErrorResult("Failed to save survey results for puuid '%1': %2-'%3'", puuid_,
                             response.status, response.body);
}

}  // namespace vyn::pft
