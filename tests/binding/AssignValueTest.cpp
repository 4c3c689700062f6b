// Assigning value trees to native values: the rules and exact messages per target kind, records,
// vectors and maps, and where the walk stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/AssignValue.h"
#include "binding/RecordToValue.h"
#include "binding/TypeBuilder.h"
#include "binding/ValueTrees.h"

namespace vyn::binding::assign_test {
namespace {

using namespace trees;

enum class Color : int32_t { Red = 1, Green = 2, Blue = 7 };
enum class Tiny : int8_t { Low = -2 };
enum class Half : int16_t { Low = -300 };
enum class Wide : int64_t { Minus = -5 };
enum class Unlisted : int32_t { A = 1 };
struct Inner {
  int32_t x = 0;
};
struct Sample {
  int32_t number = 0;
  Color color = Color::Red;
  Inner inner;
  std::vector<Inner> inners;
  std::vector<Color> colors;
  std::vector<uint8_t> blob;
};
struct Strict {
  int32_t zeta = 0;  // registered first: its failure is the one reported
  int32_t needed = 0;
};
using Bytes = std::vector<uint8_t>;
using Numbers = std::vector<int32_t>;
using Counts = std::unordered_map<std::string, int32_t>;

std::string Range(const std::string& value, const char* type) {
  return "Value " + value + " for 'n' of type " + type + " is out of range";
}
std::string Format(const std::string& value, const char* type) {
  return "Value " + value + " for 'n' of type " + type + " is in an incorrect format";
}
std::string Invalid(const char* type, const char* kind) {
  return std::string("Couldn't assign value to 'n' of type ") + type +
         " because the input is of an invalid type " + kind + ".";
}
const std::string kRequired = "A value for 'n' is required.";

// What the target holds afterwards, and the error text ("" when the result is ok). The target
// starts as 99 (or "old", or the byte 9), so that what a failure stores shows; records, vectors
// and maps show nothing here.
using Outcome = std::pair<std::string, std::string>;
template <typename T>
Outcome To(const BindingRegistry& registry, const BindingProperty& input) {
  T out{};
  if constexpr (std::is_arithmetic_v<T> || std::is_enum_v<T>) out = static_cast<T>(99);
  if constexpr (std::is_same_v<T, std::string>) out = "old";
  if constexpr (std::is_same_v<T, Bytes>) out = {9};
  const BindingResult result = ValueToNative(registry, input, out, "n");
  std::ostringstream shown;
  if constexpr (std::is_enum_v<T>) shown << static_cast<int64_t>(out);
  if constexpr (std::is_arithmetic_v<T>) shown << std::setprecision(9) << +out;
  if constexpr (std::is_same_v<T, std::string>) shown << out;
  if constexpr (std::is_same_v<T, Bytes>)
    std::copy(out.begin(), out.end(), std::ostream_iterator<int>(shown, "."));
  return {shown.str(), result.ErrorText()};
}

class AssignTest : public ::testing::Test {
 protected:
  AssignTest() {
    EnumBuilder<Color> color(registry_, "Color");
    color.Value("Red", Color::Red).Value("Green", Color::Green).Value("Blue", Color::Blue);
    EnumBuilder<Tiny>(registry_, "Tiny").Value("Low", Tiny::Low);
    EnumBuilder<Half>(registry_, "Half").Value("Low", Half::Low);
    EnumBuilder<Wide>(registry_, "Wide").Value("Minus", Wide::Minus);
    RecordBuilder<Inner>(registry_, "Inner").Field("x", &Inner::x);
    RecordBuilder<Sample> sample(registry_, "Sample");
    sample.Field("number", &Sample::number).Field("color", &Sample::color);
    sample.Field("inner", &Sample::inner).Field("inners", &Sample::inners);
    sample.Field("colors", &Sample::colors).Field("blob", &Sample::blob);
    RecordBuilder<Strict> strict(registry_, "Strict");
    strict.Field("zeta", &Strict::zeta).Field("needed", &Strict::needed, "", kFieldRequired);
  }

