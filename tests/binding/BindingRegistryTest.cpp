// The type registry: identities, registration rules, lookups, enumerator names, functions and
// events, re-initialisation, and the built-in content.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/BindingRegistry.h"
#include "binding/BuiltinTypes.h"
#include "binding/TypeBuilder.h"

namespace vyn::binding::registry_test {

struct Pinned {
  int32_t value = 0;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<Pinned>) noexcept { return 0x0BADF00Du; }

enum class PinnedEnum : int32_t { A = 0 };
constexpr uint32_t BindingTypeNumber(BindingTypeTag<PinnedEnum>) noexcept { return 0x0C0FFEE0u; }

namespace {

struct First {
  int32_t a = 0;
  std::string b;
};
struct Second {
  int32_t c = 0;
};
struct Nested {
  First first;
  std::vector<First> firsts;
  std::unordered_map<std::string, int16_t> shorts;
  std::vector<uint8_t> bytes;
};
enum class Shared : int32_t { Zulu = 1, Alpha = 1, Mike = 2 };

std::vector<std::string> Names(const std::vector<const BindingType*>& types) {
  std::vector<std::string> names;
  for (const BindingType* type : types) names.push_back(type->name);
  return names;
}

// --- Identities ------------------------------------------------------------------------------

TEST(BindingTypeIdentity, NumbersAreFixedDistinctAndPinnable) {
  const BindingTypeId* ids[] = {
      TypeIdOf<bool>(),
      TypeIdOf<int8_t>(),
      TypeIdOf<uint8_t>(),
      TypeIdOf<int16_t>(),
      TypeIdOf<uint16_t>(),
      TypeIdOf<int32_t>(),
      TypeIdOf<uint32_t>(),
      TypeIdOf<int64_t>(),
      TypeIdOf<uint64_t>(),
      TypeIdOf<float>(),
      TypeIdOf<double>(),
      TypeIdOf<std::string>(),
      TypeIdOf<BindingProperty>(),
      TypeIdOf<std::vector<uint8_t>>(),
      TypeIdOf<void>(),
      TypeIdOf<First>(),
      TypeIdOf<Second>(),
      TypeIdOf<std::vector<First>>(),
      TypeIdOf<BindingFullApiHelp>(),
      TypeIdOf<BindingCallbackEvent>(),
      TypeIdOf<Pinned>(),
      TypeIdOf<PinnedEnum>(),
  };
  std::set<uint32_t> numbers;
  for (const BindingTypeId* id : ids) {
    EXPECT_TRUE(numbers.insert(id->number).second) << id->name();
    EXPECT_NE(id->number, 0u) << id->name();
  }
  EXPECT_EQ(TypeIdOf<First>(), TypeIdOf<const First>()) << "one record per type";
  EXPECT_EQ(TypeIdOf<Pinned>()->number, 0x0BADF00Du);
  EXPECT_STREQ(TypeIdOf<Pinned>()->numberText, "#0BADF00D");
  EXPECT_EQ(TypeIdOf<PinnedEnum>()->number, 0x0C0FFEE0u);
  EXPECT_NE(std::string(TypeIdOf<First>()->name()).find("StaticType::Name"), std::string::npos);
  EXPECT_NE(std::string(TypeIdOf<First>()->name()).find("registry_test"), std::string::npos);
  EXPECT_EQ(TypeIdOf<First>()->number, Fnv1a32(TypeIdOf<First>()->signature))
      << "unpinned numbers are the hash of the signature text";
}

TEST(BindingTypeIdentity, CollidingHashIsMovedToAFreeNumber) {
  // A pinned identity takes the number that this signature hashes to; the signature then gets
  // another one.
  static const char kSignature[] = "a signature nobody else has";
  const uint32_t hash = Fnv1a32(kSignature);
  const BindingTypeId& pinned = type_id_internal::CreateTypeId("pinned first", true, hash);
  const BindingTypeId& moved = type_id_internal::CreateTypeId(kSignature, false, 0);
  EXPECT_EQ(pinned.number, hash);
  EXPECT_NE(moved.number, hash);
  EXPECT_NE(moved.number, 0u);
  char expected[12];
  std::snprintf(expected, sizeof(expected), "#%08X", moved.number);
  EXPECT_STREQ(moved.numberText, expected);
}

TEST(BindingTypeKindNames, NamesByNumber) {
  const char* names[] = {"",       "bool",   "int8",   "uint8",  "int16",    "uint16", "int32",
                         "uint32", "int64",  "uint64", "float",  "double",   "string", "object",
                         "blob",   "vector", "enum",   "struct", "callback", "map"};
  for (uint32_t kind = 0; kind < std::size(names); ++kind) {
    EXPECT_STREQ(BindingTypeKindName(kind), names[kind]) << kind;
  }
  EXPECT_STREQ(BindingTypeKindName(20u), "");
  EXPECT_STREQ(BindingTypeKindName(0xFFFFFFFFu), "");
}

// --- Registration ----------------------------------------------------------------------------

TEST(BindingRegistration, FirstRegistrationOfANameStands) {
  BindingRegistry registry;
  RecordBuilder<First>(registry, "Thing")
      .Field("a", &First::a)
      .SetDescription("first")
      .AddTag("t1");
  RecordBuilder<Second> second(registry, "Thing");
  EXPECT_TRUE(second.alreadyRegistered());
  second.Field("c", &Second::c).SetDescription("second").AddTag("t2");

  const BindingType* thing = registry.LookupType("Thing");
  ASSERT_NE(thing, nullptr);
  ASSERT_EQ(thing->fields.size(), 1u);
  EXPECT_EQ(thing->fields[0].name, "a");
  EXPECT_EQ(thing->description, "first");
  EXPECT_EQ(thing->tags, (std::vector<std::string>{"t1"}));
  EXPECT_EQ(thing->size, sizeof(First));
  EXPECT_EQ(registry.LookupTypeById(TypeIdOf<Second>()), nullptr);
}

TEST(BindingRegistration, VoidIdentityIsFoundByNameOnly) {
  BindingRegistry registry;
  TypeBuilder builder = registry.BeginType(0, "Nothing", VoidTypeId(), false);
  EXPECT_FALSE(builder.alreadyRegistered());
  EXPECT_NE(registry.LookupType("Nothing"), nullptr);
  EXPECT_EQ(registry.LookupTypeById(VoidTypeId()), nullptr);
  EXPECT_EQ(registry.LookupTypeByNumber(VoidTypeId()->number), nullptr);
}

TEST(BindingRegistration, FieldsAreDescribedFromMemberPointers) {
  BindingRegistry registry;
  RecordBuilder<First>(registry, "First").Field("a", &First::a).Field("b", &First::b, "text");
  RecordBuilder<Nested>(registry, "Nested")
      .Field("first", &Nested::first)
      .Field("firsts", &Nested::firsts)
      .Field("shorts", &Nested::shorts)
      .Field("bytes", &Nested::bytes, "", kFieldOmitEmpty);
  const BindingType* first = registry.LookupType("First");
  const BindingType* nested = registry.LookupTypeById(TypeIdOf<Nested>());
  ASSERT_NE(nested, nullptr);
  ASSERT_EQ(nested->fields.size(), 4u);

  struct Expected {
    const char* name;
    std::size_t offset;
    BindingTypeKind kind;
    BindingTypeKind element;
    const BindingType* type;
    const BindingTypeId* identity;
  };
  const Nested probe;
  const auto offset = [&probe](const void* member) {
    return static_cast<std::size_t>(static_cast<const char*>(member) -
                                    reinterpret_cast<const char*>(&probe));
  };
  const Expected expected[] = {
      {"first", offset(&probe.first), BindingTypeKind::Struct, BindingTypeKind::None, first,
       TypeIdOf<First>()},
      {"firsts", offset(&probe.firsts), BindingTypeKind::Vector, BindingTypeKind::Struct, first,
       TypeIdOf<std::vector<First>>()},
      {"shorts", offset(&probe.shorts), BindingTypeKind::Map, BindingTypeKind::Int16, nullptr,
       TypeIdOf<std::unordered_map<std::string, int16_t>>()},
      {"bytes", offset(&probe.bytes), BindingTypeKind::Blob, BindingTypeKind::None, nullptr,
       TypeIdOf<std::vector<uint8_t>>()},
  };
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const BindingField& field = nested->fields[i];
    const Expected& e = expected[i];
    EXPECT_EQ(field.name, e.name);
    EXPECT_EQ(field.nameHash, Fnv1a32(e.name)) << e.name;
    EXPECT_EQ(field.offset, e.offset) << e.name;
    EXPECT_EQ(field.type.kind, e.kind) << e.name;
    EXPECT_EQ(field.type.elementKind, e.element) << e.name;
    EXPECT_EQ(field.type.type, e.type) << e.name;
    EXPECT_EQ(field.identity, e.identity) << e.name;
    EXPECT_EQ(field.owner, nested) << e.name;
    EXPECT_NE(field.converter, nullptr) << e.name;
    EXPECT_FALSE(field.optional) << e.name;
  }
  EXPECT_EQ(nested->fields[3].flags, kFieldOmitEmpty);
  EXPECT_EQ(first->fields[1].description, "text");
  EXPECT_EQ(nested->registry, &registry);
}

TEST(BindingRegistration, MemberOfLaterRegisteredTypeHasNoTypeReference) {
  BindingRegistry registry;
  RecordBuilder<Nested>(registry, "Nested").Field("first", &Nested::first);
  RecordBuilder<First>(registry, "First").Field("a", &First::a);
  EXPECT_EQ(registry.LookupType("Nested")->fields[0].type.type, nullptr);
  EXPECT_EQ(registry.LookupType("Nested")->fields[0].type.kind, BindingTypeKind::Struct);
}

TEST(BindingEnumerators, DuplicateNameKeepsTheSecondNumber) {
  BindingRegistry registry;
  EnumBuilder<Shared>(registry, "Dup")
      .Value("Same", Shared::Zulu, "one")
      .Value("Same", Shared::Mike, "two");
  const BindingType* type = registry.LookupType("Dup");
  ASSERT_EQ(type->values.size(), 1u);
  EXPECT_EQ(type->values.at("Same").number, 2);
  EXPECT_EQ(type->values.at("Same").description, "two");
  EXPECT_EQ(type->values.at("Same").owner, type);
  EXPECT_TRUE(type->isEnum);
  EXPECT_EQ(type->size, 4u);
}

TEST(BindingEnumerators, NameOfASharedNumberIsTheFirstInNameOrder) {
  BindingRegistry registry;
  EnumBuilder<Shared>(registry, "Shared")
      .Value("Zulu", Shared::Zulu)
      .Value("Mike", Shared::Mike)
      .Value("Alpha", Shared::Alpha);
  const BindingTypeId* id = TypeIdOf<Shared>();
  EXPECT_STREQ(registry.EnumeratorName(id, 1), "Alpha");
  EXPECT_STREQ(registry.EnumeratorName(id, 2), "Mike");
  EXPECT_EQ(registry.EnumeratorName(id, 3), nullptr);
  EXPECT_EQ(registry.EnumeratorName(nullptr, 1), nullptr);
  EXPECT_EQ(registry.EnumeratorName(TypeIdOf<First>(), 1), nullptr);
  EXPECT_TRUE(registry.IsEnumeratorNumber(id, 2));
  EXPECT_FALSE(registry.IsEnumeratorNumber(id, 0));
}

// --- Functions and events --------------------------------------------------------------------

class CountingInvocation final : public BindingInvocationData {
 public:
  explicit CountingInvocation(int* destroyed) : destroyed_(destroyed) {}
  ~CountingInvocation() override { ++*destroyed_; }

