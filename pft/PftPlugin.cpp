// The feedback tool's plugin object: registration of its records and endpoints, and the endpoint
// handlers.
#include "pft/PftPlugin.h"

#include "pft/PftTypes.h"
#include "routing/FunctionDispatcher.h"

namespace vyn::pft {

using routing::BodyArgument;
using routing::CallResult;
using routing::HttpMethod;
using Tarn::Client::Pft::Api::PFTEvent;
using Tarn::Client::Pft::Api::PFTSurvey;

void PftPlugin::RegisterApi() {
  routing::FunctionDispatcher& dispatcher = registry();
  Tarn::Client::Pft::Api::RegisterPftTypes(dispatcher, typeNamePrefix(), tags());
  dispatcher.RegisterEndpoint(HttpMethod::Get, "/vyn-pft/v2/survey", tags(), {},
                              [this](CallResult& result) { HandleGetSurvey(result); });
  dispatcher.RegisterEndpoint(
      HttpMethod::Post, "/vyn-pft/v2/survey", tags(), {BodyArgument<PFTSurvey>("survey")},
      [this](CallResult& result, const PFTSurvey& survey) { HandlePostSurvey(result, survey); });
  dispatcher.RegisterEndpoint(
      HttpMethod::Post, "/vyn-pft/v2/events", tags(), {BodyArgument<PFTEvent>("pftEvent")},
      [this](CallResult& result, const PFTEvent& event) { HandlePFTEvent(result, event); });
}

// The survey retrieval, publishing and event handling are not built yet: until then each endpoint
// answers that honestly rather than with a success it did not earn.
void PftPlugin::HandleGetSurvey(CallResult& result) { result.SetError(501, "Not implemented"); }

void PftPlugin::HandlePostSurvey(CallResult& result, const PFTSurvey& /*survey*/) {
  result.SetError(501, "Not implemented");
}

void PftPlugin::HandlePFTEvent(CallResult& result, const PFTEvent& /*event*/) {
  result.SetError(501, "Not implemented");
}

}  // namespace vyn::pft
