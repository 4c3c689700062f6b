// Route templates, path matching, method requirements and the choice among several routes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "routing/Route.h"

namespace vyn::routing {
namespace {

Route Any(std::string_view pathTemplate) {
  return Route(HttpMethod::Get, MethodSpecification{}, pathTemplate);
}

TEST(RoutePathMatching, LiteralAndExpressionRoutes) {
  struct Case { std::string_view pathTemplate, path; bool matches; PathParameters parameters; };
  const Case cases[] = {
      {"/vyn-pft/v2/survey", "/vyn-pft/v2/survey", true, {}},
      {"/vyn-pft/v2/survey", "/vyn-pft/v2/survey?a=1", false, {}},
      {"/items/{id}", "/items/a%20b", true, {{"id", "a b"}}},
      {"/items/{id}", "/items/", true, {{"id", ""}}},
      {"/items/{id}", "/items/a/b", false, {}},
      {"/items/{id}", "/x/items/a", false, {}},
      {"/items/{id}", "/items/a%2Fb", true, {{"id", "a/b"}}},
      {"/items/{id}", "/items/5?x=1", true, {{"id", "5?x=1"}}},
      {"/files/{+path}", "/files/a/b/c", true, {{"path", "a/b/c"}}},
      {"/doc{#frag}", "/doc#top", true, {{"frag", "top"}}},
      {"/doc{#frag}", "/doctop", false, {}},
      {"/a.b/{x}", "/axb/1", false, {}},
      {"/{a}/{a}", "/1/22", true, {{"a", "22"}}},  // the later capture of a name stays
      {"/{a}/{+b}", "/1/2/3", true, {{"a", "1"}, {"b", "2/3"}}},
      {"/x/{a+b}", "/x/1", true, {{"a+b", "1"}}},  // an operator only as the first character
      {"/x}/{id}", "/x/5", true, {{"id", "5"}}},   // a stray closing brace adds no parameter
      {"/items/{id", "/items/", true, {}},         // an unclosed brace yields nothing
      {"/items/{id", "/items/5", false, {}},
      {"/a.b*c+d?e(f)g[h]i|j^k$l\\m/{x}", "/a.b*c+d?e(f)g[h]i|j^k$l\\m/1", true, {{"x", "1"}}},
  };
  for (const Case& c : cases) {
    PathParameters parameters{{"stale", "x"}};
    EXPECT_EQ(Any(c.pathTemplate).MatchPath(c.path, parameters), c.matches) << c.path;
    EXPECT_EQ(parameters, c.matches ? c.parameters : PathParameters{}) << c.path;
  }
}

// Copies share the compiled expression; paths too long for the matcher's recursion miss it.
TEST(RoutePathMatching, LiteralsNeedNoExpressionAndCopiesShareOneThatMissesOverlongPaths) {
  const std::string literal = "/" + std::string(100000, 'l');
  PathParameters parameters;
  EXPECT_TRUE(Any(literal).IsLiteral());
  EXPECT_TRUE(Any(literal).MatchPath(literal, parameters));
  const Route original = Any("/files/{+path}");
  EXPECT_FALSE(original.IsLiteral());
  const Route route = original;
  EXPECT_EQ(&route.Parameters(), &original.Parameters());
  EXPECT_EQ(route.Parameters().at(0).name, "path");
  const std::string longest = "/files/" + std::string(Route::kMaxExpressionPathLength - 7, 'a');
  EXPECT_TRUE(route.MatchPath(longest, parameters));
  EXPECT_EQ(parameters.at("path").size(), Route::kMaxExpressionPathLength - 7);
  EXPECT_FALSE(route.MatchPath(longest + "a", parameters));
}

TEST(RouteMethodSpecification, WhichRequestsPass) {
  struct Case { MethodSpecification spec; HttpMethod request; const char* custom; bool accepted; };
  const Case cases[] = {
      {{HttpMethod::None, ""}, HttpMethod::Get, "", true},
      {{HttpMethod::None, ""}, HttpMethod::Custom, "PURGE", true},
      {{HttpMethod::Post, ""}, HttpMethod::Post, "", true},
      {{HttpMethod::Post, ""}, HttpMethod::Put, "", false},
      {{HttpMethod::Get, ""}, HttpMethod::Get, "X", true},  // a stray name beside a code
      {{HttpMethod::Custom, "PURGE"}, HttpMethod::Custom, "PURGE", true},
      {{HttpMethod::Custom, "PURGE"}, HttpMethod::Custom, "LOCK", false},
      {{HttpMethod::Custom, "PURGE"}, HttpMethod::Custom, "purge", false},
  };
  int row = 0;
  for (const Case& c : cases) {
    const Route route(c.spec.method, c.spec, "/x");
    EXPECT_EQ(route.AcceptsMethod(c.request, c.custom), c.accepted) << "row " << row++;
  }
}

TEST(RouteMatchOrder, ShortestDecodedParametersWinTheEarlierRouteOnATieAndTheOutcomeIsKept) {
  struct Case {
    std::vector<const char*> templates;
    const char* path;
    const char* chosen;
    PathParameters parameters;
  };
  const Case cases[] = {
      {{"/{+rest}", "/a/{x}", "/{y}/b"}, "/a/b", "/a/{x}", {{"x", "b"}}},
      {{"/%41%41%41/{b}", "/{a}/zzzzz"}, "/%41%41%41/zzzzz", "/{a}/zzzzz", {{"a", "AAA"}}},
      {{"/{x}", "/a", "/{y}"}, "/a", "/a", {}},
      {{"/a/{x}", "/a/"}, "/a/", "/a/{x}", {{"x", ""}}},  // empty values tie with a literal
  };
  for (const Case& c : cases) {
    std::vector<Route> routes;
    for (const char* pathTemplate : c.templates) routes.push_back(Any(pathTemplate));
    RouteMatch held;
    ASSERT_TRUE(MatchRoutes(HttpMethod::Get, "", c.path, routes, held)) << c.path;
    EXPECT_EQ(held.pathTemplate, c.chosen) << c.path;
    EXPECT_EQ(held.parameters, c.parameters) << c.path;
  }
  // The outcome records the method and specification of the route that passed.
  const std::vector<Route> routes = {Route(HttpMethod::Post, {HttpMethod::Post, ""}, "/items/{id}"),
                                     Route(HttpMethod::Get, {HttpMethod::Get, ""}, "/items/{id}")};
  RouteMatch held, none;
  ASSERT_TRUE(MatchRoutes(HttpMethod::Get, "", "/items/9", routes, held));
  EXPECT_EQ(held.method, HttpMethod::Get);
  EXPECT_EQ(held.specification.method, HttpMethod::Get);
  EXPECT_FALSE(MatchRoutes(HttpMethod::Put, "", "/items/9", routes, none));
  EXPECT_FALSE(MatchRoutes(HttpMethod::Get, "", "/items/9", {}, none));
}

}  // namespace
}  // namespace vyn::routing
