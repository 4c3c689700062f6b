// Fuzzes the URL side of routing: percent-decoding and -encoding, the query split, templates
// turned into routes, and the matching of a fuzzed method and path against the endpoints' routes
// and a few routes from fuzzed templates. Besides crashes and undefined behaviour it checks the
// contracts against small models: decoding never grows a text and undoes encoding, the query
// split is the split of the rules (items at "&", names at the first "=", later names win),
// every template compiles, a template filled in with encoded values matches and gives the values
// back, and MatchRoutes keeps the route with the shortest parameters, the earlier one on a tie,
// stopping at the first match without parameters.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "routing/HttpMethod.h"
#include "routing/PercentCoding.h"
#include "routing/Route.h"

namespace {

using vyn::fuzz::Violated;
using vyn::routing::HttpMethod;
using vyn::routing::MethodSpecification;
using vyn::routing::PathParameters;
using vyn::routing::Route;

// Fuzzed templates are compiled by the standard matcher, which backtracks: a template with k
// parameters costs up to length^k steps on a path that almost matches. The endpoints' own
// templates have at most a parameter or two; fuzzed ones are kept to what runs in milliseconds.
constexpr std::size_t kMaxFuzzedTemplateLength = 64;
constexpr std::size_t kMaxFuzzedTemplateParameters = 3;
constexpr std::size_t kMaxPathForFuzzedRoutes = 96;

bool IsUnreserved(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '~';
}

void CheckPercentCoding(std::string_view text) {
  const std::string decoded = vyn::routing::PercentDecode(text);
  if (decoded.size() > text.size()) Violated("decoding made a text longer");
  if (text.find_first_of("%+") == std::string_view::npos && decoded != text) {
    Violated("decoding changed a text without escapes");
  }
  const std::string encoded = vyn::routing::PercentEncode(text);
  std::size_t reserved = 0;
  for (char c : text) reserved += IsUnreserved(c) ? 0 : 1;
  if (encoded.size() != text.size() + 2 * reserved) Violated("encoding has the wrong length");
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (IsUnreserved(encoded[i])) continue;
    const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    if (encoded[i] != '%' || i + 2 >= encoded.size() || !hex(encoded[i + 1]) ||
        !hex(encoded[i + 2])) {
      Violated("encoding wrote a byte outside the unreserved set and its escapes");
    }
    i += 2;
  }
  if (vyn::routing::PercentDecode(encoded) != text) Violated("decoding does not undo encoding");
}

vyn::routing::QueryParameters ModelQuery(std::string_view query) {
  vyn::routing::QueryParameters parameters;
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    const std::string_view item = query.substr(start, end - start);
    if (!item.empty()) {
      const std::size_t equals = item.find('=');
      const std::string_view name = item.substr(0, equals);
      const std::string_view value =
          equals == std::string_view::npos ? std::string_view() : item.substr(equals + 1);
      parameters.insert_or_assign(vyn::routing::PercentDecode(name),
                                  vyn::routing::PercentDecode(value));
    }
    start = end + 1;
  }
  return parameters;
}

void CheckQuery(std::string_view query) {
  const vyn::routing::QueryParameters parsed = vyn::routing::ParseQuery(query);
  if (parsed != ModelQuery(query)) Violated("the query split differs from its rules");
  // Written back with every name and value encoded, the query reads back the same.
  std::string written;
  for (const auto& [name, value] : parsed) {
    if (!written.empty()) written += '&';
    written += vyn::routing::PercentEncode(name) + "=" + vyn::routing::PercentEncode(value);
  }
  if (vyn::routing::ParseQuery(written) != parsed) Violated("an encoded query reads differently");
}

// The path a template stands for with `values` (already encoded) in its parameters, by the
// template rules: "{name}", "{+name}" and "{#name}" (which brings its "#") take the next value, an
// operator counts only as the first byte of a name, a "{" inside braces starts the parameter's
// kind afresh but keeps its name, a stray "}" is dropped, and an unclosed "{" takes the rest. A
// template without "{" is literal.
std::string Expand(std::string_view pathTemplate, const std::vector<std::string>& values,
                   std::size_t& used) {
  used = 0;
  if (pathTemplate.find('{') == std::string_view::npos) return std::string(pathTemplate);
  std::string path;
  bool inside = false;
  char kind = ' ';  // ' ' simple, '+' reserved, '#' fragment
  bool nameEmpty = true;
  for (char c : pathTemplate) {
    if (c == '{') {
      inside = true;
      kind = ' ';
    } else if (c == '}') {
      if (!inside) continue;
      if (kind == '#') path += '#';
      path += values[used % values.size()];
      ++used;
      inside = false;
      nameEmpty = true;
    } else if (inside) {
      if (kind == ' ' && nameEmpty && (c == '+' || c == '#')) {
        kind = c;
      } else {
        nameEmpty = false;
      }
    } else {
      path += c;
    }
  }
  return path;
}

std::size_t ParameterCount(std::string_view pathTemplate) {
  return vyn::routing::TemplateToRegex(pathTemplate).parameters.size();
}

void CheckTemplate(const Route& route, const std::vector<std::string>& values,
                   const std::vector<std::string>& decoded) {
  if (!route.IsValid()) Violated("a template did not compile");
  std::size_t used = 0;
  const std::string path = Expand(route.PathTemplate(), values, used);
  if (used != route.Parameters().size()) Violated("the template has another parameter count");
  PathParameters parameters;
  if (!route.MatchPath(path, parameters)) Violated("a filled-in template does not match");
  // With one parameter the capture is the only text between fixed literal parts.
  if (used == 1 && parameters.begin()->second != decoded[0]) {
    Violated("a filled-in template gives another value back");
  }
}