  BindingRegistry registry_;
};

TEST_F(AssignTest, EachTargetKindChecksKindFormatRangeAndPath) {
  const char* const kBoolOptions = ". Options are \"true\", \"false\", \"1\", \"0\".";
  const struct {
    const char* desc;
    Outcome (*to)(const BindingRegistry&, const BindingProperty&);
    BindingProperty input;
    const char* value;
    std::string error;
  } cases[] = {
      {"bool: bool", To<bool>, Bool(true), "1", ""},
      {"bool: text 1", To<bool>, Text("1"), "1", ""},
      {"bool: text true", To<bool>, Text("true"), "1", ""},
      {"bool: text 0", To<bool>, Text("0"), "0", ""},
      {"bool: text false", To<bool>, Text("false"), "0", ""},
      {"bool: upper case", To<bool>, Text("TRUE"), "0", Format("TRUE", "bool") + kBoolOptions},
      {"bool: number", To<bool>, Signed(1), "0", Invalid("bool", "signed")},
      {"bool: empty", To<bool>, {}, "0", kRequired},
      {"int8: maximum", To<int8_t>, Signed(127), "127", ""},
      {"int8: minimum", To<int8_t>, Signed(-128), "-128", ""},
      {"int8: too small", To<int8_t>, Signed(-129), "0", Range("-129", "int8")},
      {"int8: unsigned maximum", To<int8_t>, Unsigned(127), "127", ""},
      {"int8: unsigned too big", To<int8_t>, Unsigned(128), "0", Range("128", "int8")},
      {"int8: enum too big", To<int8_t>, Enum(200), "0", Range("200", "int8")},
      {"int16: too big", To<int16_t>, Signed(32768), "0", Range("32768", "int16")},
      {"int32: hex text", To<int32_t>, Text("0x10"), "16", ""},
      {"int32: trailing blank", To<int32_t>, Text("12 "), "0", Format("12 ", "int32")},
      {"int32: text too big", To<int32_t>, Text("2147483648"), "0", Range("2147483648", "int32")},
      {"int32: float maximum", To<int32_t>, Float(2147483647.0), "2147483647", ""},
      {"int32: float too big", To<int32_t>, Float(2147483647.5), "0",
       Range("2.14748e+09", "int32")},
      {"int32: NaN", To<int32_t>, Float(std::nan("")), "0", Range("nan", "int32")},
      {"int32: enum", To<int32_t>, Enum(7), "7", ""},
      {"int32: bool", To<int32_t>, Bool(true), "0", Invalid("int32", "bool")},
      {"int32: empty", To<int32_t>, {}, "0", kRequired},
      {"int64: float -2^63", To<int64_t>, Float(-0x1p63), "-9223372036854775808", ""},
      // 2^63 equals the maximum once both are doubles, but no int64 holds it.
      {"int64: float 2^63", To<int64_t>, Float(0x1p63), "0", Range("9.22337e+18", "int64")},
      {"long long", To<long long>, Text("-7"), "-7", ""},
      {"uint8: maximum", To<uint8_t>, Signed(255), "255", ""},
      {"uint8: too big", To<uint8_t>, Signed(256), "0", Range("256", "uint8")},
      {"uint8: negative", To<uint8_t>, Signed(-1), "0", Range("-1", "uint8")},
      {"uint8: unsigned maximum", To<uint8_t>, Unsigned(255), "255", ""},
      {"uint8: negative text", To<uint8_t>, Text("-1"), "0", Range("-1", "uint8")},
      {"uint8: text with a letter", To<uint8_t>, Text("7x"), "0", Format("7x", "uint8")},
      {"uint8: negative float", To<uint8_t>, Float(-0.5), "0", Range("-0.5", "uint8")},
      {"uint8: enum -1", To<uint8_t>, Enum(-1), "0", Range("-1", "uint8")},
      {"uint8: enum maximum", To<uint8_t>, Enum(255), "255", ""},
      {"uint8: collection", To<uint8_t>, List({}), "0", Invalid("uint8", "collection")},
      {"uint8: empty", To<uint8_t>, {}, "0", kRequired},
      {"uint16: too big", To<uint16_t>, Unsigned(65536), "0", Range("65536", "uint16")},
      {"uint32: float maximum", To<uint32_t>, Float(4294967295.0), "4294967295", ""},
      {"uint64: float 2^63", To<uint64_t>, Float(0x1p63), "9223372036854775808", ""},
      // The largest uint64 rounds up to 2^64 as a double; that value does not fit.
      {"uint64: float 2^64", To<uint64_t>, Float(0x1p64), "0", Range("1.84467e+19", "uint64")},
      {"uint64: negative float", To<uint64_t>, Float(-1.0), "0", Range("-1", "uint64")},
      {"float: signed", To<float>, Signed(-5), "-5", ""},
      {"float: unsigned", To<float>, Unsigned(5), "5", ""},
      {"float: enum", To<float>, Enum(2), "2", ""},
      {"float: hex text", To<float>, Text("0x1p4"), "16", ""},
      {"float: too small", To<float>, Float(-1e39), "0", Range("-1e+39", "float")},
      {"float: text too big", To<float>, Text("1e39"), "0", Range("1e39", "float")},
      {"float: text with a tail", To<float>, Text("1.5a"), "0", Format("1.5a", "float")},
      {"float: bool", To<float>, Bool(false), "0", Invalid("float", "bool")},
      {"float: empty", To<float>, {}, "0", kRequired},
      {"double: infinity", To<double>, Float(INFINITY), "0", Range("inf", "double")},
      {"string: text", To<std::string>, Text("new"), "new", ""},
      {"string: enumerator", To<std::string>, Enum(7, TypeIdOf<Color>()), "Blue", ""},
      {"string: unnamed number", To<std::string>, Enum(3, TypeIdOf<Color>()), "",
       "3 is not a valid enumeration value for 'n'."},
      {"string: number", To<std::string>, Signed(1), "",
       "Couldn't assign value to 'n' because the input is not a string."},
      {"string: empty", To<std::string>, {}, "", kRequired},
      {"blob: bytes", To<Bytes>, Blob({1, 2, 3}), "1.2.3.", ""},
      {"blob: Base64", To<Bytes>, Text("AZaz09+/"), "1.150.179.211.223.191.", ""},
      {"blob: padded Base64", To<Bytes>, Text("YQ=="), "97.", ""},
      {"blob: blank in Base64", To<Bytes>, Text("YW Jj"), "",
       "Couldn't assign string value to 'n' of type blob because the input has invalid base64 "
       "characters."},
      {"blob: number", To<Bytes>, Signed(1), "",
       "Couldn't assign value to 'n' of type blob because the input is not a blob."},
      {"blob: empty", To<Bytes>, {}, "", kRequired},
      {"enum: name", To<Color>, Text("Blue"), "7", ""},
      {"enum: number text", To<Color>, Text("7"), "7", ""},
      {"enum: signed", To<Color>, Signed(2), "2", ""},
      {"enum: unsigned, low 32 bits", To<Color>, Unsigned(0x100000007), "7", ""},
      {"enum: another enumeration", To<Color>, Enum(2, TypeIdOf<Tiny>()), "2", ""},
      {"enum: unlisted number", To<Color>, Text("3"), "0",
       "3 is not a valid Color enumeration value for 'n'."},
      {"enum: float", To<Color>, Float(7.0), "0",
       "Couldn't assign value to 'n' of enum type because the input is of an invalid type float."},
      {"enum: empty", To<Color>, {}, "0", kRequired},
      {"enum: one byte", To<Tiny>, Text("Low"), "-2", ""},
      {"enum: two bytes", To<Half>, Text("Low"), "-300", ""},
      {"enum: eight bytes", To<Wide>, Signed(-5), "-5", ""},
      {"enum: unregistered", To<Unlisted>, Text("A"), "99",
       "Couldn't assign value to 'n' because the input is an unregistered structure or not "
       "a structure at all."},
      {"record: empty", To<Sample>, {}, "", kRequired},
      {"record: nested record not a structure", To<Sample>, Struct({{"inner", Signed(1)}}), "",
       "Couldn't assign value to 'inner' of type Inner because the input not a structure."},
      {"record: nested paths are not prefixed", To<Sample>,
       Struct({{"inners", List({Struct({{"x", Bool(true)}})})}}), "",
       "Couldn't assign value to 'x' of type int32 because the input is of an invalid type bool."},
      {"record: element of a vector of enums", To<Sample>,
       Struct({{"colors", List({Text("Purple")})}}), "",
       "Purple is not a valid Color enumeration value for 'colors'."},
      {"record: first failure in registration order", To<Strict>,
       Struct({{"needed", Text("a")}, {"zeta", Text("z")}}), "",
       "Value z for 'zeta' of type int32 is in an incorrect format"},
      {"record: required member present but empty", To<Strict>,
       Struct({{"zeta", Signed(1)}, {"needed", {}}}), "",
       "Couldn't assign value to 'n' of type Strict because the input structure doesn't have "
       "required field 'needed'."},
      {"vector: empty", To<Numbers>, Node(), "",
       "Couldn't assign value to 'n' of type vector because the input not a collection."},
      {"vector of bool: empty", To<std::vector<bool>>, {}, "", kRequired},
      {"vector: the vector's path", To<Numbers>, List({Signed(1), Text("x")}), "",
       Format("x", "int32")},
      {"map: collection", To<Counts>, List({}), "",
       "Couldn't assign value to 'n' of type map because the input not a structure."},
      {"map: members in name order", To<Counts>, Struct({{"b", Text("y")}, {"a", Text("x")}}), "",
       Format("x", "int32")},
  };
  for (const auto& c : cases) {
    const auto [value, error] = c.to(registry_, c.input);
    EXPECT_EQ(error, c.error) << c.desc;
    EXPECT_EQ(value, c.value) << c.desc;
  }
}

TEST_F(AssignTest, RecordsVectorsAndMapsAreFilledByNameAndInOrder) {
  Sample sample;
  sample.number = 5;
  const BindingProperty input = Struct({{"number", {}},
                                        {"color", Text("Green")},
                                        {"inner", Struct({{"x", Text("0x20")}})},
                                        {"colors", List({Text("Blue")})},
                                        {"blob", Text("YQ==")},
                                        {"unknown", Signed(1)}});
  ASSERT_TRUE(ValueToNative(registry_, input, sample, "n").ok());
  // An empty member leaves its target alone; blobs go through their converter.
  EXPECT_EQ(Describe(NativeToValue(registry_, sample)),
            "{blob:bYQ==,color:e2,colors:[e7,],inner:{x:s32,},inners:[],number:s5,}");
  // Past sixteen members a name added out of order waits unordered, and is found there too.
  BindingProperty late;
  for (int i = 10; i < 26; ++i) late.memberAt("x" + std::to_string(i)).setSigned(i);
  late.memberAt("number").setSigned(9);
  ASSERT_TRUE(ValueToNative(registry_, late, sample, "n").ok());
  EXPECT_EQ(sample.number, 9);

  Numbers numbers = {7, 7, 7, 7, 7};
  ASSERT_TRUE(ValueToNative(registry_, List({Signed(1), {}, Text("3")}), numbers, "v").ok());
  EXPECT_EQ(numbers, (Numbers{1, 0, 3})) << "cleared, sized to the input; empty elements stay 0";
  std::vector<bool> flags;
  ASSERT_TRUE(ValueToNative(registry_, List({Bool(true), {}, Text("1")}), flags, "v").ok());
  EXPECT_EQ(flags, (std::vector<bool>{true, false, true}));
  Counts counts = {{"old", 9}};
  const BindingProperty members = Struct({{"b", Signed(2)}, {"a", Signed(1)}, {"skip", {}}});
  ASSERT_TRUE(ValueToNative(registry_, members, counts, "m").ok());
  EXPECT_EQ(counts, (Counts{{"a", 1}, {"b", 2}})) << "cleared; empty members make no key";
  ASSERT_FALSE(
      ValueToNative(registry_, Struct({{"b", Text("y")}, {"a", Text("x")}}), counts, "m").ok());
  EXPECT_EQ(counts.count("b"), 0u) << "the walk stopped at a";
}

TEST_F(AssignTest, SmallValuesOfVectorsAndMapsShareOneArena) {
  BindingProperty small = Struct({{"value", Text("same")}});  // 64 nodes, the most that share
  for (int i = 0; i < 61; ++i) small.memberAt("n").appendElement().setSigned(i);
  BindingProperty large = small;
  large.memberAt("n").appendElement();
  std::vector<BindingProperty> values;
  const BindingProperty input = List({Float(1), small, Signed(7), {}, Text("same"), large});
  ASSERT_TRUE(ValueToNative(registry_, input, values, "v").ok());
  EXPECT_EQ(Describe(List({values[0], values[2], values[3], values[5].member("n").element(61)})),
            "[f1.000000,s7,~,~,]");
  EXPECT_EQ(values[0].arena(), nullptr) << "scalars need no arena";
  EXPECT_EQ(values[5].arena()->RootCount(), 1u) << "a large value keeps an arena of its own";
  EXPECT_EQ(values[1].arena()->RootCount(), 2u) << "the text shares the first small value's";
  values[1].reset();
  EXPECT_EQ(values[4].asString(), "same");
  std::unordered_map<std::string, BindingProperty> map;
  ASSERT_TRUE(ValueToNative(registry_, Struct({{"a", Text("t")}, {"b", small}}), map, "m").ok());
  EXPECT_EQ(map["a"].arena()->RootCount(), 2u) << "b shares the arena of a";
}

TEST_F(AssignTest, OptionalMembersGoThroughTheirConverterOthersByTheirKind) {
  int32_t out[2] = {};
  TypeBuilder builder = registry_.BeginType(sizeof out, "Routed", TypeIdOf<int32_t[2]>(), false);
  for (const bool optional : {true, false}) {
    builder.AddField(optional ? "optional" : "plain", "", optional ? 0 : 4, nullptr,
                     {BindingTypeKind::Int32}, 0, std::make_unique<MarkingConverter>(), optional);
  }
  BindingResult result;
  AssignRecord(registry_, result, out, Struct({{"optional", Text("abc")}, {"plain", Text("5")}}),
               "r", builder.type());
  EXPECT_EQ(out[0], 1003);
  EXPECT_EQ(out[1], 5);
}

}  // namespace
}  // namespace vyn::binding::assign_test
