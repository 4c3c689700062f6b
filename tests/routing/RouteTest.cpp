// Route templates, path matching, method requirements and the choice among several routes.
#include "routing/Route.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vyn::routing {
namespace {

Route Any(std::string_view pathTemplate) {
  return Route(HttpMethod::Get, MethodSpecification{}, pathTemplate);
}

TEST(TemplateToRegexConversion, EscapesAndParameters) {
  struct Case {
    const char* desc;
    const char* pathTemplate;
    const char* expression;
    std::vector<std::pair<ParameterKind, std::string>> parameters;
  };
  const Case cases[] = {
      {"simple parameter", "/items/{id}", "/items/([^/]*)", {{ParameterKind::Simple, "id"}}},
      {"reserved parameter", "/files/{+path}", "/files/(.*)", {{ParameterKind::Reserved, "path"}}},
      {"fragment parameter", "/doc{#frag}", "/doc#(.*)", {{ParameterKind::Fragment, "frag"}}},
      {"syntax characters escaped",
       "/a.b*c+d?e(f)g[h]i|j^k$l\\m",
       "/a\\.b\\*c\\+d\\?e\\(f\\)g\\[h\\]i\\|j\\^k\\$l\\\\m",
       {}},
      {"operator only as first name character",
       "/x/{a+b}",
       "/x/([^/]*)",
       {{ParameterKind::Simple, "a+b"}}},
      {"two parameters in order",
       "/{a}/{+b}",
       "/([^/]*)/(.*)",
       {{ParameterKind::Simple, "a"}, {ParameterKind::Reserved, "b"}}},
      {"stray closing brace adds no parameter",
       "/x}/{id}",
       "/x/([^/]*)",
       {{ParameterKind::Simple, "id"}}},
      {"unclosed brace yields nothing", "/items/{id", "/items/", {}},
  };
  for (const Case& c : cases) {
    const TemplateRegex result = TemplateToRegex(c.pathTemplate);
    EXPECT_EQ(result.expression, c.expression) << c.desc;
    ASSERT_EQ(result.parameters.size(), c.parameters.size()) << c.desc;
    for (std::size_t i = 0; i < c.parameters.size(); ++i) {
      EXPECT_EQ(result.parameters[i].kind, c.parameters[i].first) << c.desc << " #" << i;
      EXPECT_EQ(result.parameters[i].name, c.parameters[i].second) << c.desc << " #" << i;
    }
  }
}

TEST(RoutePathMatching, LiteralAndExpressionRoutes) {
  struct Case {
    const char* desc;
    const char* pathTemplate;
    const char* path;
    bool matches;
    PathParameters parameters;
  };
  const Case cases[] = {
      {"literal, same bytes", "/vyn-pft/v2/survey", "/vyn-pft/v2/survey", true, {}},
      {"literal, trailing slash", "/vyn-pft/v2/survey", "/vyn-pft/v2/survey/", false, {}},
      {"literal, query part", "/vyn-pft/v2/survey", "/vyn-pft/v2/survey?a=1", false, {}},
      {"simple, decoded capture", "/items/{id}", "/items/a%20b", true, {{"id", "a b"}}},
      {"simple, plus decodes to blank", "/items/{id}", "/items/a+b", true, {{"id", "a b"}}},
      {"simple, empty segment", "/items/{id}", "/items/", true, {{"id", ""}}},
      {"simple, not across slash", "/items/{id}", "/items/a/b", false, {}},
      {"simple, whole path required", "/items/{id}", "/x/items/a", false, {}},
      {"simple, encoded slash stays in segment",
       "/items/{id}",
       "/items/a%2Fb",
       true,
       {{"id", "a/b"}}},
      {"reserved spans segments", "/files/{+path}", "/files/a/b/c", true, {{"path", "a/b/c"}}},
      {"fragment", "/doc{#frag}", "/doc#top", true, {{"frag", "top"}}},
      {"fragment needs its mark", "/doc{#frag}", "/doctop", false, {}},
      {"escaped dot is literal", "/a.b/{x}", "/axb/1", false, {}},
      {"escaped dot matches dot", "/a.b/{x}", "/a.b/1", true, {{"x", "1"}}},
      {"query part lands in the capture", "/items/{id}", "/items/5?x=1", true, {{"id", "5?x=1"}}},
  };
  for (const Case& c : cases) {
    const Route route = Any(c.pathTemplate);
    PathParameters parameters;
    EXPECT_EQ(route.MatchPath(c.path, parameters), c.matches) << c.desc;
    if (c.matches) {
      EXPECT_EQ(parameters, c.parameters) << c.desc;
    }
  }
}

TEST(RoutePathMatching, LiteralRouteHasNoExpression) {
  EXPECT_TRUE(Any("/vyn-pft/v2/survey").IsLiteral());
  EXPECT_TRUE(Any("/vyn-pft/v2/survey").Parameters().empty());
  const Route route = Any("/items/{id}");
  EXPECT_FALSE(route.IsLiteral());
  EXPECT_TRUE(route.IsValid());
  ASSERT_EQ(route.Parameters().size(), 1u);
  EXPECT_EQ(route.Parameters()[0].name, "id");
}

TEST(RoutePathMatching, CopiesShareTheCompiledExpression) {
  const Route original = Any("/items/{id}");
  const std::vector<Route> copies(3, original);
  PathParameters parameters;
  for (const Route& copy : copies) {
    EXPECT_EQ(&copy.Parameters(), &original.Parameters());
    EXPECT_TRUE(copy.MatchPath("/items/7", parameters));
    EXPECT_EQ(parameters.at("id"), "7");
  }
}

TEST(RoutePathMatching, RepeatedNameKeepsLaterCaptureAndClearsOutput) {
  const Route route = Any("/{a}/{a}");
  PathParameters parameters{{"stale", "x"}};
  ASSERT_TRUE(route.MatchPath("/1/22", parameters));
  EXPECT_EQ(parameters, (PathParameters{{"a", "22"}}));
}

TEST(RoutePathMatching, OverlongPathIsRefusedWithoutCrashing) {
  const Route route = Any("/files/{+path}");
  PathParameters parameters;
  const std::string longest = "/files/" + std::string(Route::kMaxExpressionPathLength - 7, 'a');
  EXPECT_TRUE(route.MatchPath(longest, parameters));
  EXPECT_EQ(parameters.at("path").size(), Route::kMaxExpressionPathLength - 7);
  EXPECT_FALSE(route.MatchPath(longest + "a", parameters));
  EXPECT_FALSE(route.MatchPath("/files/" + std::string(200000, 'a'), parameters));
  // Literal routes compare bytes and have no such limit.
  const std::string literal = "/" + std::string(100000, 'l');
  EXPECT_TRUE(Any(literal).MatchPath(literal, parameters));
}

TEST(RouteMethodSpecification, WhichRequestsPass) {
  struct Case {
    const char* desc;
    MethodSpecification specification;
    HttpMethod request;
    const char* custom;
    bool accepted;
  };
  const Case cases[] = {
      {"none accepts GET", {HttpMethod::None, ""}, HttpMethod::Get, "", true},
      {"none accepts a custom method", {HttpMethod::None, ""}, HttpMethod::Custom, "PURGE", true},
      {"none accepts no method", {HttpMethod::None, ""}, HttpMethod::None, "", true},
      {"same code", {HttpMethod::Post, ""}, HttpMethod::Post, "", true},
      {"other code", {HttpMethod::Post, ""}, HttpMethod::Put, "", false},
      {"no method against a requirement", {HttpMethod::Get, ""}, HttpMethod::None, "", false},
      {"custom, same name", {HttpMethod::Custom, "PURGE"}, HttpMethod::Custom, "PURGE", true},
      {"custom, other name", {HttpMethod::Custom, "PURGE"}, HttpMethod::Custom, "LOCK", false},
      {"custom, names are case-sensitive",
       {HttpMethod::Custom, "PURGE"},
       HttpMethod::Custom,
       "purge",
       false},
      {"custom, empty against a name",
       {HttpMethod::Custom, "PURGE"},
       HttpMethod::Custom,
       "",
       false},
      {"standard code ignores a stray name", {HttpMethod::Get, ""}, HttpMethod::Get, "X", true},
  };
  for (const Case& c : cases) {
    const Route route(c.specification.method, c.specification, "/x");
    EXPECT_EQ(route.AcceptsMethod(c.request, c.custom), c.accepted) << c.desc;
    RouteMatch held;
    EXPECT_EQ(MatchRoutes(c.request, c.custom, "/x", std::span(&route, 1), held), c.accepted)
        << c.desc;
  }
}

TEST(RouteMethodSpecification, UnknownHostCodeCountsAsNone) {
  const Route get(HttpMethod::Get, {HttpMethod::Get, ""}, "/x");
  const Route any(HttpMethod::None, {}, "/x");
  RouteMatch held;
  EXPECT_FALSE(MatchRoutes(HttpMethodFromCode(9), "", "/x", std::span(&get, 1), held));
  EXPECT_TRUE(MatchRoutes(HttpMethodFromCode(9), "", "/x", std::span(&any, 1), held));
}

TEST(RouteMatchOrder, ChoosesShortestParametersAndKeepsEarlierOnTie) {
  const std::vector<Route> routes = {
      Any("/{+rest}"),  // rest = "a/b" (3)
      Any("/a/{x}"),    // x = "b" (1)
      Any("/{y}/b"),    // y = "a" (1): a tie, the earlier route stays
  };
  RouteMatch held;
  ASSERT_TRUE(MatchRoutes(HttpMethod::Get, "", "/a/b", routes, held));
  EXPECT_EQ(held.pathTemplate, "/a/{x}");
  EXPECT_EQ(held.parameters, (PathParameters{{"x", "b"}}));
}

TEST(RouteMatchOrder, DecodedLengthDecides) {
  // "%41%42" is six characters on the wire but two once decoded.
  const std::vector<Route> routes = {Any("/p/{a}/q"), Any("/p/{+b}")};
  RouteMatch held;
  ASSERT_TRUE(MatchRoutes(HttpMethod::Get, "", "/p/%41%42%43/q", routes, held));
  EXPECT_EQ(held.pathTemplate, "/p/{a}/q");
  EXPECT_EQ(held.parameters.at("a"), "ABC");
}

TEST(RouteMatchOrder, ParameterlessMatchWins) {
  const std::vector<Route> routes = {Any("/{x}"), Any("/a"), Any("/{y}")};
  RouteMatch held;
  ASSERT_TRUE(MatchRoutes(HttpMethod::Get, "", "/a", routes, held));
  EXPECT_EQ(held.pathTemplate, "/a");
  EXPECT_TRUE(held.parameters.empty());
}

TEST(RouteMatchOrder, TieAtZeroKeepsEarlierRoute) {
  // Empty values total zero, as a literal route does: the later literal route does not win.
  const std::vector<Route> routes = {Any("/a/{x}"), Any("/a/")};
  RouteMatch held;
  ASSERT_TRUE(MatchRoutes(HttpMethod::Get, "", "/a/", routes, held));
  EXPECT_EQ(held.pathTemplate, "/a/{x}");
  EXPECT_EQ(held.parameters, (PathParameters{{"x", ""}}));
}

TEST(RouteMatchOrder, OutcomeRecordsTheMatchedRoute) {
  const std::vector<Route> routes = {
      Route(HttpMethod::Post, {HttpMethod::Post, ""}, "/items/{id}"),
      Route(HttpMethod::Get, {HttpMethod::Get, ""}, "/items/{id}"),
  };
  RouteMatch held;
  ASSERT_TRUE(MatchRoutes(HttpMethod::Get, "", "/items/9", routes, held));
  EXPECT_EQ(held.method, HttpMethod::Get);
  EXPECT_EQ(held.specification.method, HttpMethod::Get);
  EXPECT_EQ(held.pathTemplate, "/items/{id}");

  RouteMatch none;
  EXPECT_FALSE(MatchRoutes(HttpMethod::Put, "", "/items/9", routes, none));
  EXPECT_FALSE(none.matched);
  EXPECT_FALSE(MatchRoutes(HttpMethod::Get, "", "/items/9", {}, none));
}

}  // namespace
}  // namespace vyn::routing