 private:
  int* destroyed_;
};

TEST(BindingFunctions, RegisterLookUpAndRemove) {
  BindingRegistry registry;
  const uint64_t start = registry.functionChangeCount();
  BindingArgument argument;
  argument.name = "survey";
  BindingFunction* function = registry.RegisterFunction("PostSurvey", {argument});
  ASSERT_NE(function, nullptr);
  int destroyed = 0;
  function->invocation = std::make_unique<CountingInvocation>(&destroyed);
  EXPECT_EQ(function->arguments[0].owner, function);
  EXPECT_EQ(function->arguments[0].nameHash, Fnv1a32("survey"));
  EXPECT_EQ(registry.RegisterFunction("PostSurvey"), nullptr) << "the first one stands";
  EXPECT_NE(registry.RegisterFunction("GetSurvey"), nullptr);
  EXPECT_EQ(registry.functionChangeCount(), start + 2);
  EXPECT_EQ(registry.LookupFunction("PostSurvey"), function);

  const auto snapshot = registry.FunctionsSnapshot();
  ASSERT_EQ(snapshot.size(), 2u);
  EXPECT_EQ(snapshot[0]->name, "PostSurvey");
  EXPECT_EQ(snapshot[1]->name, "GetSurvey");

  EXPECT_TRUE(registry.RemoveFunction("PostSurvey"));
  EXPECT_EQ(destroyed, 1) << "removal destroys the invocation data";
  EXPECT_FALSE(registry.RemoveFunction("PostSurvey"));
  EXPECT_EQ(registry.LookupFunction("PostSurvey"), nullptr);
  EXPECT_EQ(registry.functionChangeCount(), start + 3);
}

TEST(BindingEvents, FirstEventOfANameStands) {
  BindingRegistry registry;
  RecordBuilder<First>(registry, "First").Field("a", &First::a);
  BeginEventOf<First>(registry, "OnFirst").SetDescription("d").AddTag("").AddTags({"x", "y"});
  EventBuilder again = registry.BeginEvent("OnFirst", nullptr);
  EXPECT_TRUE(again.alreadyRegistered());
  again.SetDescription("other").AddTag("z");
  const BindingEvent* event = registry.LookupEvent("OnFirst");
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->payloadType, registry.LookupType("First"));
  EXPECT_EQ(event->description, "d");
  EXPECT_EQ(event->tags, (std::vector<std::string>{"x", "y"})) << "an empty tag is not added";
}