std::size_t TotalLength(const PathParameters& parameters) {
  std::size_t total = 0;
  for (const auto& entry : parameters) total += entry.second.size();
  return total;
}

void CheckMatch(HttpMethod method, std::string_view custom, std::string_view path,
                const std::vector<Route>& routes) {
  vyn::routing::RouteMatch held;
  const bool matched = vyn::routing::MatchRoutes(method, custom, path, routes, held);

  const Route* expected = nullptr;
  PathParameters expectedParameters;
  for (const Route& route : routes) {
    const MethodSpecification& spec = route.Specification();
    const bool accepts =
        spec.method == HttpMethod::None ||
        (method == spec.method && (method != HttpMethod::Custom || custom == spec.customMethod));
    if (!accepts) continue;
    PathParameters parameters;
    const bool pathMatches = route.MatchPath(path, parameters);
    if (route.IsLiteral() && pathMatches != (path == route.PathTemplate())) {
      Violated("a literal route matched another path");
    }
    if (!pathMatches) continue;
    if (expected != nullptr && TotalLength(parameters) >= TotalLength(expectedParameters)) {
      continue;
    }
    expected = &route;
    expectedParameters = std::move(parameters);
    if (expectedParameters.empty()) break;
  }
  if (matched != (expected != nullptr) || held.matched != matched) {
    Violated("MatchRoutes disagrees on whether a route matched");
  }
  if (expected != nullptr &&
      (held.pathTemplate != expected->PathTemplate() || held.method != expected->Method() ||
       held.parameters != expectedParameters)) {
    Violated("MatchRoutes kept another route");
  }
}

MethodSpecification FuzzedSpecification(vyn::fuzz::FuzzInput& in) {
  MethodSpecification spec;
  spec.method = vyn::routing::HttpMethodFromCode(in.Byte() % 10);
  if (spec.method == HttpMethod::Custom) spec.customMethod = in.Bytes(in.Byte() % 8);
  return spec;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  vyn::fuzz::FuzzInput in(data, size);
  const uint32_t code = in.Byte() < 0xF0 ? in.Byte() % 10 : in.U32();
  const HttpMethod method = vyn::routing::HttpMethodFromCode(code);
  if (static_cast<uint32_t>(method) != (code >= 1 && code <= 8 ? code : 0)) {
    Violated("a method code was read as another method");
  }
  if ((vyn::routing::HttpMethodName(code).empty()) != (code < 1 || code > 7)) {
    Violated("a method name is missing or made up");
  }
  const std::string custom = in.Bytes(in.Byte() % 8);
  const std::string path = in.Text();

  std::vector<std::string> values;
  std::vector<std::string> decoded;
  for (int i = 0; i < 3; ++i) {
    decoded.push_back(in.Bytes(in.Byte() % 9));
    values.push_back(vyn::routing::PercentEncode(decoded.back()));
  }

  std::vector<Route> fuzzedRoutes;
  const std::size_t fuzzedCount = in.Byte() % 3;
  for (std::size_t i = 0; i < fuzzedCount; ++i) {
    const MethodSpecification spec = FuzzedSpecification(in);
    const std::string pathTemplate = in.Bytes(in.Byte() % (kMaxFuzzedTemplateLength + 1));
    if (ParameterCount(pathTemplate) > kMaxFuzzedTemplateParameters) continue;
    fuzzedRoutes.emplace_back(spec.method, spec, pathTemplate);
  }

  CheckPercentCoding(path);
  CheckQuery(vyn::routing::QueryText(path));

  // The endpoints' kinds of template, in the order an API would list them.
  auto Spec = [](HttpMethod m, std::string name = {}) {
    return MethodSpecification{m, std::move(name)};
  };
  static const std::vector<Route> kFixed = {
      Route(HttpMethod::Get, Spec(HttpMethod::Get), "/vyn-pft/v2/survey"),
      Route(HttpMethod::Post, Spec(HttpMethod::Post), "/vyn-pft/v2/survey"),
      Route(HttpMethod::Post, Spec(HttpMethod::Post), "/vyn-pft/v2/events"),
      Route(HttpMethod::None, Spec(HttpMethod::None), "/items/{id}"),
      Route(HttpMethod::Get, Spec(HttpMethod::Get), "/files/{+path}"),
      Route(HttpMethod::None, Spec(HttpMethod::None), "/doc{#frag}"),
      Route(HttpMethod::Delete, Spec(HttpMethod::Delete), "/a.b/{x}/c{y}"),
      Route(HttpMethod::Custom, Spec(HttpMethod::Custom, "PURGE"), "/cache/{key}"),
      Route(HttpMethod::Put, Spec(HttpMethod::Put), "/users/{id}/items/{item}"),
      Route(HttpMethod::None, Spec(HttpMethod::None), "/items/{id}/"),
  };
  for (const Route& route : kFixed) CheckTemplate(route, values, decoded);
  CheckMatch(method, custom, path, kFixed);

  for (const Route& route : fuzzedRoutes) CheckTemplate(route, values, decoded);
  if (!fuzzedRoutes.empty() && path.size() <= kMaxPathForFuzzedRoutes) {
    std::vector<Route> routes = fuzzedRoutes;
    routes.insert(routes.end(), kFixed.begin(), kFixed.end());
    CheckMatch(method, custom, path, routes);
  }
  return 0;
}
