// The packed API description tables: what the feature's own tables do not show (codes outside the
// kinds, optional members, descriptions, asynchronous results, empty tag lists) and their chains.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "binding/BindingRegistry.h"
#include "binding/HostApiTables.h"
#include "support/HostRequests.h"

namespace vyn::binding {
namespace {

using test::ListChain;
using test::ListTexts;
using test::Read;
using test::Text;

TEST(HostApiTables, DescribeMembersEnumeratorsFunctionsAndEventsAsRegistered) {
  BindingRegistry registry;
  const BindingType* colour =
      registry.BeginType(4, "Colour", nullptr, true).AddEnumValue("Red", 3, "warm").type();
  TypeBuilder odd = registry.BeginType(8, "Odd", nullptr, false).SetDescription("odd");
  odd.AddField("strange", "s", 0, nullptr, {BindingTypeKind(20), BindingTypeKind(99)}, 0, nullptr,
               true);
  odd.AddField("callback", "", 4, nullptr, {BindingTypeKind::Callback}, 0, nullptr, false);
  odd.AddField("colour", "", 4, nullptr, {BindingTypeKind::Enum, {}, colour}, 0, nullptr, false);
  BindingArgument flag;
  flag.description = "switch";
  flag.optional = true;
  BindingFunction* function = registry.RegisterFunction("DoThings", {flag});
  function->returnType = {BindingTypeKind::Struct, BindingTypeKind::None, odd.type()};
  function->help = "help";
  function->threadSafe = true;
  function->async = true;
  function->tags = {"a", "b"};
  registry.RegisterFunction("Plain")->returnType = {BindingTypeKind::Map, BindingTypeKind::Bool};
  registry.RegisterFunction("Typed")->returnType = {BindingTypeKind::Struct, BindingTypeKind::None,
                                                    odd.type()};  // but not async
  registry.BeginEvent("OnNothing", nullptr).SetDescription("none").AddTags({"x", "y"});

  HostApiTables built = BuildHostApiTables(registry);
  const HostTypeRecord* firstType = built.firstType();
  const HostApiTables tables = std::move(built);
  EXPECT_EQ(tables.firstType(), firstType) << "records keep their addresses when moved";
  const auto types = ListChain<HostTypeRecord>(tables.firstType());
  ASSERT_EQ(types.size(), tables.typeCount());
  const HostTypeRecord red = types[types.size() - 2];
  EXPECT_EQ(Text(ListChain<HostEnumeratorRecord>(red.enumerators).at(0).description), "warm");
  EXPECT_EQ(Read(red.tags), nullptr) << "no tags, no tag list";
  EXPECT_EQ(Read(red.fields), nullptr);
  EXPECT_EQ(Text(types.back().description), "odd");
  const auto fields = ListChain<HostFieldRecord>(types.back().fields);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(Text(fields[2].typeName), "Colour");
  EXPECT_EQ(Read(fields[0].typeCode), 0u) << "not a kind: 0";
  EXPECT_EQ(Read(fields[0].elementCode), 0u);
  EXPECT_EQ(Read(fields[1].typeCode), 18u);
  EXPECT_EQ(Text(fields[0].description), "s");
  EXPECT_EQ(Read(fields[0].optional), 1u);
  EXPECT_EQ(Read(fields[1].optional), 0u);
  EXPECT_EQ(Read(fields[1].offset), 4u);

  ASSERT_EQ(tables.functionCount(), 3u);
  const auto functions = ListChain<HostFunctionRecord>(tables.firstFunction());
  const auto arguments = ListChain<HostArgumentRecord>(Read(functions[0].arguments));
  ASSERT_EQ(arguments.size(), 1u);
  EXPECT_EQ(Text(arguments[0].description), "switch");
  EXPECT_EQ(Read(arguments[0].optional), 1u);
  EXPECT_EQ(Text(functions[0].asyncResultTypeName), "Odd");
  EXPECT_EQ(Text(functions[0].help), "help");
  EXPECT_EQ(Read(functions[0].threadSafe), 1u);
  EXPECT_EQ(ListTexts(functions[0].tags, functions[0].tagCount),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Read(functions[0].reserved), nullptr);
  EXPECT_EQ(Read(functions[0].endpointContext), nullptr);
  EXPECT_EQ(Read(functions[1].arguments), nullptr);
  EXPECT_EQ(Read(functions[1].returnTypeCode), 19u);
  EXPECT_EQ(Read(functions[1].returnElementCode), 1u);
  EXPECT_EQ(Text(functions[1].returnTypeName) + Text(functions[1].asyncResultTypeName), "");
  EXPECT_EQ(Text(functions[2].returnTypeName) + "|" + Text(functions[2].asyncResultTypeName),
            "Odd|");
  EXPECT_EQ(tables.functionSources()[1], registry.LookupFunction("Plain"));
  const auto events = ListChain<HostEventRecord>(tables.firstEvent());
  ASSERT_EQ(events.size(), tables.eventCount());
  EXPECT_EQ(Text(events.back().payloadTypeName), "");
  EXPECT_EQ(Text(events.back().description), "none");
  EXPECT_STREQ(events.back().nameSpace, "") << "a text the event lacks is empty, not null";
  EXPECT_EQ(ListTexts(events.back().tags, events.back().tagCount),
            (std::vector<std::string>{"x", "y"}));
}

}  // namespace
}  // namespace vyn::binding
