// Turning native values into value trees: kinds, member order, omit-empty, vectors and maps, and
// the unregistered-record failure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/AssignValue.h"
#include "binding/BindingRegistry.h"
#include "binding/RecordToValue.h"
#include "binding/TypeBuilder.h"

namespace vyn::binding::to_value_test {
namespace {

enum class Small : int16_t { Minus = -2, Zero = 0 };
enum class Byte : uint8_t { Top = 0xFF };
enum class Big : int64_t { Huge = 0x100000005LL };

struct Survey {
  std::string title;
  uint64_t id = 0;
  std::string caption;
};

struct Leaves {
  bool flag = false;
  int8_t i8 = 0;
  uint8_t u8 = 0;
  int16_t i16 = 0;
  uint16_t u16 = 0;
  int32_t i32 = 0;
  uint32_t u32 = 0;
  int64_t i64 = 0;
  uint64_t u64 = 0;
  float f = 0;
  double d = 0;
  std::string text;
  BindingProperty object;
  std::vector<uint8_t> blob;
  Small small = Small::Zero;
  Byte byte = Byte::Top;
  Big big = Big::Huge;
};

struct Containers {
  std::vector<int32_t> numbers;
  std::unordered_map<std::string, BindingProperty> objects;
  std::vector<Survey> surveys;
  std::unordered_map<std::string, Survey> byName;
  std::vector<bool> flags;
  std::vector<std::string> texts;
};

struct Omitting {
  std::string text;
  int32_t number = 0;
  bool flag = false;
  double real = 0;
  std::vector<int32_t> list;
  BindingProperty object;
  Small small = Small::Zero;
  Survey survey;
};

struct Unregistered {
  int32_t value = 0;
};
struct HoldsUnregistered {
  std::vector<Unregistered> items;
  Unregistered single;
};

class ToValueTest : public ::testing::Test {
 protected:
  ToValueTest() {
    EnumBuilder<Small>(registry_, "Small").Value("Minus", Small::Minus).Value("Zero", Small::Zero);
    EnumBuilder<Byte>(registry_, "Byte").Value("Top", Byte::Top);
    EnumBuilder<Big>(registry_, "Big").Value("Huge", Big::Huge);
    RecordBuilder<Survey>(registry_, "Survey")
        .Field("title", &Survey::title)
        .Field("id", &Survey::id)
        .Field("caption", &Survey::caption);
    RecordBuilder<Leaves>(registry_, "Leaves")
        .Field("flag", &Leaves::flag)
        .Field("i8", &Leaves::i8)
        .Field("u8", &Leaves::u8)
        .Field("i16", &Leaves::i16)
        .Field("u16", &Leaves::u16)
        .Field("i32", &Leaves::i32)
        .Field("u32", &Leaves::u32)
        .Field("i64", &Leaves::i64)
        .Field("u64", &Leaves::u64)
        .Field("f", &Leaves::f)
        .Field("d", &Leaves::d)
        .Field("text", &Leaves::text)
        .Field("object", &Leaves::object)
        .Field("blob", &Leaves::blob)
        .Field("small", &Leaves::small)
        .Field("byte", &Leaves::byte)
        .Field("big", &Leaves::big);
    RecordBuilder<Containers>(registry_, "Containers")
        .Field("numbers", &Containers::numbers)
        .Field("objects", &Containers::objects)
        .Field("surveys", &Containers::surveys)
        .Field("byName", &Containers::byName)
        .Field("flags", &Containers::flags)
        .Field("texts", &Containers::texts);
    RecordBuilder<Omitting>(registry_, "Omitting")
        .Field("text", &Omitting::text, "", kFieldOmitEmpty)
        .Field("number", &Omitting::number, "", kFieldOmitEmpty)
        .Field("flag", &Omitting::flag, "", kFieldOmitEmpty)
        .Field("real", &Omitting::real, "", kFieldOmitEmpty)
        .Field("list", &Omitting::list, "", kFieldOmitEmpty)
        .Field("object", &Omitting::object, "", kFieldOmitEmpty)
        .Field("small", &Omitting::small, "", kFieldOmitEmpty)
        .Field("survey", &Omitting::survey, "", kFieldOmitEmpty);
    // Registered before its element type exists: the references stay empty.
    RecordBuilder<HoldsUnregistered>(registry_, "HoldsUnregistered")
        .Field("items", &HoldsUnregistered::items)
        .Field("single", &HoldsUnregistered::single);
  }

  static std::vector<std::string> MemberNames(const BindingProperty& value) {
    std::vector<std::string> names;
    for (const MemberView member : value.members()) names.emplace_back(member.name);
    return names;
  }