TEST(BindingReinitialisation, ClearsTypesAndFunctionsButKeepsEvents) {
  BindingRegistry registry;
  RecordBuilder<First>(registry, "First").Field("a", &First::a);
  BeginEventOf<First>(registry, "OnFirst");
  int destroyed = 0;
  registry.RegisterFunction("Fn")->invocation = std::make_unique<CountingInvocation>(&destroyed);
  const std::size_t builtinTypes = registry.TypesSnapshot().size() - 1;

  registry.InitializeRegistry();
  EXPECT_TRUE(registry.initialized());
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(registry.LookupFunction("Fn"), nullptr);
  EXPECT_EQ(registry.LookupType("First"), nullptr);
  EXPECT_EQ(registry.LookupTypeById(TypeIdOf<First>()), nullptr);
  EXPECT_EQ(registry.TypesSnapshot().size(), builtinTypes);
  EXPECT_NE(registry.LookupType("BindingFullApiHelp"), nullptr);
  // The kept event still refers to a readable (retired) descriptor.
  const BindingEvent* event = registry.LookupEvent("OnFirst");
  ASSERT_NE(event, nullptr);
  ASSERT_NE(event->payloadType, nullptr);
  EXPECT_EQ(event->payloadType->name, "First");
  EXPECT_EQ(registry.EventsSnapshot().size(), 2u) << "OnCallback is not registered twice";

  RecordBuilder<Second> again(registry, "First");
  EXPECT_FALSE(again.alreadyRegistered()) << "a cleared name can be registered anew";
}

