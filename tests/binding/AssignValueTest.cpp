// Assigning value trees to native values: the rules and exact messages per target kind, records,
// vectors and maps, and where the walk stops.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/AssignValue.h"
#include "binding/BindingRegistry.h"
#include "binding/PageCache.h"
#include "binding/TypeBuilder.h"
#include "base/PluginAllocator.h"

namespace vyn::binding::assign_test {
namespace {

enum class Color : int32_t { Red = 1, Green = 2, Blue = 7 };
enum class Tiny : int8_t { Low = -2, High = 100 };
enum class Wide : int64_t { Minus = -5, Plus = 5 };
enum class Unlisted : int32_t { A = 1 };

struct Inner {
  int32_t x = 0;
  std::string label;
};

struct Sample {
  bool flag = false;
  int32_t number = 0;
  std::string text;
  std::vector<int32_t> numbers;
  std::unordered_map<std::string, int32_t> counts;
  Color color = Color::Red;
  Inner inner;
  std::vector<Inner> inners;
  std::vector<Color> colors;
  BindingProperty object;
  std::vector<uint8_t> blob;
  Tiny tiny = Tiny::High;
  Wide wide = Wide::Plus;
};

struct Strict {
  int32_t zeta = 0;  // registered first: its failure is the one reported
  int32_t alpha = 0;
  int32_t needed = 0;
};

struct Late {
  int32_t value = 0;
};
struct HoldsLate {
  Late late;
};

BindingProperty Signed(int64_t v) {
  BindingProperty p;
  p.setSigned(v);
  return p;
}
BindingProperty Unsigned(uint64_t v) {
  BindingProperty p;
  p.setUnsigned(v);
  return p;
}
BindingProperty Float(double v) {
  BindingProperty p;
  p.setFloat(v);
  return p;
}
BindingProperty Text(std::string_view v) {
  BindingProperty p;
  p.setString(v);
  return p;
}
BindingProperty Bool(bool v) {
  BindingProperty p;
  p.setBool(v);
  return p;
}
BindingProperty Enum(int32_t n, const BindingTypeId* type) {
  BindingProperty p;
  p.setEnum(BindingEnum{n, type});
  return p;
}
BindingProperty Blob(std::vector<uint8_t> bytes) {
  BindingProperty p;
  p.setBlob(std::move(bytes));
  return p;
}
BindingProperty Collection() {
  BindingProperty p;
  p.makeCollection();
  return p;
}
BindingProperty Structure() {
  BindingProperty p;
  p.makeStructure();
  return p;
}

class AssignFixture : public ::testing::Test {
 protected:
  AssignFixture() {
    EnumBuilder<Color>(registry_, "Color")
        .Value("Red", Color::Red)
        .Value("Green", Color::Green)
        .Value("Blue", Color::Blue);
    EnumBuilder<Tiny>(registry_, "Tiny").Value("Low", Tiny::Low).Value("High", Tiny::High);
    EnumBuilder<Wide>(registry_, "Wide").Value("Minus", Wide::Minus).Value("Plus", Wide::Plus);
    RecordBuilder<Inner>(registry_, "Inner").Field("x", &Inner::x).Field("label", &Inner::label);
    RecordBuilder<Sample>(registry_, "Sample")
        .Field("flag", &Sample::flag)
        .Field("number", &Sample::number)
        .Field("text", &Sample::text)
        .Field("numbers", &Sample::numbers)
        .Field("counts", &Sample::counts)
        .Field("color", &Sample::color)
        .Field("inner", &Sample::inner)
        .Field("inners", &Sample::inners)
        .Field("colors", &Sample::colors)
        .Field("object", &Sample::object)
        .Field("blob", &Sample::blob)
        .Field("tiny", &Sample::tiny)
        .Field("wide", &Sample::wide);
    RecordBuilder<Strict>(registry_, "Strict")
        .Field("zeta", &Strict::zeta)
        .Field("alpha", &Strict::alpha)
        .Field("needed", &Strict::needed, "", kFieldRequired);
    RecordBuilder<HoldsLate>(registry_, "HoldsLate").Field("late", &HoldsLate::late);
    RecordBuilder<Late>(registry_, "Late").Field("value", &Late::value);
  }

  template <typename T>
  std::string Fails(const BindingProperty& input, T& out, const char* path = "n") {
    const BindingResult result = ValueToNative(registry_, input, out, path);
    EXPECT_FALSE(result.ok());
    return result.ErrorText();
  }

