// The packed API description tables: chains and counts, type codes and names, fields and
// enumerators, functions and events, and the built-in content of every registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/BindingRegistry.h"
#include "binding/HostApiTables.h"
#include "binding/TypeBuilder.h"
#include "support/HostRequests.h"

namespace vyn::binding {
namespace {

using test::ListChain;
using test::ListTexts;
using test::Read;
using test::Text;

enum class Colour : int32_t { Red = 3, Blue = 1, Green = 2 };

struct Leaf {
  int32_t number = 0;
};

struct Holder {
  int32_t plain = 0;
  std::vector<Leaf> leaves;
  std::vector<std::string> names;
  Colour colour = Colour::Red;
  Leaf leaf;
  std::unordered_map<std::string, Leaf> byName;
  std::unordered_map<std::string, int32_t> counts;
};

class HostApiTablesTest : public ::testing::Test {
 protected:
  HostApiTablesTest() {
    EnumBuilder<Colour>(registry, "Colour")
        .Value("Red", Colour::Red, "warm")
        .Value("Blue", Colour::Blue)
        .Value("Green", Colour::Green)
        .AddTags({"t1", "t2"});
    RecordBuilder<Leaf>(registry, "Leaf").Field("number", &Leaf::number);
    RecordBuilder<Holder>(registry, "Holder")
        .Field("plain", &Holder::plain, "a plain number")
        .Field("leaves", &Holder::leaves)
        .Field("names", &Holder::names)
        .Field("colour", &Holder::colour)
        .Field("leaf", &Holder::leaf)
        .Field("byName", &Holder::byName)
        .Field("counts", &Holder::counts)
        .SetDescription("holds");
  }

  const HostTypeRecord* FindType(const HostApiTables& tables, const std::string& name) {
    for (const HostTypeRecord* at = tables.firstType(); at != nullptr; at = at->next) {
      if (Text(at->name) == name) return at;
    }
    return nullptr;
  }