// --- Built-in content ------------------------------------------------------------------------

TEST(BindingBuiltins, TypesAreRegisteredInOrderWithDescriptionsAndTags) {
  BindingRegistry registry;
  EXPECT_TRUE(registry.initialized());
  EXPECT_EQ(
      Names(registry.TypesSnapshot()),
      (std::vector<std::string>{
          "BindingHelpFormat", "BindingFullTypeIdentifier", "BindingFullArgumentHelp",
          "BindingFullFunctionHelp", "BindingFullEnumValueHelp", "BindingFullFieldHelp",
          "BindingFullTypeHelp", "BindingFullEventHelp", "BindingFullApiHelp", "BindingAsyncState",
          "BindingGenericEvent", "BindingCallbackEvent", "BindingGenericAsyncEvent",
          "BindingAsyncFailureEvent", "BindingAsyncCancelEvent"}));

  struct Expected {
    const char* name;
    const char* description;
    std::vector<std::string> tags;
  };
  const std::vector<std::string> help = {"$builtin", "help"};
  const std::vector<std::string> async = {"$builtin", "async"};
  const Expected expected[] = {
      {"BindingHelpFormat", "Help format for binding functions and types.", help},
      {"BindingFullTypeIdentifier", "Describes the type of a value.", help},
      {"BindingFullArgumentHelp", "Describes a function parameter.", help},
      {"BindingFullFunctionHelp", "Describes a function.", help},
      {"BindingFullEnumValueHelp", "Describes an enumerator.", help},
      {"BindingFullFieldHelp", "Describes a member of a struct.", help},
      {"BindingFullTypeHelp", "Describes a struct or enum type.", help},
      {"BindingFullEventHelp", "Describes an event.", help},
      {"BindingFullApiHelp", "Describes the exposed native API.", help},
      {"BindingAsyncState", "Possible states of an asynchronous operation.", async},
      {"BindingGenericEvent", "Represents generic data for an event.", {"$builtin"}},
      {"BindingCallbackEvent",
       "Represents the parameters of a call to a provided callback.",
       {"$builtin"}},
      {"BindingGenericAsyncEvent", "Represents generic data for an asynchronous event.", async},
      {"BindingAsyncFailureEvent", "Represents a failed asynchronous operation.", async},
      {"BindingAsyncCancelEvent", "Represents a cancelled asynchronous operation.", async},
  };
  for (const Expected& e : expected) {
    const BindingType* type = registry.LookupType(e.name);
    ASSERT_NE(type, nullptr) << e.name;
    EXPECT_EQ(type->description, e.description) << e.name;
    EXPECT_EQ(type->tags, e.tags) << e.name;
    EXPECT_EQ(type->nameSpace, "") << e.name;
    EXPECT_EQ(registry.LookupTypeById(type->identity), type) << e.name;
  }
}

