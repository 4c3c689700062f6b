// Turning native values into value trees: kinds, member order, omit-empty, converters, and the
// unregistered record.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/AssignValue.h"
#include "binding/RecordToValue.h"
#include "binding/TypeBuilder.h"
#include "binding/ValueTrees.h"

namespace vyn::binding::to_value_test {
namespace {

using namespace trees;

enum class Small : int16_t { Minus = -2 };
enum class Byte : uint8_t { Top = 0xFF };
enum class Big : int64_t { Huge = 0x100000005LL };
struct Unregistered {
  int32_t value = 0;
};
struct Leaves {
  uint16_t u16 = 65535;
  float f = 0.1f;
  BindingProperty object = List({Text("deep")});
  std::vector<uint8_t> blob = {1, 2, 3};
  Small small = Small::Minus;
  Byte byte = Byte::Top;
  Big big = Big::Huge;
  std::vector<bool> flags = {true, false};
  double omitted = 0;
  std::string kept = "t";
  int32_t sign = 1;
  std::vector<Unregistered> items;
};

TEST(RecordToValue, EachKindBecomesItsValueKindWithMembersInNameOrderAndFailuresTravelUp) {
  BindingRegistry registry;
  EnumBuilder<Small>(registry, "Small").Value("Minus", Small::Minus);
  EnumBuilder<Byte>(registry, "Byte").Value("Top", Byte::Top);
  EnumBuilder<Big>(registry, "Big").Value("Huge", Big::Huge);
  RecordBuilder<Leaves> leaves(registry, "Leaves");
  leaves.builder().AddField("bare", "", MemberOffset(&Leaves::items), nullptr,
                            {BindingTypeKind::Vector, BindingTypeKind::Struct}, 0, nullptr, false);
  leaves.Field("u16", &Leaves::u16).Field("f", &Leaves::f).Field("object", &Leaves::object);
  leaves.Field("blob", &Leaves::blob).Field("small", &Leaves::small).Field("byte", &Leaves::byte);
  leaves.Field("big", &Leaves::big).Field("flags", &Leaves::flags).Field("items", &Leaves::items);
  leaves.Field("omitted", &Leaves::omitted, "", kFieldOmitEmpty);
  leaves.Field("kept", &Leaves::kept, "", kFieldOmitEmpty);
  leaves.builder().AddField("sign", "", MemberOffset(&Leaves::sign), nullptr,
                            {BindingTypeKind::Callback}, 0, std::make_unique<MarkingConverter>(),
                            false);
  leaves.builder().AddField("routed", "", MemberOffset(&Leaves::sign), nullptr,
                            {BindingTypeKind::Int32}, 0, std::make_unique<MarkingConverter>(),
                            true);
  Leaves native;
  const BindingResult result = NativeToValue(registry, native);
  EXPECT_EQ(Describe(result),
            "{bare:~,big:e5,blob:bAQID,byte:e-1,f:f0.100000,flags:[true,false,],items:[],kept:'t',"
            "object:['deep',],routed:'fine',sign:'fine',small:e-2,u16:u65535,}")
      << "enums sign-extend from their size, and of eight bytes keep the low 32; a callback and "
         "an optional member go through their converter; records without one stay empty";
  EXPECT_EQ(result.member("f").asFloat(), static_cast<double>(0.1f)) << "widened, not 0.1";
  EXPECT_EQ(result.member("small").asEnum().type, TypeIdOf<Small>());
  EXPECT_EQ(Describe(NativeToValue(registry, std::vector<Small>{Small::Minus})), "[e-2,]");
  Leaves back;
  back.flags.clear();
  BindingProperty value = result;
  value.memberAt("byte").reset();  // -1 names no enumerator: the registered number is 255
  for (const char* converted : {"sign", "routed"}) value.memberAt(converted).reset();
  ASSERT_TRUE(ValueToNative(registry, value, back, "v").ok());
  EXPECT_EQ(Describe(NativeToValue(registry, back)), Describe(result)) << "a round trip";

  native.sign = -1;
  EXPECT_EQ(Describe(NativeToValue(registry, native)), "{error:'negative',}");
  native.sign = 1;
  native.items.resize(1);
  EXPECT_EQ(NativeToValue(registry, native).ErrorText(),
            "Couldn't convert native value because it's an unregistered structure.");
  BindingResult failed;
  failed.SetError("first");
  RecordToValue(registry, failed, &native, leaves.type());
  EXPECT_EQ(failed.ErrorText(), "first") << "a failed result is not overwritten";

  // A member left out when empty fails the record as any other does.
  struct Omitting {
    std::vector<Unregistered> items = std::vector<Unregistered>(1);
  };
  RecordBuilder<Omitting>(registry, "Omitting")
      .Field("items", &Omitting::items, "", kFieldOmitEmpty);
  EXPECT_EQ(NativeToValue(registry, Omitting{}).ErrorText(),
            "Couldn't convert native value because it's an unregistered structure.");

  // A name registered twice is still one member.
  RecordBuilder<Unregistered>(registry, "Twice")
      .Field("v", &Unregistered::value)
      .Field("v", &Unregistered::value);
  EXPECT_EQ(Describe(NativeToValue(registry, Unregistered{5})), "{v:s5,}");
}

TEST(RecordToValue, TreesComeOutClosedSoThatReadingThemMovesNoMember) {
  // Callers hold members of a converted tree by address (a view's placeholders) while it is read.
  BindingRegistry registry;
  std::unordered_map<std::string, int32_t> map;
  for (int32_t i = 0; i < 60; ++i) map.emplace("k" + std::to_string(i), i);
  const BindingResult value = NativeToValue(registry, map);
  std::map<std::string, const BindingProperty*> held;
  for (const auto& entry : map) held[entry.first] = &value.member(entry.first);
  EXPECT_EQ(value.members().size(), 60u);  // a reading: it puts members added out of order in place
  for (const auto& [name, node] : held) EXPECT_EQ(&value.member(name), node) << name;
}

struct Pair {
  int32_t first = 7;
  std::string second = "x";
};

// One shared record is one address, whichever tree shows it.
TEST(RecordToValue, MemberNamesAreSharedByEveryTreeWrittenFromARecordAndOutliveItsTrees) {
  BindingRegistry registry;
  RecordBuilder<Pair>(registry, "Pair").Field("second", &Pair::second).Field("first", &Pair::first);
  const char* const first = BindingArena::SharedText("first")->Text();
  const auto firstName = [](const BindingProperty& tree) {
    return (*tree.members().begin()).name.data();
  };
  BindingResult one = NativeToValue(registry, Pair{});
  const BindingResult two = NativeToValue(registry, Pair{});
  EXPECT_EQ(one.arena()->InternedCount(), 1u) << "the tree interns its text, not the names";
  EXPECT_TRUE(firstName(one) == first && firstName(two) == first);
  BindingProperty copy = one;  // a tree of its own arena
  EXPECT_EQ(firstName(copy), first) << "a copy keeps the shared names";
  copy.memberAt("first").setSigned(-1);
  copy.memberAt("fir").setBool(true);
  EXPECT_EQ(Describe(copy), "{fir:true,first:s-1,second:'x',}") << "found by their text";
  one.reset();
  copy.reset();
  const BindingProperty again = two;  // the names were let go of, not freed
  EXPECT_EQ(firstName(again), first);
  EXPECT_EQ(Describe(again), "{first:s7,second:'x',}");
  EXPECT_EQ(BindingArena::SharedText(""), BindingArena::EmptyString());
}

TEST(RecordToValue, OmitEmptyLeavesOutEmptyAndZeroValues) {
  const struct {
    BindingProperty value;
    bool empty;
  } cases[] = {
      {{}, true},           {Bool(false), true}, {Bool(true), false},          {Signed(0), true},
      {Unsigned(1), false}, {Float(-0.0), true}, {Float(NAN), false},          {Text(""), true},
      {Blob({0}), false},   {List({}), true},    {Struct({{"a", {}}}), false}, {Enum(0), true},
      {Enum(3), false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsEmptyOrZero(c.value), c.empty) << Describe(c.value);
}

}  // namespace
}  // namespace vyn::binding::to_value_test