  BindingRegistry registry;
};

TEST_F(HostApiTablesTest, EnumerationListsItsEnumeratorsInNameOrder) {
  const HostApiTables tables = BuildHostApiTables(registry);
  const HostTypeRecord* colour = FindType(tables, "Colour");
  ASSERT_NE(colour, nullptr);
  const HostTypeRecord record = *colour;
  EXPECT_EQ(Read(record.fields), nullptr);
  EXPECT_EQ(Read(record.count), 3u) << "an enumeration counts its enumerators";
  EXPECT_EQ(Read(record.size), 4u);
  EXPECT_EQ(ListTexts(record.tags, record.tagCount), (std::vector<std::string>{"t1", "t2"}));
  const auto enumerators = ListChain<HostEnumeratorRecord>(record.enumerators);
  ASSERT_EQ(enumerators.size(), 3u);
  EXPECT_EQ(Text(enumerators[0].name), "Blue");
  EXPECT_EQ(Read(enumerators[0].number), 1);
  EXPECT_EQ(Text(enumerators[1].name), "Green");
  EXPECT_EQ(Text(enumerators[2].name), "Red");
  EXPECT_EQ(Read(enumerators[2].number), 3);
  EXPECT_EQ(Text(enumerators[2].description), "warm");
}

TEST_F(HostApiTablesTest, RecordListsItsFieldsWithCodesAndTypeNames) {
  const HostApiTables tables = BuildHostApiTables(registry);
  const HostTypeRecord* holder = FindType(tables, "Holder");
  ASSERT_NE(holder, nullptr);
  const HostTypeRecord record = *holder;
  EXPECT_EQ(Read(record.enumerators), nullptr);
  EXPECT_EQ(Read(record.count), 7u);
  EXPECT_EQ(Read(record.size), sizeof(Holder));
  EXPECT_EQ(Text(record.description), "holds");
  EXPECT_EQ(Read(record.tags), nullptr);
  EXPECT_EQ(Read(record.tagCount), 0u);

  struct Expected {
    const char* name;
    uint32_t code;
    uint32_t element;
    const char* typeName;
  };
  const Expected expected[] = {
      {"plain", 6, 0, ""},         {"leaves", 15, 17, "Leaf"}, {"names", 15, 12, ""},
      {"colour", 16, 0, "Colour"}, {"leaf", 17, 0, "Leaf"},    {"byName", 19, 17, "Leaf"},
      {"counts", 19, 6, ""},
  };
  const auto fields = ListChain<HostFieldRecord>(record.fields);
  ASSERT_EQ(fields.size(), std::size(expected));
  const BindingType* described = registry.LookupType("Holder");
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const Expected& e = expected[i];
    EXPECT_EQ(Text(fields[i].name), e.name);
    EXPECT_EQ(Read(fields[i].typeCode), e.code) << e.name;
    EXPECT_EQ(Read(fields[i].elementCode), e.element) << e.name;
    EXPECT_EQ(Text(fields[i].typeName), e.typeName) << e.name;
    EXPECT_EQ(Read(fields[i].offset), described->fields[i].offset) << e.name;
    EXPECT_EQ(Read(fields[i].optional), 0u) << e.name;
    // Texts are the descriptors' own, not copies.
    EXPECT_EQ(Read(fields[i].name), described->fields[i].name.c_str()) << e.name;
  }
  EXPECT_EQ(Text(fields[0].description), "a plain number");
}

TEST_F(HostApiTablesTest, KindsOutsideTheTableAreWrittenAsZero) {
  struct Odd {
    int32_t a = 0;
  };
  TypeBuilder odd = registry.BeginType(sizeof(Odd), "Odd", TypeIdOf<Odd>(), false);
  BindingTypeRef strange;
  strange.kind = static_cast<BindingTypeKind>(20);
  strange.elementKind = static_cast<BindingTypeKind>(99);
  odd.AddField("strange", "", 0, TypeIdOf<int32_t>(), strange, 0, nullptr, true);
  BindingTypeRef callback;
  callback.kind = BindingTypeKind::Callback;
  odd.AddField("callback", "", 0, TypeIdOf<int32_t>(), callback, 0, nullptr, true);

  const HostApiTables tables = BuildHostApiTables(registry);
  const HostTypeRecord* record = FindType(tables, "Odd");
  ASSERT_NE(record, nullptr);
  const auto fields = ListChain<HostFieldRecord>(record->fields);
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(Read(fields[0].typeCode), 0u);
  EXPECT_EQ(Read(fields[0].elementCode), 0u);
  EXPECT_EQ(Read(fields[0].optional), 1u);
  EXPECT_EQ(Read(fields[1].typeCode), 18u);
}

TEST_F(HostApiTablesTest, FunctionsDescribeArgumentsReturnAndTags) {
  BindingArgument first;
  first.name = "leaves";
  first.type = {BindingTypeKind::Vector, BindingTypeKind::Struct, registry.LookupType("Leaf")};
  BindingArgument second;
  second.name = "flag";
  second.description = "switch";
  second.optional = true;
  second.type.kind = BindingTypeKind::Bool;
  BindingFunction* function = registry.RegisterFunction("DoThings", {first, second});
  ASSERT_NE(function, nullptr);
  function->returnType = {BindingTypeKind::Struct, BindingTypeKind::None,
                          registry.LookupType("Holder")};
  function->tags = {"a", "b", "c"};
  function->help = "help text";
  function->threadSafe = true;
  function->async = true;
  ASSERT_NE(registry.RegisterFunction("Plain"), nullptr);

  const HostApiTables tables = BuildHostApiTables(registry);
  ASSERT_EQ(tables.functionCount(), 2u);
  const auto functions = ListChain<HostFunctionRecord>(tables.firstFunction());
  ASSERT_EQ(functions.size(), 2u);
  const HostFunctionRecord& record = functions[0];
  EXPECT_EQ(Text(record.name), "DoThings");
  EXPECT_EQ(Read(record.reserved), nullptr);
  EXPECT_EQ(Read(record.endpointContext), nullptr);
  EXPECT_EQ(Read(record.argumentCount), 2u);
  EXPECT_EQ(Read(record.returnTypeCode), 17u);
  EXPECT_EQ(Text(record.returnTypeName), "Holder");
  EXPECT_EQ(Text(record.asyncResultTypeName), "Holder");
  EXPECT_EQ(Text(record.help), "help text");
  EXPECT_EQ(Read(record.threadSafe), 1u);
  EXPECT_EQ(ListTexts(record.tags, record.tagCount), (std::vector<std::string>{"a", "b", "c"}));
  const auto arguments = ListChain<HostArgumentRecord>(record.arguments);
  ASSERT_EQ(arguments.size(), 2u);
  EXPECT_EQ(Read(arguments[0].typeCode), 15u);
  EXPECT_EQ(Read(arguments[0].elementCode), 17u);
  EXPECT_EQ(Text(arguments[0].typeName), "Leaf");
  EXPECT_EQ(Text(arguments[1].description), "switch");
  EXPECT_EQ(Read(arguments[1].typeCode), 1u);
  EXPECT_EQ(Read(arguments[1].optional), 1u);
  EXPECT_EQ(Read(arguments[1].next), nullptr) << "each function's argument chain ends with it";

  const HostFunctionRecord& plain = functions[1];
  EXPECT_EQ(Read(plain.arguments), nullptr);
  EXPECT_EQ(Read(plain.returnTypeCode), 0u);
  EXPECT_EQ(Text(plain.returnTypeName), "");
  EXPECT_EQ(Text(plain.asyncResultTypeName), "") << "not asynchronous";
  EXPECT_EQ(tables.functionSources()[1], registry.LookupFunction("Plain"));
}

TEST(HostApiTablesBuiltins, EveryRegistryDescribesTheBuiltInTypesAndEvents) {
  BindingRegistry registry;
  const HostApiTables tables = BuildHostApiTables(registry);
  EXPECT_EQ(tables.functionCount(), 0u);
  EXPECT_EQ(tables.firstFunction(), nullptr);

  const auto types = ListChain<HostTypeRecord>(tables.firstType());
  EXPECT_EQ(types.size(), tables.typeCount()) << "the chain holds every counted record";
  std::vector<std::string> names;
  for (const HostTypeRecord& type : types) names.push_back(Text(type.name));
  for (const char* expected :
       {"BindingHelpFormat", "BindingFullTypeIdentifier", "BindingFullArgumentHelp",
        "BindingFullFunctionHelp", "BindingFullEnumValueHelp", "BindingFullFieldHelp",
        "BindingFullTypeHelp", "BindingFullEventHelp", "BindingFullApiHelp", "BindingAsyncState",
        "BindingGenericEvent", "BindingCallbackEvent", "BindingGenericAsyncEvent",
        "BindingAsyncFailureEvent", "BindingAsyncCancelEvent"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;
  }
  const auto state = std::find(names.begin(), names.end(), "BindingAsyncState");
  ASSERT_NE(state, names.end());
  const HostTypeRecord asyncState = types[static_cast<std::size_t>(state - names.begin())];
  EXPECT_EQ(Read(asyncState.count), 6u);
  EXPECT_EQ(ListTexts(asyncState.tags, asyncState.tagCount),
            (std::vector<std::string>{"$builtin", "async"}));
  EXPECT_EQ(Text(ListChain<HostEnumeratorRecord>(asyncState.enumerators)[0].name), "Cancelled");

  const auto events = ListChain<HostEventRecord>(tables.firstEvent());
  ASSERT_EQ(events.size(), tables.eventCount());
  const auto callback = std::find_if(events.begin(), events.end(), [](const HostEventRecord& e) {
    return Text(e.name) == "OnCallback";
  });
  ASSERT_NE(callback, events.end());
  EXPECT_EQ(Text(callback->payloadTypeName), "BindingCallbackEvent");
  EXPECT_EQ(Text(callback->description), "Fired when a callback is invoked.");
  EXPECT_EQ(ListTexts(callback->tags, callback->tagCount), (std::vector<std::string>{"$builtin"}));
}

TEST_F(HostApiTablesTest, TablesKeepTheirAddressesWhenMoved) {
  HostApiTables built = BuildHostApiTables(registry);
  const HostTypeRecord* first = built.firstType();
  const HostApiTables moved = std::move(built);
  EXPECT_EQ(moved.firstType(), first);
  const auto types = ListChain<HostTypeRecord>(moved.firstType());
  EXPECT_EQ(types.size(), moved.typeCount());
  EXPECT_EQ(Read(types.back().next), nullptr);
}

}  // namespace
}  // namespace vyn::binding