TEST(BindingBuiltins, RecordMembersMatchTheirNativeTypes) {
  BindingRegistry registry;
  // name: (member, kind, element kind, described type name, description)
  struct Member {
    const char* name;
    BindingTypeKind kind;
    BindingTypeKind element;
    const char* described;
    const char* description;
  };
  using K = BindingTypeKind;
  const std::vector<std::pair<const char*, std::vector<Member>>> records = {
      {"BindingFullTypeIdentifier",
       {{"type", K::String, K::None, "", ""}, {"elementType", K::String, K::None, "", ""}}},
      {"BindingFullArgumentHelp",
       {{"name", K::String, K::None, "", ""},
        {"description", K::String, K::None, "", ""},
        {"type", K::Struct, K::None, "BindingFullTypeIdentifier", ""},
        {"optional", K::Bool, K::None, "", ""}}},
      {"BindingFullFunctionHelp",
       {{"name", K::String, K::None, "", ""},
        {"nameSpace", K::String, K::None, "", ""},
        {"arguments", K::Vector, K::Struct, "BindingFullArgumentHelp", ""},
        {"returns", K::Struct, K::None, "BindingFullTypeIdentifier", ""},
        {"description", K::String, K::None, "", ""},
        {"help", K::String, K::None, "", ""},
        {"threadSafe", K::Bool, K::None, "", ""},
        {"async", K::String, K::None, "", ""},
        {"tags", K::Vector, K::String, "", ""}}},
      {"BindingFullEnumValueHelp",
       {{"name", K::String, K::None, "", ""},
        {"description", K::String, K::None, "", ""},
        {"value", K::Int32, K::None, "", ""}}},
      {"BindingFullFieldHelp",
       {{"name", K::String, K::None, "", ""},
        {"description", K::String, K::None, "", ""},
        {"offset", K::UInt32, K::None, "", ""},
        {"type", K::Struct, K::None, "BindingFullTypeIdentifier", ""},
        {"optional", K::Bool, K::None, "", ""}}},
      {"BindingFullTypeHelp",
       {{"name", K::String, K::None, "", ""},
        {"nameSpace", K::String, K::None, "", ""},
        {"size", K::UInt32, K::None, "", ""},
        {"description", K::String, K::None, "", ""},
        {"tags", K::Vector, K::String, "", ""},
        {"fields", K::Vector, K::Struct, "BindingFullFieldHelp", ""},
        {"values", K::Vector, K::Struct, "BindingFullEnumValueHelp", ""}}},
      {"BindingFullEventHelp",
       {{"name", K::String, K::None, "", ""},
        {"nameSpace", K::String, K::None, "", ""},
        {"type", K::Struct, K::None, "BindingFullTypeIdentifier", ""},
        {"description", K::String, K::None, "", ""},
        {"tags", K::Vector, K::String, "", ""}}},
      {"BindingFullApiHelp",
       {{"functions", K::Vector, K::Struct, "BindingFullFunctionHelp", ""},
        {"types", K::Vector, K::Struct, "BindingFullTypeHelp", ""},
        {"events", K::Vector, K::Struct, "BindingFullEventHelp", ""}}},
      {"BindingGenericEvent", {{"data", K::Object, K::None, "", "Event data"}}},
      {"BindingCallbackEvent",
       {{"id", K::UInt32, K::None, "", "ID of the callback being invoked"},
        {"parameters", K::Vector, K::Object, "", "Callback parameters"}}},
      {"BindingGenericAsyncEvent",
       {{"asyncToken", K::UInt32, K::None, "", "Asynchronous operation token"},
        {"data", K::Object, K::None, "", "Event data"}}},
      {"BindingAsyncFailureEvent",
       {{"asyncToken", K::UInt32, K::None, "", "Asynchronous operation token"},
        {"error", K::String, K::None, "", "Error message"}}},
      {"BindingAsyncCancelEvent",
       {{"asyncToken", K::UInt32, K::None, "", "Asynchronous operation token"}}},
  };
  for (const auto& [recordName, members] : records) {
    const BindingType* type = registry.LookupType(recordName);
    ASSERT_NE(type, nullptr) << recordName;
    EXPECT_FALSE(type->isEnum) << recordName;
    ASSERT_EQ(type->fields.size(), members.size()) << recordName;
    for (std::size_t i = 0; i < members.size(); ++i) {
      const BindingField& field = type->fields[i];
      const Member& m = members[i];
      const std::string where = std::string(recordName) + "." + m.name;
      EXPECT_EQ(field.name, m.name) << where;
      EXPECT_EQ(field.type.kind, m.kind) << where;
      EXPECT_EQ(field.type.elementKind, m.element) << where;
      EXPECT_EQ(field.type.type != nullptr ? field.type.type->name : "", m.described) << where;
      EXPECT_EQ(field.description, m.description) << where;
      EXPECT_EQ(field.flags, 0u) << where;
      EXPECT_FALSE(field.optional) << where;
    }
  }
}

