// The player feedback tool: the one concrete plugin object of the library.
#pragma once

#include "plugin/PluginBase.h"

namespace Tarn::Client::Pft::Api {
struct PFTSurvey;
struct PFTEvent;
}  // namespace Tarn::Client::Pft::Api

namespace vyn::routing {
class CallResult;
}

namespace vyn::pft {

class PftPlugin final : public plugin::PluginBase {
 public:
  PftPlugin() = default;
  ~PftPlugin() override = default;

  // The feature's records, then its three endpoints: GET and POST "/vyn-pft/v2/survey", POST
  // "/vyn-pft/v2/events".
  void RegisterApi() override;

 private:
  void HandleGetSurvey(routing::CallResult& result);
  void HandlePostSurvey(routing::CallResult& result,
                        const Tarn::Client::Pft::Api::PFTSurvey& survey);
  void HandlePFTEvent(routing::CallResult& result, const Tarn::Client::Pft::Api::PFTEvent& event);
};

}  // namespace vyn::pft