  BindingRegistry registry_;
};

using RecordToValueKinds = ToValueTest;
using RecordToValueOmitEmpty = ToValueTest;
using RecordToValueContainers = ToValueTest;
using RecordToValueFailures = ToValueTest;

TEST_F(RecordToValueKinds, MembersComeOutInNameOrder) {
  const Survey survey{"T", 7, "C"};
  const BindingResult result = NativeToValue(registry_, survey);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(MemberNames(result), (std::vector<std::string>{"caption", "id", "title"}));
  EXPECT_EQ(result.member("id").asUnsigned(), 7u);
  EXPECT_EQ(result.member("title").asString(), "T");
}

TEST_F(RecordToValueKinds, EachLeafKindBecomesItsValueKind) {
  Leaves leaves;
  leaves.flag = true;
  leaves.i8 = -1;
  leaves.u8 = 255;
  leaves.i16 = -300;
  leaves.u16 = 65535;
  leaves.i32 = -70000;
  leaves.u32 = 4294967295u;
  leaves.i64 = std::numeric_limits<int64_t>::min();
  leaves.u64 = std::numeric_limits<uint64_t>::max();
  leaves.f = 0.1f;
  leaves.d = 0.1;
  leaves.object.memberAt("inner").setString("deep");
  leaves.blob = {1, 2, 3};
  leaves.small = Small::Minus;
  const BindingResult result = NativeToValue(registry_, leaves);
  ASSERT_TRUE(result.ok()) << result.ErrorText();

  EXPECT_TRUE(result.member("flag").asBool());
  EXPECT_EQ(result.member("i8").kind(), BindingPropertyKind::Signed);
  EXPECT_EQ(result.member("i8").asSigned(), -1);
  EXPECT_EQ(result.member("u8").kind(), BindingPropertyKind::Unsigned);
  EXPECT_EQ(result.member("u8").asUnsigned(), 255u);
  EXPECT_EQ(result.member("i16").asSigned(), -300);
  EXPECT_EQ(result.member("u16").asUnsigned(), 65535u);
  EXPECT_EQ(result.member("i32").asSigned(), -70000);
  EXPECT_EQ(result.member("u32").asUnsigned(), 4294967295u);
  EXPECT_EQ(result.member("i64").asSigned(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(result.member("u64").asUnsigned(), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(result.member("f").asFloat(), static_cast<double>(0.1f)) << "widened, not 0.1";
  EXPECT_NE(result.member("f").asFloat(), 0.1);
  EXPECT_EQ(result.member("d").asFloat(), 0.1);
  EXPECT_EQ(result.member("text").kind(), BindingPropertyKind::String) << "empty text is kept";
  EXPECT_EQ(result.member("object").member("inner").asString(), "deep");
  const auto blob = result.member("blob").asBlob();
  EXPECT_EQ(std::vector<uint8_t>(blob.begin(), blob.end()), (std::vector<uint8_t>{1, 2, 3}));

  const BindingEnum small = result.member("small").asEnum();
  EXPECT_EQ(small.number, -2) << "two bytes, sign-extended";
  EXPECT_EQ(small.type, TypeIdOf<Small>());
  EXPECT_EQ(result.member("byte").asEnum().number, -1) << "one byte, sign-extended";
  EXPECT_EQ(result.member("big").asEnum().number, 5) << "eight bytes: the low 32 bits";
  EXPECT_STREQ(registry_.EnumeratorName(small.type, small.number), "Minus");
}

TEST_F(RecordToValueKinds, ScalarsAndContainersConvertDirectly) {
  const BindingResult number = NativeToValue(registry_, int32_t{-4});
  EXPECT_EQ(number.asSigned(), -4);
  EXPECT_EQ(NativeToValue(registry_, 5ULL).asUnsigned(), 5u);
  const BindingResult text = NativeToValue(registry_, std::string("x"));
  EXPECT_EQ(text.asString(), "x");
  const BindingResult list = NativeToValue(registry_, std::vector<Small>{Small::Minus});
  EXPECT_EQ(list.element(0).asEnum().number, -2);
  const BindingResult map =
      NativeToValue(registry_, std::unordered_map<std::string, double>{{"k", 1.5}});
  EXPECT_EQ(map.member("k").asFloat(), 1.5);
}

TEST_F(RecordToValueOmitEmpty, EmptyAndZeroMembersAreLeftOut) {
  const BindingResult empty = NativeToValue(registry_, Omitting{});
  ASSERT_TRUE(empty.ok());
  EXPECT_EQ(empty.kind(), BindingPropertyKind::Structure);
  // The nested record is never empty: its members are not omitted.
  EXPECT_EQ(MemberNames(empty), (std::vector<std::string>{"survey"}));

  Omitting full;
  full.text = "t";
  full.number = -1;
  full.flag = true;
  full.real = std::nan("");  // a NaN is not zero
  full.list = {0};
  full.object.setSigned(0);  // a zero object is omitted like any zero
  full.small = Small::Minus;
  const BindingResult result = NativeToValue(registry_, full);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(MemberNames(result), (std::vector<std::string>{"flag", "list", "number", "real",
                                                           "small", "survey", "text"}));
}

TEST_F(RecordToValueOmitEmpty, EmptinessRules) {
  struct Case {
    const char* desc;
    BindingProperty value;
    bool empty;
  };
  auto make = [](auto fill) {
    BindingProperty p;
    fill(p);
    return p;
  };
  const Case cases[] = {
      {"empty", BindingProperty(), true},
      {"false", make([](BindingProperty& p) { p.setBool(false); }), true},
      {"true", make([](BindingProperty& p) { p.setBool(true); }), false},
      {"signed 0", make([](BindingProperty& p) { p.setSigned(0); }), true},
      {"unsigned 1", make([](BindingProperty& p) { p.setUnsigned(1); }), false},
      {"float -0.0", make([](BindingProperty& p) { p.setFloat(-0.0); }), true},
      {"float NaN", make([](BindingProperty& p) { p.setFloat(std::nan("")); }), false},
      {"empty string", make([](BindingProperty& p) { p.setString(""); }), true},
      {"blob of one byte", make([](BindingProperty& p) { p.setBlob(std::vector<uint8_t>{0}); }),
       false},
      {"empty collection", make([](BindingProperty& p) { p.makeCollection(); }), true},
      {"structure with a member", make([](BindingProperty& p) { p.memberAt("a"); }), false},
      {"enum 0", make([](BindingProperty& p) {
         p.setEnum({0, nullptr});
       }),
       true},
      {"enum 3", make([](BindingProperty& p) {
         p.setEnum({3, nullptr});
       }),
       false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsEmptyOrZero(c.value), c.empty) << c.desc;
}

TEST_F(RecordToValueContainers, EmptyContainersAreEmptyCollectionsAndStructures) {
  const BindingResult result = NativeToValue(registry_, Containers{});
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.member("numbers").kind(), BindingPropertyKind::Collection);
  EXPECT_EQ(result.member("surveys").kind(), BindingPropertyKind::Collection);
  EXPECT_EQ(result.member("flags").kind(), BindingPropertyKind::Collection);
  EXPECT_EQ(result.member("objects").kind(), BindingPropertyKind::Structure);
  EXPECT_EQ(result.member("byName").kind(), BindingPropertyKind::Structure);
}

TEST_F(RecordToValueContainers, ElementsKeepOrderAndMapsBecomeStructures) {
  Containers containers;
  containers.numbers = {3, 1, 2};
  containers.objects["z"].setString("last");
  containers.objects["a"].appendElement().setBool(true);
  containers.surveys = {{"first", 1, ""}, {"second", 2, ""}};
  containers.byName["s"] = Survey{"mapped", 9, "c"};
  containers.flags = {true, false};
  containers.texts = {"x", ""};
  const BindingResult result = NativeToValue(registry_, containers);
  ASSERT_TRUE(result.ok()) << result.ErrorText();

  const BindingProperty& numbers = result.member("numbers");
  ASSERT_EQ(numbers.size(), 3u);
  EXPECT_EQ(numbers.element(0).asSigned(), 3);
  EXPECT_EQ(numbers.element(2).asSigned(), 2);
  EXPECT_EQ(MemberNames(result.member("objects")), (std::vector<std::string>{"a", "z"}));
  EXPECT_TRUE(result.member("objects").member("a").element(0).asBool());
  EXPECT_EQ(result.member("surveys").element(1).member("title").asString(), "second");
  EXPECT_EQ(result.member("byName").member("s").member("id").asUnsigned(), 9u);
  EXPECT_FALSE(result.member("flags").element(1).asBool());
  EXPECT_EQ(result.member("flags").element(1).kind(), BindingPropertyKind::Bool);
  EXPECT_EQ(result.member("texts").element(1).kind(), BindingPropertyKind::String);
}

TEST_F(RecordToValueContainers, RoundTripThroughAssignment) {
  Containers original;
  original.numbers = {5, -6};
  original.objects["k"].setFloat(2.5);
  original.surveys = {{"t", 4, "c"}};
  original.byName["n"] = Survey{"m", 8, "d"};
  original.flags = {false, true};
  original.texts = {"a"};
  const BindingResult value = NativeToValue(registry_, original);
  ASSERT_TRUE(value.ok());
  Containers copy;
  ASSERT_TRUE(ValueToNative(registry_, value, copy, "<value>").ok());
  EXPECT_EQ(copy.numbers, original.numbers);
  EXPECT_EQ(copy.objects.at("k").asFloat(), 2.5);
  ASSERT_EQ(copy.surveys.size(), 1u);
  EXPECT_EQ(copy.surveys[0].id, 4u);
  EXPECT_EQ(copy.byName.at("n").caption, "d");
  EXPECT_EQ(copy.flags, original.flags);
  EXPECT_EQ(copy.texts, original.texts);
}

constexpr const char* kUnregisteredMessage =
    "Couldn't convert native value because it's an unregistered structure.";

TEST_F(RecordToValueFailures, UnregisteredRecordsFailAndLeaveOnlyTheError) {
  HoldsUnregistered holder;
  const BindingResult noElements = NativeToValue(registry_, HoldsUnregistered{});
  EXPECT_FALSE(noElements.ok()) << "the single record member fails even with no vector elements";
  EXPECT_EQ(noElements.ErrorText(), kUnregisteredMessage);

  RecordBuilder<Unregistered>(registry_, "Unregistered").Field("value", &Unregistered::value);
  holder.items.resize(2);
  const BindingResult result = NativeToValue(registry_, holder);
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.ErrorText(), kUnregisteredMessage);
  EXPECT_EQ(MemberNames(result), (std::vector<std::string>{"error"})) << "no partial collection";

  BindingResult top;
  RecordToValue(registry_, top, &holder, nullptr);
  EXPECT_EQ(top.ErrorText(), kUnregisteredMessage);
}

TEST_F(RecordToValueFailures, EmptyVectorOfUnregisteredRecordsConvertsNothing) {
  const BindingResult result = NativeToValue(registry_, std::vector<Unregistered>{});
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(result.kind(), BindingPropertyKind::Collection);
  EXPECT_EQ(NativeToValue(registry_, std::vector<Unregistered>(1)).ErrorText(),
            kUnregisteredMessage);
}

TEST_F(RecordToValueFailures, FailedResultIsNotOverwritten) {
  BindingResult result;
  result.SetError("first");
  RecordToValue(registry_, result, nullptr, nullptr);
  const BindingType* survey = registry_.LookupType("Survey");
  MemberToValue(registry_, result, nullptr, survey->fields[0]);
  EXPECT_EQ(result.ErrorText(), "first");
}

// A converter that only knows ToValue: the default in-place write goes through it.
class FailingConverter final : public BindingFieldConverter {
 public:
  void FromValue(BindingResult&, void*, const BindingProperty&, const char*, const BindingType*,
                 const BindingRegistry&) const override {}
  void ToValue(BindingResult& result, const void* member, const BindingType*,
               const BindingRegistry&) const override {
    result = BindingResult();
    if (*static_cast<const int32_t*>(member) < 0) {
      result.SetError("negative");
    } else {
      result.setString("fine");
    }
  }
};

struct WithCallback {
  int32_t first = 0;
  int32_t second = 0;
};

TEST_F(RecordToValueFailures, ConverterErrorsTravelUpUnchanged) {
  TypeBuilder builder =
      registry_.BeginType(sizeof(WithCallback), "WithCallback", TypeIdOf<WithCallback>(), false);
  for (auto member : {&WithCallback::first, &WithCallback::second}) {
    builder.AddField(member == &WithCallback::first ? "first" : "second", "", MemberOffset(member),
                     nullptr,
                     BindingTypeRef{BindingTypeKind::Callback, BindingTypeKind::None, nullptr}, 0,
                     std::make_unique<FailingConverter>(), false);
  }
  WithCallback ok;
  const BindingResult good = NativeToValue(registry_, ok);
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(good.member("second").asString(), "fine");

  WithCallback bad{1, -1};
  EXPECT_EQ(NativeToValue(registry_, bad).ErrorText(), "negative");

  BindingResult member;
  MemberToValue(registry_, member, &bad.second, registry_.LookupType("WithCallback")->fields[1]);
  EXPECT_EQ(member.ErrorText(), "negative");
}

}  // namespace
}  // namespace vyn::binding::to_value_test