  BindingRegistry registry_;
};

using AssignScalars = AssignFixture;
using AssignRecords = AssignFixture;
using AssignCollections = AssignFixture;
using AssignConverters = AssignFixture;

// --- Scalars ---------------------------------------------------------------------------------

TEST_F(AssignScalars, BoolAcceptsBoolsAndFourExactTexts) {
  struct Case {
    const char* desc;
    BindingProperty input;
    bool value;
    const char* error;
  };
  const Case cases[] = {
      {"bool true", Bool(true), true, ""},
      {"text 1", Text("1"), true, ""},
      {"text true", Text("true"), true, ""},
      {"text 0", Text("0"), false, ""},
      {"text false", Text("false"), false, ""},
      {"upper case", Text("TRUE"), false,
       "Value TRUE for 'n' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {"leading blank", Text(" 1"), false,
       "Value  1 for 'n' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {"number", Signed(1), false,
       "Couldn't assign value to 'n' of type bool because the input is of an invalid type "
       "signed."},
      {"collection", Collection(), false,
       "Couldn't assign value to 'n' of type bool because the input is of an invalid type "
       "collection."},
      {"empty", BindingProperty(), false, "A value for 'n' is required."},
  };
  for (const Case& c : cases) {
    bool out = !c.value;
    const BindingResult result = ValueToNative(registry_, c.input, out, "n");
    EXPECT_EQ(result.ErrorText(), c.error) << c.desc;
    EXPECT_EQ(result.ok(), std::string(c.error).empty()) << c.desc;
    EXPECT_EQ(out, c.value) << c.desc;
  }
}

TEST_F(AssignScalars, SignedIntegersCheckRangeFormatAndKind) {
  struct Case {
    const char* desc;
    BindingProperty input;
    int64_t value;
    const char* error;
  };
  const Case int32Cases[] = {
      {"hex text", Text("0x10"), 16, ""},
      {"octal text", Text("010"), 8, ""},
      {"empty text", Text(""), 0, ""},
      {"signed text with blanks", Text("  -42"), -42, ""},
      {"trailing blank", Text("12 "), 0,
       "Value 12  for 'n' of type int32 is in an incorrect format"},
      {"text out of range", Text("2147483648"), 0,
       "Value 2147483648 for 'n' of type int32 is out of range"},
      {"float truncates", Float(2.9), 2, ""},
      {"negative float truncates", Float(-2.9), -2, ""},
      {"float just past the maximum", Float(2147483647.5), 0,
       "Value 2.14748e+09 for 'n' of type int32 is out of range"},
      {"huge float", Float(1e300), 0, "Value 1e+300 for 'n' of type int32 is out of range"},
      {"NaN", Float(std::nan("")), 0, "Value nan for 'n' of type int32 is out of range"},
      {"maximum", Signed(2147483647), 2147483647, ""},
      {"minimum", Signed(-2147483648LL), -2147483648LL, ""},
      {"above maximum", Signed(2147483648LL), 0,
       "Value 2147483648 for 'n' of type int32 is out of range"},
      {"below minimum", Signed(-2147483649LL), 0,
       "Value -2147483649 for 'n' of type int32 is out of range"},
      {"five thousand million unsigned", Unsigned(5000000000ULL), 0,
       "Value 5000000000 for 'n' of type int32 is out of range"},
      {"enum number", Enum(7, TypeIdOf<Color>()), 7, ""},
      {"bool", Bool(true), 0,
       "Couldn't assign value to 'n' of type int32 because the input is of an invalid type bool."},
      {"blob", Blob({1}), 0,
       "Couldn't assign value to 'n' of type int32 because the input is of an invalid type blob."},
      {"structure", Structure(), 0,
       "Couldn't assign value to 'n' of type int32 because the input is of an invalid type "
       "structure."},
      {"empty", BindingProperty(), 0, "A value for 'n' is required."},
  };
  for (const Case& c : int32Cases) {
    int32_t out = 99;
    const BindingResult result = ValueToNative(registry_, c.input, out, "n");
    EXPECT_EQ(result.ErrorText(), c.error) << c.desc;
    EXPECT_EQ(out, c.value) << c.desc << " (a failure stores 0)";
  }

  const Case int8Cases[] = {
      {"minimum", Signed(-128), -128, ""},
      {"below minimum", Signed(-129), 0, "Value -129 for 'n' of type int8 is out of range"},
      {"enum number above maximum", Enum(200, nullptr), 0,
       "Value 200 for 'n' of type int8 is out of range"},
      {"text below minimum", Text("-129"), 0, "Value -129 for 'n' of type int8 is out of range"},
  };
  for (const Case& c : int8Cases) {
    int8_t out = 5;
    const BindingResult result = ValueToNative(registry_, c.input, out, "n");
    EXPECT_EQ(result.ErrorText(), c.error) << c.desc;
    EXPECT_EQ(out, c.value) << c.desc;
  }

  const Case int64Cases[] = {
      {"five thousand million unsigned", Unsigned(5000000000ULL), 5000000000LL, ""},
      {"unsigned 2^63", Unsigned(9223372036854775808ULL), 0,
       "Value 9223372036854775808 for 'n' of type int64 is out of range"},
      {"float -2^63", Float(-9223372036854775808.0), std::numeric_limits<int64_t>::min(), ""},
      // 2^63 compares equal to the maximum as doubles, but no int64 holds it.
      {"float 2^63", Float(9223372036854775808.0), 0,
       "Value 9.22337e+18 for 'n' of type int64 is out of range"},
      {"text overflowing 64 bits", Text("99999999999999999999"), 0,
       "Value 99999999999999999999 for 'n' of type int64 is out of range"},
  };
  for (const Case& c : int64Cases) {
    int64_t out = 5;
    const BindingResult result = ValueToNative(registry_, c.input, out, "n");
    EXPECT_EQ(result.ErrorText(), c.error) << c.desc;
    EXPECT_EQ(out, c.value) << c.desc;
  }

  long long spelledLong = 0;  // the other spelling of a 64-bit integer
  EXPECT_TRUE(ValueToNative(registry_, Text("-7"), spelledLong, "n").ok());
  EXPECT_EQ(spelledLong, -7);
  int16_t narrow = 0;
  EXPECT_EQ(Fails(Signed(40000), narrow), "Value 40000 for 'n' of type int16 is out of range");
}

TEST_F(AssignScalars, UnsignedIntegersRefuseNegativesAndCheckMaxima) {
  struct Case {
    const char* desc;
    BindingProperty input;
    uint64_t value;
    const char* error;
  };
  const Case uint8Cases[] = {
      {"maximum", Signed(255), 255, ""},
      {"signed 300", Signed(300), 0, "Value 300 for 'n' of type uint8 is out of range"},
      {"signed -1", Signed(-1), 0, "Value -1 for 'n' of type uint8 is out of range"},
      {"unsigned 256", Unsigned(256), 0, "Value 256 for 'n' of type uint8 is out of range"},
      {"text -1", Text("-1"), 0,
       "Value -1 for 'n' of type uint8 is out of range"},
      {"text with trailing letter", Text("7x"), 0,
       "Value 7x for 'n' of type uint8 is in an incorrect format"},
      {"negative float", Float(-0.5), 0, "Value -0.5 for 'n' of type uint8 is out of range"},
      {"float truncates", Float(254.9), 254, ""},
      {"enum -1", Enum(-1, nullptr), 0, "Value -1 for 'n' of type uint8 is out of range"},
      {"enum 255", Enum(255, nullptr), 255, ""},
      {"string kind name", Collection(), 0,
       "Couldn't assign value to 'n' of type uint8 because the input is of an invalid type "
       "collection."},
  };
  for (const Case& c : uint8Cases) {
    uint8_t out = 9;
    const BindingResult result = ValueToNative(registry_, c.input, out, "n");
    EXPECT_EQ(result.ErrorText(), c.error) << c.desc;
    EXPECT_EQ(out, c.value) << c.desc;
  }

  const Case uint64Cases[] = {
      {"text -1", Text("-1"), 0, "Value -1 for 'n' of type uint64 is out of range"},
      {"text 0x10 reads as hexadecimal", Text("0x10"), 16, ""},
      {"float 2^63 keeps its top bit", Float(9223372036854775808.0), 9223372036854775808ULL, ""},
      // The largest uint64 rounds up to 2^64 as a double; that value does not fit.
      {"float 2^64", Float(18446744073709551616.0), 0,
       "Value 1.84467e+19 for 'n' of type uint64 is out of range"},
      {"signed -1", Signed(-1), 0, "Value -1 for 'n' of type uint64 is out of range"},
      {"maximum", Unsigned(std::numeric_limits<uint64_t>::max()),
       std::numeric_limits<uint64_t>::max(), ""},
  };
  for (const Case& c : uint64Cases) {
    uint64_t out = 9;
    const BindingResult result = ValueToNative(registry_, c.input, out, "n");
    EXPECT_EQ(result.ErrorText(), c.error) << c.desc;
    EXPECT_EQ(out, c.value) << c.desc;
  }

  uint16_t u16 = 0;
  EXPECT_EQ(Fails(Unsigned(65536), u16), "Value 65536 for 'n' of type uint16 is out of range");
  uint32_t u32 = 0;
  EXPECT_TRUE(ValueToNative(registry_, Float(4294967295.0), u32, "n").ok());
  EXPECT_EQ(u32, 4294967295u);
}

TEST_F(AssignScalars, FloatingPointChecksRangeAndStoresSinglePrecision) {
  struct Case {
    const char* desc;
    BindingProperty input;
    double value;
    const char* error;
  };
  const Case floatCases[] = {
      {"signed", Signed(-5), -5.0, ""},
      {"unsigned", Unsigned(5), 5.0, ""},
      {"enum", Enum(2, nullptr), 2.0, ""},
      {"empty text", Text(""), 0.0, ""},
      {"hex text", Text("0x1p4"), 16.0, ""},
      {"stored as single precision", Float(0.1), static_cast<double>(0.1f), ""},
      {"above the single-precision maximum", Float(1e39), 0.0,
       "Value 1e+39 for 'n' of type float is out of range"},
      {"text above the maximum", Text("1e39"), 0.0,
       "Value 1e39 for 'n' of type float is out of range"},
      {"text with a tail", Text("1.5abc"), 0.0,
       "Value 1.5abc for 'n' of type float is in an incorrect format"},
      {"bool", Bool(false), 0.0,
       "Couldn't assign value to 'n' of type float because the input is of an invalid type bool."},
      {"empty", BindingProperty(), 0.0, "A value for 'n' is required."},
  };
  for (const Case& c : floatCases) {
    float out = 3.0f;
    const BindingResult result = ValueToNative(registry_, c.input, out, "n");
    EXPECT_EQ(result.ErrorText(), c.error) << c.desc;
    EXPECT_EQ(static_cast<double>(out), c.value) << c.desc;
  }

  double d = 0;
  EXPECT_EQ(Fails(Float(std::numeric_limits<double>::infinity()), d),
            "Value inf for 'n' of type double is out of range");
  EXPECT_EQ(Fails(Text("1e400"), d), "Value 1e400 for 'n' of type double is out of range");
  EXPECT_EQ(Fails(Collection(), d),
            "Couldn't assign value to 'n' of type double because the input is of an invalid type "
            "collection.");
  EXPECT_TRUE(ValueToNative(registry_, Float(std::nan("")), d, "n").ok()) << "a NaN passes";
  EXPECT_TRUE(std::isnan(d));
}

TEST_F(AssignScalars, StringsCopyTextOrNameEnumerators) {
  std::string out = "old";
  EXPECT_TRUE(ValueToNative(registry_, Text("new"), out, "n").ok());
  EXPECT_EQ(out, "new");
  EXPECT_TRUE(ValueToNative(registry_, Enum(7, TypeIdOf<Color>()), out, "n").ok());
  EXPECT_EQ(out, "Blue");

  EXPECT_EQ(Fails(Enum(3, TypeIdOf<Color>()), out), "3 is not a valid enumeration value for 'n'.");
  EXPECT_EQ(out, "") << "a failed string assignment leaves the empty text";
  EXPECT_EQ(Fails(Enum(1, TypeIdOf<Unlisted>()), out),
            "1 is not a valid enumeration value for 'n'.");
  EXPECT_EQ(Fails(Signed(1), out),
            "Couldn't assign value to 'n' because the input is not a string.");
  EXPECT_EQ(Fails(BindingProperty(), out), "A value for 'n' is required.");
}

TEST_F(AssignScalars, BlobsTakeBytesOrStrictBase64) {
  std::vector<uint8_t> out = {9};
  EXPECT_TRUE(ValueToNative(registry_, Blob({1, 2, 3}), out, "n").ok());
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_TRUE(ValueToNative(registry_, Text("YWJj"), out, "n").ok());
  EXPECT_EQ(out, (std::vector<uint8_t>{'a', 'b', 'c'}));
  EXPECT_TRUE(ValueToNative(registry_, Text("YQ=="), out, "n").ok());
  EXPECT_EQ(out, (std::vector<uint8_t>{'a'}));

  EXPECT_EQ(Fails(Text("YW Jj"), out),
            "Couldn't assign string value to 'n' of type blob because the input has invalid "
            "base64 characters.");
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(Fails(Signed(1), out),
            "Couldn't assign value to 'n' of type blob because the input is not a blob.");
  EXPECT_EQ(Fails(BindingProperty(), out), "A value for 'n' is required.");
}

TEST_F(AssignScalars, ObjectsDeepCopyAnyInput) {
  BindingProperty input;
  input.memberAt("a").setString("text");
  input.memberAt("b").appendElement().setSigned(4);
  BindingProperty out;
  out.setSigned(1);
  EXPECT_TRUE(ValueToNative(registry_, input, out, "n").ok());
  input.memberAt("a").setString("changed");
  EXPECT_EQ(out.member("a").asString(), "text");
  EXPECT_EQ(out.member("b").element(0).asSigned(), 4);

  EXPECT_TRUE(ValueToNative(registry_, BindingProperty(), out, "n").ok());
  EXPECT_EQ(out.kind(), BindingPropertyKind::Empty) << "an empty input is copied, not refused";
}

TEST_F(AssignScalars, EnumerationsAcceptNamesAndListedNumbers) {
  struct Case {
    const char* desc;
    BindingProperty input;
    int32_t value;
    const char* error;
  };
  const Case cases[] = {
      {"name", Text("Blue"), 7, ""},
      {"number text", Text("7"), 7, ""},
      {"hex number text", Text("0x7"), 7, ""},
      {"signed", Signed(2), 2, ""},
      {"unsigned keeps the low 32 bits", Unsigned(0x100000007ULL), 7, ""},
      {"enum of another enumeration", Enum(2, TypeIdOf<Tiny>()), 2, ""},
      {"unknown name", Text("A"), 0, "A is not a valid Color enumeration value for 'n'."},
      {"name in the wrong case", Text("blue"), 0,
       "blue is not a valid Color enumeration value for 'n'."},
      {"unlisted number text", Text("3"), 0, "3 is not a valid Color enumeration value for 'n'."},
      {"number text out of 32 bits", Text("99999999999"), 0,
       "99999999999 is not a valid Color enumeration value for 'n'."},
      {"unlisted signed", Signed(-3), 0, "-3 is not a valid Color enumeration value for 'n'."},
      {"unlisted enum number", Enum(9, TypeIdOf<Color>()), 0,
       "9 is not a valid Color enumeration value for 'n'."},
      {"float", Float(7.0), 0,
       "Couldn't assign value to 'n' of enum type because the input is of an invalid type "
       "float."},
      {"bool", Bool(true), 0,
       "Couldn't assign value to 'n' of enum type because the input is of an invalid type bool."},
      {"empty", BindingProperty(), 0, "A value for 'n' is required."},
  };
  for (const Case& c : cases) {
    Color out = Color::Green;
    const BindingResult result = ValueToNative(registry_, c.input, out, "n");
    EXPECT_EQ(result.ErrorText(), c.error) << c.desc;
    EXPECT_EQ(static_cast<int32_t>(out), c.value) << c.desc;
  }

  Tiny tiny = Tiny::High;
  EXPECT_TRUE(ValueToNative(registry_, Text("Low"), tiny, "n").ok());
  EXPECT_EQ(tiny, Tiny::Low) << "stored in one byte";
  Wide wide = Wide::Plus;
  EXPECT_TRUE(ValueToNative(registry_, Signed(-5), wide, "n").ok());
  EXPECT_EQ(static_cast<int64_t>(wide), -5) << "sign-extended into eight bytes";

  Unlisted unlisted = Unlisted::A;
  EXPECT_EQ(Fails(Text("A"), unlisted),
            "Couldn't assign value to 'n' because the input is an unregistered structure or not a "
            "structure at all.");
}

TEST_F(AssignScalars, EnumerationOfUnusualSizeIsLeftUnchanged) {
  BindingType odd;
  odd.name = "Odd";
  odd.isEnum = true;
  odd.size = 3;
  odd.values.emplace("One", BindingEnumValue{1, "One", "", &odd});
  unsigned char bytes[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  BindingResult result;
  AssignEnum(registry_, result, bytes, Text("One"), "n", &odd);
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(bytes[0], 0xAA);
  EXPECT_EQ(bytes[2], 0xAA);
}

// --- Records ---------------------------------------------------------------------------------

TEST_F(AssignRecords, RecordAssignsMembersByNameAndLeavesMissingOnesAlone) {
  BindingProperty input;
  input.memberAt("number").setString("0x20");
  input.memberAt("color").setString("Green");
  input.memberAt("inner").memberAt("label").setString("in");
  input.memberAt("inner").memberAt("x").setSigned(3);
  input.memberAt("blob").setString("YWJj");
  input.memberAt("colors").appendElement().setString("Blue");
  input.memberAt("unknown").setSigned(1);  // ignored
  input.memberAt("text");                  // empty: left alone
  Sample out;
  out.text = "kept";
  out.flag = true;
  const BindingResult result = ValueToNative(registry_, input, out, "sample");
  ASSERT_TRUE(result.ok()) << result.ErrorText();
  EXPECT_EQ(result.kind(), BindingPropertyKind::Empty) << "success leaves the result empty";
  EXPECT_EQ(out.number, 32);
  EXPECT_EQ(out.color, Color::Green);
  EXPECT_EQ(out.inner.x, 3);
  EXPECT_EQ(out.inner.label, "in");
  EXPECT_EQ(out.blob, (std::vector<uint8_t>{'a', 'b', 'c'}));
  EXPECT_EQ(out.colors, (std::vector<Color>{Color::Blue}));
  EXPECT_EQ(out.text, "kept");
  EXPECT_TRUE(out.flag);
}

TEST_F(AssignRecords, RecordFailuresNameTheRightPathAndType) {
  struct Case {
    const char* desc;
    BindingProperty input;
    const char* error;
  };
  BindingProperty badMember;
  badMember.memberAt("number").setString("x");
  BindingProperty badNested;
  badNested.memberAt("inner").memberAt("x").setString("y");
  BindingProperty nestedNotStructure;
  nestedNotStructure.memberAt("inner").setSigned(1);
  BindingProperty badElement;
  badElement.memberAt("inners").appendElement().memberAt("x").setBool(true);
  BindingProperty badColors;
  badColors.memberAt("colors").appendElement().setString("Purple");
  const Case cases[] = {
      {"empty input", BindingProperty(), "A value for 'sample' is required."},
      {"not a structure", Collection(),
       "Couldn't assign value to 'sample' of type Sample because the input not a structure."},
      {"member path is the member's own name", badMember,
       "Value x for 'number' of type int32 is in an incorrect format"},
      {"nested member path is not prefixed", badNested,
       "Value y for 'x' of type int32 is in an incorrect format"},
      {"nested record not a structure", nestedNotStructure,
       "Couldn't assign value to 'inner' of type Inner because the input not a structure."},
      {"record element of a vector", badElement,
       "Couldn't assign value to 'x' of type int32 because the input is of an invalid type bool."},
      {"enumeration element of a vector", badColors,
       "Purple is not a valid Color enumeration value for 'colors'."},
  };
  for (const Case& c : cases) {
    Sample out;
    EXPECT_EQ(Fails(c.input, out, "sample"), c.error) << c.desc;
  }
}

TEST_F(AssignRecords, RecordStopsAtFirstFailureInRegistrationOrder) {
  BindingProperty input;
  input.memberAt("alpha").setString("bad-alpha");
  input.memberAt("zeta").setString("bad-zeta");
  input.memberAt("needed").setSigned(1);
  Strict out;
  out.alpha = 5;
  EXPECT_EQ(Fails(input, out, "s"),
            "Value bad-zeta for 'zeta' of type int32 is in an incorrect format");
  EXPECT_EQ(out.alpha, 5) << "members after the failure are not touched";

  BindingProperty missing;
  missing.memberAt("zeta").setSigned(1);
  missing.memberAt("needed");  // present but empty counts as missing
  EXPECT_EQ(Fails(missing, out, "s"),
            "Couldn't assign value to 's' of type Strict because the input structure doesn't have "
            "required field 'needed'.");
}

TEST_F(AssignRecords, RecordMemberOfLateRegisteredTypeIsUnregistered) {
  BindingProperty input;
  input.memberAt("late").memberAt("value").setSigned(1);
  HoldsLate out;
  EXPECT_EQ(Fails(input, out, "h"),
            "Couldn't assign value to 'late' because the input is an unregistered structure or "
            "not a structure at all.");

  BindingResult result;
  AssignRecord(registry_, result, &out, input, "top", nullptr);
  EXPECT_EQ(result.ErrorText(),
            "Couldn't assign value to 'top' because the input is an unregistered structure or not "
            "a structure at all.");
}

TEST_F(AssignRecords, FailedResultMakesEveryOperationANoOp) {
  BindingResult result;
  result.SetError("first");
  int32_t number = 4;
  AssignInteger(result, number, Text("x"), "n");
  Sample sample;
  sample.number = 4;
  BindingProperty input;
  input.memberAt("number").setSigned(9);
  AssignRecord(registry_, result, &sample, input, "s", registry_.LookupType("Sample"));
  EXPECT_EQ(result.ErrorText(), "first");
  EXPECT_EQ(number, 4);
  EXPECT_EQ(sample.number, 4);

  // Vectors and maps are emptied even then.
  std::vector<int32_t> numbers = {1, 2};
  AssignVector(registry_, result, numbers, Collection(), "v", nullptr);
  EXPECT_TRUE(numbers.empty());
  std::unordered_map<std::string, int32_t> counts = {{"a", 1}};
  AssignMap(registry_, result, counts, Structure(), "m", nullptr);
  EXPECT_TRUE(counts.empty());
  EXPECT_EQ(result.ErrorText(), "first");
}

struct Wide70 {
  int32_t values[70] = {};
};

TEST_F(AssignRecords, WideRecordsAndCrowdedInputsMatchEveryMember) {
  // Many fields, names out of registration order, and a duplicate field name: both fields take
  // the same member.
  TypeBuilder builder = registry_.BeginType(sizeof(Wide70), "Wide70", TypeIdOf<Wide70>(), false);
  std::vector<std::string> names;
  for (int i = 0; i < 69; ++i) names.push_back("m" + std::to_string((i * 37) % 69));
  names.push_back("m5");
  for (int i = 0; i < 70; ++i) {
    AddTypedField<int32_t>(builder, names[i], static_cast<uint32_t>(i * sizeof(int32_t)));
  }
  BindingProperty input;
  for (int i = 0; i < 69; ++i) input.memberAt("m" + std::to_string(i)).setSigned(1000 + i);
  Wide70 out;
  ASSERT_TRUE(ValueToNative(registry_, input, out, "w").ok());
  for (int i = 0; i < 70; ++i) {
    EXPECT_EQ(out.values[i], 1000 + std::stoi(names[i].substr(1))) << names[i];
  }

  // An input with far more members than the record has fields.
  BindingProperty crowded;
  for (int i = 0; i < 500; ++i) crowded.memberAt("z" + std::to_string(i)).setSigned(i);
  crowded.memberAt("x").setSigned(8);
  crowded.memberAt("label").setString("crowded");
  Inner inner;
  ASSERT_TRUE(ValueToNative(registry_, crowded, inner, "i").ok());
  EXPECT_EQ(inner.x, 8);
  EXPECT_EQ(inner.label, "crowded");
}

// --- Vectors and maps ------------------------------------------------------------------------

TEST_F(AssignCollections, VectorsSizeToTheInputAndKeepDefaultsForEmptyElements) {
  BindingProperty input;
  input.appendElement().setSigned(1);
  input.appendElement();
  input.appendElement().setString("3");
  std::vector<int32_t> numbers = {7, 7, 7, 7, 7};
  ASSERT_TRUE(ValueToNative(registry_, input, numbers, "v").ok());
  EXPECT_EQ(numbers, (std::vector<int32_t>{1, 0, 3}));

  std::vector<bool> flags;
  BindingProperty bools;
  bools.appendElement().setBool(true);
  bools.appendElement();
  bools.appendElement().setString("1");
  ASSERT_TRUE(ValueToNative(registry_, bools, flags, "v").ok());
  EXPECT_EQ(flags, (std::vector<bool>{true, false, true}));

  std::vector<Inner> inners;
  BindingProperty records;
  records.appendElement().memberAt("x").setSigned(5);
  records.appendElement();
  ASSERT_TRUE(ValueToNative(registry_, records, inners, "v").ok());
  ASSERT_EQ(inners.size(), 2u);
  EXPECT_EQ(inners[0].x, 5);
  EXPECT_EQ(inners[1].x, 0);
}

TEST_F(AssignCollections, VectorFailuresCarryTheVectorPath) {
  std::vector<int32_t> numbers;
  EXPECT_EQ(Fails(Structure(), numbers, "list"),
            "Couldn't assign value to 'list' of type vector because the input not a collection.");
  EXPECT_EQ(Fails(BindingProperty(), numbers, "list"),
            "Couldn't assign value to 'list' of type vector because the input not a collection.");
  std::vector<bool> flags;
  EXPECT_EQ(Fails(BindingProperty(), flags, "list"), "A value for 'list' is required.");

  BindingProperty input;
  input.appendElement().setSigned(1);
  input.appendElement().setString("x");
  input.appendElement().setString("y");
  EXPECT_EQ(Fails(input, numbers, "list"),
            "Value x for 'list' of type int32 is in an incorrect format");
  EXPECT_EQ(numbers[0], 1);
  EXPECT_EQ(numbers[2], 0) << "elements after the failure are not assigned";
}

TEST_F(AssignCollections, MapsAssignMembersInNameOrder) {
  BindingProperty input;
  input.memberAt("b").setSigned(2);
  input.memberAt("a").setSigned(1);
  input.memberAt("skip");
  std::unordered_map<std::string, int32_t> counts = {{"old", 9}};
  ASSERT_TRUE(ValueToNative(registry_, input, counts, "m").ok());
  EXPECT_EQ(counts, (std::unordered_map<std::string, int32_t>{{"a", 1}, {"b", 2}}))
      << "cleared first; empty members create no key";

  BindingProperty bad;
  bad.memberAt("b").setString("y");
  bad.memberAt("a").setString("x");
  EXPECT_EQ(Fails(bad, counts, "m"), "Value x for 'm' of type int32 is in an incorrect format")
      << "a comes before b";
  EXPECT_EQ(counts.count("b"), 0u);
  EXPECT_EQ(Fails(Collection(), counts, "m"),
            "Couldn't assign value to 'm' of type map because the input not a structure.");
}

TEST_F(AssignCollections, ValuesOfVectorsAndMapsShareOneArena) {
  BindingProperty input;
  for (uint64_t i = 0; i < 3; ++i) {
    BindingProperty& answer = input.appendElement();
    answer.memberAt("questionId").setUnsigned(i);
    answer.memberAt("value").setString(i == 1 ? "other" : "same");
  }
  input.appendElement().setSigned(7);
  input.appendElement();
  input.appendElement().setString("same");
  std::vector<BindingProperty> answers;
  ASSERT_TRUE(ValueToNative(registry_, input, answers, "v").ok());
  ASSERT_EQ(answers.size(), 6u);
  BindingArena* const shared = answers[0].arena();
  ASSERT_NE(shared, nullptr);
  for (std::size_t i : {1u, 2u, 5u}) EXPECT_EQ(answers[i].arena(), shared) << i;
  EXPECT_EQ(answers[3].arena(), nullptr) << "a scalar needs no arena";
  EXPECT_EQ(answers[3].asSigned(), 7);
  EXPECT_EQ(answers[4].kind(), BindingPropertyKind::Empty);
  EXPECT_EQ(shared->RootCount(), 4u);
  EXPECT_EQ(answers[2].member("value").asString().data(), answers[5].asString().data());
  answers[1].reset();
  for (uint64_t i : {0u, 2u}) {
    EXPECT_EQ(answers[i].member("questionId").asUnsigned(), i);
    EXPECT_EQ(answers[i].member("value").asString(), "same");
  }

  // In a map as well; a large value (more than 64 nodes) keeps an arena of its own, so that it
  // is freed at once rather than record by record.
  BindingProperty members;
  members.memberAt("b").memberAt("deep").setString("text");
  members.memberAt("a").setString("text");
  members.memberAt("n").setFloat(0.5);
  for (int i = 0; i < 64; ++i) members.memberAt("large").appendElement().setSigned(i);
  std::unordered_map<std::string, BindingProperty> data;
  ASSERT_TRUE(ValueToNative(registry_, members, data, "m").ok());
  ASSERT_EQ(data.size(), 4u);
  EXPECT_EQ(data["a"].arena(), data["b"].arena());
  EXPECT_EQ(data["a"].asString().data(), data["b"].member("deep").asString().data());
  EXPECT_EQ(data["a"].arena()->RootCount(), 2u);
  EXPECT_EQ(data["n"].asFloat(), 0.5);
  EXPECT_EQ(data["large"].arena()->RootCount(), 1u);
  EXPECT_EQ(data["large"].element(63).asSigned(), 63);
}

TEST_F(AssignCollections, ManySmallValuesCostTheirRecordsNotAnArenaEach) {
  constexpr uint64_t kAnswers = 2000;
  BindingProperty input;
  for (uint64_t i = 0; i < kAnswers; ++i) {
    BindingProperty& answer = input.appendElement();
    answer.memberAt("questionId").setUnsigned(i);
    answer.memberAt("value").setUnsigned(i % 5);
  }
  const uint64_t liveBefore = base::LiveBytes(base::GetAllocationStats());
  const std::size_t pagesBefore = PageCache::Instance().GetStats().pagesInUse;
  {
    std::vector<BindingProperty> answers;
    ASSERT_TRUE(ValueToNative(registry_, input, answers, "v").ok());
    const uint64_t bytes =
        base::LiveBytes(base::GetAllocationStats()) - liveBefore +
        (PageCache::Instance().GetStats().pagesInUse - pagesBefore) * PageCache::kPageSize;
    // An answer's node in the vector, its map and two members: some 240 bytes.
    EXPECT_LT(bytes / kAnswers, 300u);
    EXPECT_EQ(answers[kAnswers - 1].member("questionId").asUnsigned(), kAnswers - 1);
  }
  EXPECT_EQ(base::LiveBytes(base::GetAllocationStats()), liveBefore);
  EXPECT_EQ(PageCache::Instance().GetStats().pagesInUse, pagesBefore);
}

// --- Members routed through converters -------------------------------------------------------

class RecordingConverter final : public BindingFieldConverter {
 public:
  explicit RecordingConverter(int* calls) : calls_(calls) {}
  void FromValue(BindingResult& result, void* member, const BindingProperty& input, const char*,
                 const BindingType*, const BindingRegistry&) const override {
    ++*calls_;
    *static_cast<int32_t*>(member) = static_cast<int32_t>(input.size()) + 1000;
    (void)result;
  }
  void ToValue(BindingResult& result, const void*, const BindingType*,
               const BindingRegistry&) const override {
    result = BindingResult();
    result.setString("converted");
  }

 private:
  int* calls_;
};

struct Routed {
  int32_t optionalMember = 0;
  int32_t callback = 0;
  std::vector<int32_t> rawNumbers;
};

TEST_F(AssignConverters, OptionalAndCallbackMembersGoThroughTheirConverter) {
  int calls = 0;
  TypeBuilder builder = registry_.BeginType(sizeof(Routed), "Routed", TypeIdOf<Routed>(), false);
  builder.AddField("optionalMember", "", MemberOffset(&Routed::optionalMember), TypeIdOf<int32_t>(),
                   BindingTypeRef{BindingTypeKind::Int32, BindingTypeKind::None, nullptr}, 0,
                   std::make_unique<RecordingConverter>(&calls), true);
  builder.AddField("callback", "", MemberOffset(&Routed::callback), TypeIdOf<int32_t>(),
                   BindingTypeRef{BindingTypeKind::Callback, BindingTypeKind::None, nullptr}, 0,
                   std::make_unique<RecordingConverter>(&calls), false);
  // A vector of a leaf kind needs no converter.
  builder.AddField("rawNumbers", "", MemberOffset(&Routed::rawNumbers), nullptr,
                   BindingTypeRef{BindingTypeKind::Vector, BindingTypeKind::Int32, nullptr}, 0,
                   nullptr, false);
  BindingProperty input;
  input.memberAt("optionalMember").setString("abc");
  input.memberAt("callback").setString("ab");
  input.memberAt("rawNumbers").appendElement().setSigned(4);
  Routed out;
  ASSERT_TRUE(ValueToNative(registry_, input, out, "r").ok());
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(out.optionalMember, 1003);
  EXPECT_EQ(out.callback, 1002);
  EXPECT_EQ(out.rawNumbers, (std::vector<int32_t>{4}));
}

}  // namespace
}  // namespace vyn::binding::assign_test