TEST(BindingBuiltins, EnumerationsAndTheCallbackEvent) {
  BindingRegistry registry;
  struct Value {
    const char* name;
    int32_t number;
    const char* description;
  };
  const std::vector<std::pair<const char*, std::vector<Value>>> enums = {
      {"BindingHelpFormat",
       {{"Epytext", 2, "Python epytext format"}, {"Full", 1, "Native help format"}}},
      {"BindingAsyncState",
       {{"Cancelled", 3, "The operation was cancelled"},
        {"Cancelling", 2, "A request to cancel the operation has been made"},
        {"Failed", 5, "The operation encountered an error"},
        {"None", 0, "Invalid state"},
        {"Running", 1, "The operation is in flight"},
        {"Succeeded", 4, "The operation completed successfully"}}},
  };
  for (const auto& [enumName, values] : enums) {
    const BindingType* type = registry.LookupType(enumName);
    ASSERT_NE(type, nullptr) << enumName;
    EXPECT_TRUE(type->isEnum) << enumName;
    EXPECT_EQ(type->size, 4u) << enumName;
    ASSERT_EQ(type->values.size(), values.size()) << enumName;
    auto it = type->values.begin();
    for (const Value& v : values) {
      EXPECT_EQ(it->second.name, v.name) << enumName;
      EXPECT_EQ(it->second.number, v.number) << v.name;
      EXPECT_EQ(it->second.description, v.description) << v.name;
      ++it;
    }
  }

  const auto events = registry.EventsSnapshot();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]->name, "OnCallback");
  EXPECT_EQ(events[0]->payloadType, registry.LookupType("BindingCallbackEvent"));
  EXPECT_EQ(events[0]->description, "Fired when a callback is invoked.");
  EXPECT_EQ(events[0]->tags, (std::vector<std::string>{"$builtin"}));
  EXPECT_TRUE(registry.FunctionsSnapshot().empty());
}

}  // namespace
}  // namespace vyn::binding::registry_test
