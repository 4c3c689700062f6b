// URL templates ("/items/{id}", "/files/{+path}", "/doc{#frag}") turned into routes, and the
// matching of a request's method and path against them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "routing/HttpMethod.h"

namespace vyn::routing {

enum class ParameterKind : uint8_t {
  Simple = 1,    // {name}: one path segment
  Reserved = 2,  // {+name}: the rest, "/" included
  Fragment = 3,  // {#name}: after a "#"
};

struct RouteParameter {
  ParameterKind kind = ParameterKind::Simple;
  std::string name;
};

// What an endpoint asks of a request's method. None accepts every method; otherwise the codes
// must be equal and, for Custom, the names too (byte for byte).
struct MethodSpecification {
  HttpMethod method = HttpMethod::None;
  std::string customMethod;  // only read for Custom
};

struct TemplateRegex {
  std::string expression;                  // no anchors: a route must match the whole path
  std::vector<RouteParameter> parameters;  // in template order, one per capture group
};

// Parameter name -> percent-decoded value.
using PathParameters = std::map<std::string, std::string, std::less<>>;

// The outcome of matching one request, held by the caller across MatchRoutes.
struct RouteMatch {
  bool matched = false;
  HttpMethod method = HttpMethod::None;  // the matched route's method code
  MethodSpecification specification;
  std::string_view pathTemplate;  // the matched route's own, valid while the route is
  PathParameters parameters;
};

// Characters of the regular-expression syntax outside braces are escaped, so the expression
// always compiles. An unclosed "{" yields nothing for its parameter; a "}" outside braces is
// dropped and adds no parameter (capture groups and names stay aligned).
TemplateRegex TemplateToRegex(std::string_view pathTemplate);

// One endpoint's method and template, ready for matching. Build it once when the endpoint is
// registered: the expression is compiled here and only here. Copies share the compiled
// expression (reference-counted, immutable), so a Route may be copied freely and matched from
// several threads at once.
class Route {
 public:
  // A template without "{" becomes a literal path; any other is compiled. Never throws for a
  // bad template: a route whose expression does not compile is not valid and matches nothing.
  Route(HttpMethod method, MethodSpecification specification, std::string_view pathTemplate);

  HttpMethod Method() const { return method_; }
  const MethodSpecification& Specification() const { return specification_; }
  const std::string& PathTemplate() const { return pathTemplate_; }
  bool IsLiteral() const { return compiled_ == nullptr && valid_; }
  bool IsValid() const { return valid_; }
  // Empty for a literal route.
  const std::vector<RouteParameter>& Parameters() const;

  bool AcceptsMethod(HttpMethod requestMethod, std::string_view customMethod) const;

  // The path exactly as the host gives it, query part included: a literal route wants the very
  // same bytes; an expression must match the whole path, and then `parameters` receives each
  // parameter's decoded capture (empty when its group took no part). Paths longer than
  // kMaxExpressionPathLength never match an expression, because the standard matcher recurses
  // once per character and a long path would overflow the calling thread's stack.
  bool MatchPath(std::string_view path, PathParameters& parameters) const;

  static constexpr std::size_t kMaxExpressionPathLength = 2048;

 private:
  struct Compiled;

  HttpMethod method_;
  MethodSpecification specification_;
  std::string pathTemplate_;
  bool valid_ = true;
  std::shared_ptr<const Compiled> compiled_;  // null for a literal route
};

// Matches a request against `routes` in order and keeps the outcome in `held`:
// - a route whose method and path both pass replaces the held match only when the total length
//   of its decoded parameter values is smaller (a tie keeps the earlier route);
// - a match without parameters ends the search at once.
// A match already in `held` takes part like any other, so pass a fresh RouteMatch for a new
// request. Returns whether a match is held at the end. `requestMethod` must already be
// normalised (HttpMethodFromCode); `customMethod` is only read for Custom.
bool MatchRoutes(HttpMethod requestMethod, std::string_view customMethod, std::string_view path,
                 std::span<const Route> routes, RouteMatch& held);

}  // namespace vyn::routing
