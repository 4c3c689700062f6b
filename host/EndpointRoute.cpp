// An endpoint's path template as the host matches it.
#include "host/EndpointRoute.h"

#include <cstring>

namespace vyn::host {

EndpointRoute::EndpointRoute(const std::string& pathTemplate) {
  if (pathTemplate.find('{') == std::string::npos) {
    literal_ = pathTemplate;
    return;
  }
  isLiteral_ = false;
  std::string expression;
  bool inParameter = false;
  int kind = 0;  // 1 one piece, 2 anything, 3 a fragment
  bool named = false;
  for (const char c : pathTemplate) {
    if (c == '{') {
      inParameter = true;
      kind = 1;
      named = false;
    } else if (c == '}') {
      if (kind == 1) expression += "([^/]*)";
      if (kind == 2) expression += "(.*)";
      if (kind == 3) expression += "#(.*)";
      inParameter = false;
      kind = 0;
    } else if (inParameter) {
      if (kind == 1 && !named && c == '+') {
        kind = 2;
      } else if (kind == 1 && !named && c == '#') {
        kind = 3;
      } else {
        named = true;
      }
    } else {
      if (std::strchr("^$.*+?()[]|\\{}", c) != nullptr) expression += '\\';
      expression += c;
    }
  }
  try {
    pattern_ = std::make_shared<const std::regex>(expression);
  } catch (const std::regex_error&) {
    takesAll_ = true;
  }
}

bool EndpointRoute::Takes(const std::string& target) const {
  if (isLiteral_) return target == literal_;
  if (takesAll_) return true;
  try {
    return std::regex_match(target, *pattern_);
  } catch (const std::regex_error&) {
    return true;
  }
}

}  // namespace vyn::host
