// Route templates, their compiled form, and route matching.
#include "routing/Route.h"

#include <regex>
#include <utility>

#include "routing/PercentCoding.h"

namespace vyn::routing {

struct Route::Compiled {
  std::regex expression;
  std::vector<RouteParameter> parameters;
};

namespace {

bool IsRegexSyntax(char c) {
  return std::string_view("^$.*+?()[]|\\").find(c) != std::string_view::npos;
}

std::size_t TotalLength(const PathParameters& parameters) {
  std::size_t total = 0;
  for (const auto& entry : parameters) total += entry.second.size();
  return total;
}

}  // namespace

TemplateRegex TemplateToRegex(std::string_view pathTemplate) {
  TemplateRegex result;
  int state = 0;  // 0 outside braces, else the kind of the parameter being read
  RouteParameter current;
  for (char c : pathTemplate) {
    if (c == '{') {
      state = 1;
      current.kind = ParameterKind::Simple;
    } else if (c == '}') {
      if (state == 0) continue;  // stray: no group, so no parameter either
      switch (current.kind) {
        case ParameterKind::Simple:
          result.expression += "([^/]*)";
          break;
        case ParameterKind::Reserved:
          result.expression += "(.*)";
          break;
        case ParameterKind::Fragment:
          result.expression += "#(.*)";
          break;
      }
      result.parameters.push_back(std::move(current));
      current = RouteParameter{};
      state = 0;
    } else if (state != 0) {
      // The operator is only recognised as the first character of the name.
      if (state == 1 && current.name.empty() && c == '+') {
        state = 2;
        current.kind = ParameterKind::Reserved;
      } else if (state == 1 && current.name.empty() && c == '#') {
        state = 3;
        current.kind = ParameterKind::Fragment;
      } else {
        current.name.push_back(c);
      }
    } else {
      if (IsRegexSyntax(c)) result.expression.push_back('\\');
      result.expression.push_back(c);
    }
  }
  return result;
}

Route::Route(HttpMethod method, MethodSpecification specification, std::string_view pathTemplate)
    : method_(method), specification_(std::move(specification)), pathTemplate_(pathTemplate) {
  if (pathTemplate_.find('{') == std::string::npos) return;
  TemplateRegex converted = TemplateToRegex(pathTemplate_);
  try {
    compiled_ = std::make_shared<const Compiled>(Compiled{
        std::regex(converted.expression, std::regex::ECMAScript), std::move(converted.parameters)});
  } catch (const std::regex_error&) {
    valid_ = false;  // cannot happen for converted templates; never let it escape regardless
  }
}

const std::vector<RouteParameter>& Route::Parameters() const {
  static const std::vector<RouteParameter> kNone;
  return compiled_ ? compiled_->parameters : kNone;
}

bool Route::AcceptsMethod(HttpMethod requestMethod, std::string_view customMethod) const {
  if (specification_.method == HttpMethod::None) return true;
  if (requestMethod != specification_.method) return false;
  return requestMethod != HttpMethod::Custom || customMethod == specification_.customMethod;
}

bool Route::MatchPath(std::string_view path, PathParameters& parameters) const {
  parameters.clear();
  if (!valid_) return false;
  if (!compiled_) return path == pathTemplate_;
  if (path.size() > kMaxExpressionPathLength) return false;

  std::cmatch groups;
  if (!std::regex_match(path.data(), path.data() + path.size(), groups, compiled_->expression)) {
    return false;
  }
  const std::vector<RouteParameter>& names = compiled_->parameters;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const auto& group = groups[i + 1];
    std::string value;
    if (group.matched) {
      value =
          PercentDecode(std::string_view(group.first, static_cast<std::size_t>(group.length())));
    }
    parameters.insert_or_assign(names[i].name, std::move(value));
  }
  return true;
}

bool MatchRoutes(HttpMethod requestMethod, std::string_view customMethod, std::string_view path,
                 std::span<const Route> routes, RouteMatch& held) {
  for (const Route& route : routes) {
    if (!route.AcceptsMethod(requestMethod, customMethod)) continue;
    PathParameters parameters;
    if (!route.MatchPath(path, parameters)) continue;
    if (held.matched && TotalLength(parameters) >= TotalLength(held.parameters)) continue;

    held.matched = true;
    held.method = route.Method();
    held.specification = route.Specification();
    held.pathTemplate = route.PathTemplate();
    held.parameters = std::move(parameters);
    if (held.parameters.empty()) break;
  }
  return held.matched;
}

}  // namespace vyn::routing
