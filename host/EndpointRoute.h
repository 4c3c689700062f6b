// Which calls an endpoint's path template can take, worked out by the host the same way the
// plugin's router does, so that a call no endpoint can take never waits for the plugin.
#pragma once

#include <memory>
#include <regex>
#include <string>

namespace vyn::host {

class EndpointRoute {
 public:
  // "{name}" takes one piece without "/", "{+name}" anything, "{#name}" a "#" and anything
  // after it; any other character stands for itself. A template without "{" is a literal.
  explicit EndpointRoute(const std::string& pathTemplate);

  // Whether the target, its query included (the router sees it whole), may reach the endpoint.
  // A template the host cannot read takes every target, so the plugin still decides.
  bool Takes(const std::string& target) const;

 private:
  std::string literal_;
  bool isLiteral_ = true;
  bool takesAll_ = false;
  std::shared_ptr<const std::regex> pattern_;
};

}  // namespace vyn::host
