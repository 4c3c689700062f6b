// The type registry: identities, registration rules, lookups, enumerator names, functions and
// events, and re-initialisation.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "binding/BindingRegistry.h"
#include "binding/TypeBuilder.h"

namespace vyn::binding::registry_test {

struct Pinned {
  int32_t value = 0;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<Pinned>) noexcept { return 0x0BADF00Du; }

namespace {

struct First {
  int32_t a = 0;
  std::vector<Pinned> pinned;  // Pinned is never registered
};
enum class Shared : int32_t { Zulu = 1, Alpha = 1, Mike = 2 };

class CountingInvocation final : public BindingInvocationData {
 public:
  explicit CountingInvocation(int* destroyed) : destroyed_(destroyed) {}
  ~CountingInvocation() override { ++*destroyed_; }

 private:
  int* destroyed_;
};

TEST(BindingRegistration, TypesAndEnumeratorsAreDescribedAndTheFirstNameStands) {
  BindingRegistry registry;
  RecordBuilder<First> builder(registry, "First");
  builder.Field("a", &First::a, "d").Field("pinned", &First::pinned).SetDescription("first");
  builder.AddTag("").AddTag("t");
  RecordBuilder<First> again(registry, "First");
  EXPECT_TRUE(again.alreadyRegistered());
  again.Field("b", &First::a).SetDescription("second").AddTag("t2");
  const BindingType* first = registry.LookupTypeById(TypeIdOf<First>());
  ASSERT_EQ(first, registry.LookupType("First"));
  EXPECT_EQ(first, registry.LookupTypeByNumber(Fnv1a32(TypeIdOf<First>()->signature)))
      << "an unpinned number is the hash of the type's signature";
  ASSERT_EQ(first->fields.size(), 2u);
  EXPECT_EQ(first->description + first->fields[0].description, "firstd");
  EXPECT_EQ(first->tags, std::vector<std::string>{"t"}) << "an empty tag is not added";
  EXPECT_EQ(first->fields[1].type.type, nullptr) << "a record not registered (yet)";
  EXPECT_EQ(first->fields[1].nameHash, Fnv1a32("pinned"));
  EXPECT_EQ(first->fields[1].owner, first);
  EXPECT_EQ(first->size, sizeof(First));
  EXPECT_STREQ(TypeIdOf<Pinned>()->numberText, "#0BADF00D");
  EXPECT_STREQ(BindingTypeKindName(19u), "map");
  EXPECT_STREQ(BindingTypeKindName(20u), "");
  const uint32_t hash = Fnv1a32("a signature nobody else has");  // taken by a pinned number
  EXPECT_EQ(type_id_internal::CreateTypeId("pinned", true, hash).number, hash);
  const BindingTypeId& moved =
      type_id_internal::CreateTypeId("a signature nobody else has", false, 0);
  EXPECT_NE(moved.number, hash);
  (void)registry.BeginType(0, "Nothing", VoidTypeId(), false);
  EXPECT_NE(registry.LookupType("Nothing"), nullptr);
  EXPECT_EQ(registry.LookupTypeByNumber(VoidTypeId()->number), nullptr) << "void is not indexed";

  EnumBuilder<Shared> enumeration(registry, "Shared");
  enumeration.Value("Zulu", Shared::Zulu).Value("Mike", Shared::Zulu);
  enumeration.Value("Mike", Shared::Mike, "two").Value("Alpha", Shared::Alpha).AddTags({"e", ""});
  const BindingType* shared = registry.LookupType("Shared");
  EXPECT_EQ(shared->tags, (std::vector<std::string>{"e", ""})) << "a list is appended as given";
  EXPECT_EQ(shared->values.at("Mike").description, "two") << "a repeated name: the last stands";
  const BindingTypeId* id = TypeIdOf<Shared>();
  EXPECT_STREQ(registry.EnumeratorName(id, 1), "Alpha") << "the first in name order";
  EXPECT_STREQ(registry.EnumeratorName(id, 2), "Mike");
  EXPECT_EQ(registry.EnumeratorName(id, 3), nullptr);
  EXPECT_EQ(registry.EnumeratorName(TypeIdOf<First>(), 1), nullptr) << "not an enumeration";
  EXPECT_EQ(registry.EnumeratorName(TypeIdOf<Pinned>(), 1), nullptr) << "not registered";
  EXPECT_TRUE(registry.IsEnumeratorNumber(id, 2));
  EXPECT_FALSE(registry.IsEnumeratorNumber(id, 0) || registry.IsEnumeratorNumber(nullptr, 1));
  EXPECT_FALSE(registry.IsEnumeratorNumber(TypeIdOf<First>(), 0));
}

TEST(BindingRegistration, FunctionsEventsAndWhatReinitialisingKeeps) {
  BindingRegistry registry;
  const std::size_t builtins = registry.TypesSnapshot().size();
  const uint64_t start = registry.functionChangeCount();
  BindingArgument argument;
  argument.name = "survey";
  BindingFunction* function = registry.RegisterFunction("PostSurvey", {argument});
  int destroyed = 0;
  function->invocation = std::make_unique<CountingInvocation>(&destroyed);
  EXPECT_EQ(function->arguments[0].owner, function);
  EXPECT_EQ(function->arguments[0].nameHash, Fnv1a32("survey"));
  EXPECT_EQ(registry.RegisterFunction("PostSurvey"), nullptr) << "the first one stands";
  registry.RegisterFunction("GetSurvey")->invocation =
      std::make_unique<CountingInvocation>(&destroyed);
  EXPECT_EQ(registry.FunctionsSnapshot().back()->name, "GetSurvey");
  EXPECT_TRUE(registry.RemoveFunction("PostSurvey"));
  EXPECT_EQ(destroyed, 1) << "removal destroys the invocation data";
  EXPECT_FALSE(registry.RemoveFunction("PostSurvey")) << "no longer found by its name";
  EXPECT_EQ(registry.functionChangeCount(), start + 3);

  RecordBuilder<First>(registry, "First");
  BeginEventOf<First>(registry, "OnFirst").SetDescription("d").AddTag("").AddTags({"x", "y"});
  EventBuilder again = registry.BeginEvent("OnFirst", nullptr);
  EXPECT_TRUE(again.alreadyRegistered());
  again.SetDescription("other").AddTag("z");
  const BindingEvent* event = registry.LookupEvent("OnFirst");
  EXPECT_EQ(event->payloadType, registry.LookupType("First"));
  EXPECT_EQ(event->description, "d");
  EXPECT_EQ(event->tags, (std::vector<std::string>{"x", "y"})) << "an empty tag is not added";

  registry.InitializeRegistry();
  EXPECT_EQ(destroyed, 2);
  EXPECT_EQ(registry.functionChangeCount(), start + 4);
  EXPECT_EQ(registry.LookupTypeById(TypeIdOf<First>()), nullptr);
  EXPECT_EQ(registry.TypesSnapshot().size(), builtins);
  EXPECT_EQ(registry.LookupEvent("OnFirst")->payloadType->name, "First") << "retired, not freed";
  EXPECT_EQ(registry.EventsSnapshot().size(), 2u) << "the built-in event is not registered twice";
  EXPECT_FALSE(RecordBuilder<First>(registry, "First").alreadyRegistered());
}

}  // namespace
}  // namespace vyn::binding::registry_test
