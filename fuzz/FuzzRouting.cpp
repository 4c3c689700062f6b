// Fuzzes the URL side of routing against small models: percent coding, the query split (items at
// "&", names at the first "=", later names win), templates filled in with encoded values (they
// match and give the values back), and MatchRoutes (the shortest parameters win, the earlier on a
// tie, and a match without parameters ends the search).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
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
using vyn::routing::PercentDecode;
using vyn::routing::Route;

// The standard matcher backtracks (a template with k parameters costs up to length^k steps on a
// path that almost matches), so fuzzed templates are kept to what runs in milliseconds.
constexpr std::size_t kMaxFuzzedTemplateLength = 64;
constexpr std::size_t kMaxFuzzedTemplateParameters = 3;
constexpr std::size_t kMaxPathForFuzzedRoutes = 96;

void CheckPercentCoding(std::string_view text) {
  // Every byte outside the unreserved set becomes "%" and two upper-case hex digits.
  constexpr std::string_view kUnreserved =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.~";
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string expected;
  for (const char c : text) {
    if (kUnreserved.find(c) != std::string_view::npos) {
      expected += c;
    } else {
      expected += {'%', kHex[static_cast<uint8_t>(c) >> 4], kHex[c & 15]};
    }
  }
  const std::string encoded = vyn::routing::PercentEncode(text);
  if (encoded != expected) Violated("encoding differs from its rule");
  if (PercentDecode(encoded) != text) Violated("decoding does not undo encoding");
}

vyn::routing::QueryParameters ModelQuery(std::string_view query) {
  vyn::routing::QueryParameters parameters;
  for (std::size_t start = 0; start <= query.size();) {
    const std::size_t end = std::min(query.find('&', start), query.size());
    const std::string_view item = query.substr(start, end - start);
    start = end + 1;
    const std::size_t equals = std::min(item.find('='), item.size());
    const std::string_view value = equals < item.size() ? item.substr(equals + 1) : "";
    if (item.empty()) continue;
    parameters.insert_or_assign(PercentDecode(item.substr(0, equals)), PercentDecode(value));
  }
  return parameters;
}

// The path a template stands for with `values` (encoded) in its parameters: "{name}", "{+name}"
// and "{#name}" (with its "#") take the next value, an operator counts only as a name's first
// byte, a "{" inside braces starts the kind afresh, a stray "}" is dropped, an unclosed "{" takes
// the rest, and a template without "{" is literal.
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
      path += values[used++ % values.size()];
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
  return std::accumulate(parameters.begin(), parameters.end(), std::size_t{0},
                         [](std::size_t n, const auto& entry) { return n + entry.second.size(); });
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
    if (!route.MatchPath(path, parameters) ||
        (expected != nullptr && TotalLength(parameters) >= TotalLength(expectedParameters))) {
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  vyn::fuzz::FuzzInput in(data, size);
  const uint32_t code = in.Byte() < 0xF0 ? in.Byte() % 10 : in.U32();
  const HttpMethod method = vyn::routing::HttpMethodFromCode(code);
  const std::string custom = in.Bytes(in.Byte() % 8);
  const std::string path = in.Text();

  std::vector<std::string> values, decoded;
  for (int i = 0; i < 3; ++i) {
    decoded.push_back(in.Bytes(in.Byte() % 9));
    values.push_back(vyn::routing::PercentEncode(decoded.back()));
  }

  std::vector<Route> fuzzedRoutes;
  const std::size_t fuzzedCount = in.Byte() % 3;
  for (std::size_t i = 0; i < fuzzedCount; ++i) {
    MethodSpecification spec{vyn::routing::HttpMethodFromCode(in.Byte() % 10), {}};
    if (spec.method == HttpMethod::Custom) spec.customMethod = in.Bytes(in.Byte() % 8);
    const std::string pathTemplate = in.Bytes(in.Byte() % (kMaxFuzzedTemplateLength + 1));
    const std::size_t parameters = vyn::routing::TemplateToRegex(pathTemplate).parameters.size();
    if (parameters <= kMaxFuzzedTemplateParameters) {
      fuzzedRoutes.emplace_back(spec.method, spec, pathTemplate);
    }
  }

  CheckPercentCoding(path);
  const std::string_view query = vyn::routing::QueryText(path);
  if (vyn::routing::ParseQuery(query) != ModelQuery(query)) Violated("the query split differs");

  // The endpoints' kinds of template, in the order an API would list them.
  auto R = [](HttpMethod m, const char* pathTemplate, std::string custom = {}) {
    return Route(m, MethodSpecification{m, std::move(custom)}, pathTemplate);
  };
  static const std::vector<Route> kFixed = {R(HttpMethod::Get, "/vyn-pft/v2/survey"),
                                            R(HttpMethod::Post, "/vyn-pft/v2/survey"),
                                            R(HttpMethod::Post, "/vyn-pft/v2/events"),
                                            R(HttpMethod::None, "/items/{id}"),
                                            R(HttpMethod::Get, "/files/{+path}"),
                                            R(HttpMethod::None, "/doc{#frag}"),
                                            R(HttpMethod::Delete, "/a.b/{x}/c{y}"),
                                            R(HttpMethod::Custom, "/cache/{key}", "PURGE"),
                                            R(HttpMethod::Put, "/users/{id}/items/{item}"),
                                            R(HttpMethod::None, "/items/{id}/")};
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
