// "vyn-host demo": plays one round of the player feedback tool against a stand-in feedback
// service and shows each step: sign-in, end of game, the survey, an answer and its upload.
#pragma once

#include <string>

namespace vyn::host {

// Returns 0 when every step behaved; otherwise names the step that did not and returns 1.
int RunDemo(const std::string& pluginPath);

}  // namespace vyn::host
