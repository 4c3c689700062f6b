// JSON writing, reading, error texts (text that is not UTF-8 among them) and the value walk.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingRegistry.h"
#include "binding/BindingTypeId.h"
#include "formats/Json.h"

namespace vyn::formats {
namespace {

using binding::BindingEnum;
using binding::BindingProperty;
using binding::BindingPropertyKind;
using binding::BindingRegistry;
using binding::BindingResult;

enum class JsonTestColor : int32_t { Red = 1, Green = 2 };

const binding::BindingTypeId* ColorId() { return binding::TypeIdOf<JsonTestColor>(); }

void RegisterColor(BindingRegistry& registry) {
  registry.BeginType(sizeof(JsonTestColor), "VynJsonTestColor", ColorId(), true)
      .AddEnumValue("Red", 1, "")
      .AddEnumValue("Green", 2, "");
}

// Runs `work` on a thread whose stack is far too small for a walk that recursed once per level.
void RunOnSmallStack(const std::function<void()>& work) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  pthread_t thread;
  auto body = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, body, const_cast<std::function<void()>*>(&work)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

// A collection nested `depth` levels deep whose innermost collection holds the number 7.
void MakeDeepCollection(BindingProperty& root, std::size_t depth) {
  BindingProperty* node = &root;
  for (std::size_t i = 1; i < depth; ++i) node = &node->elementAt(0);
  node->elementAt(0).setUnsigned(7);
}

std::string Nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

// --- Writing -------------------------------------------------------------------------------

struct WriteCase {
  const char* desc;
  std::function<void(BindingProperty&)> fill;
  std::string json;
};

TEST(JsonWriterCompact, WritesEachKind) {
  const std::vector<WriteCase> cases = {
      {"empty root: empty text, not null", [](BindingProperty&) {}, ""},
      {"empty inside containers: null",
       [](BindingProperty& v) {
         v.memberAt("a");
         v.memberAt("b").elementAt(1);
       },
       R"({"a":null,"b":[null,null]})"},
      {"members in name order",
       [](BindingProperty& v) {
         v.memberAt("b").setBool(true);
         v.memberAt("a").setBool(false);
         v.memberAt("B").setSigned(-1);
       },
       R"({"B":-1,"a":false,"b":true})"},
      {"largest unsigned: 20 digits",
       [](BindingProperty& v) { v.setUnsigned(std::numeric_limits<uint64_t>::max()); },
       "18446744073709551615"},
      {"smallest signed: sign and 19 digits",
       [](BindingProperty& v) { v.setSigned(std::numeric_limits<int64_t>::min()); },
       "-9223372036854775808"},
      {"empty containers",
       [](BindingProperty& v) {
         v.elementAt(0).makeCollection();
         v.elementAt(1).makeStructure();
       },
       "[[],{}]"},
      {"string escapes: quote, backslash, short forms, \\u00XX upper-case; slash and UTF-8 kept",
       [](BindingProperty& v) {
         v.setString(std::string_view("\"\\/\b\t\n\f\r\x01\x1f\x7f\xc3\xa9", 13));
       },
       "\"\\\"\\\\/\\b\\t\\n\\f\\r\\u0001\\u001F\x7f\xc3\xa9\""},
      {"embedded NUL in a string and a name",
       [](BindingProperty& v) {
         v.memberAt(std::string_view("k\0", 2)).setString(std::string_view("a\0b", 3));
       },
       R"({"k\u0000":"a\u0000b"})"},
      {"blob: Base64 string",
       [](BindingProperty& v) {
         v.setBlob(std::vector<uint8_t>{'a', 'b', 'c'});
       },
       R"("YWJj")"},
      {"empty blob: empty string", [](BindingProperty& v) { v.setBlob(std::vector<uint8_t>{}); },
       R"("")"},
      {"enum without registry: number",
       [](BindingProperty& v) {
         v.setEnum(BindingEnum{-3, ColorId()});
       },
       "-3"},
  };
  for (const WriteCase& c : cases) {
    BindingProperty value;
    c.fill(value);
    EXPECT_EQ(ToJson(value, nullptr, nullptr), c.json) << c.desc;
    EXPECT_EQ(ToJson(value, nullptr, ""), c.json) << c.desc << " (empty newline)";
  }
}

TEST(JsonWriterCompact, WritesShortestDoubles) {
  const struct {
    double value;
    const char* json;
  } cases[] = {
      {1.0, "1.0"},           {0.0, "0.0"},
      {-0.0, "-0.0"},         {1e21, "1e21"},
      {1e-7, "1e-7"},         {1.5e-7, "1.5e-7"},
      {0.000001, "0.000001"}, {0.1, "0.1"},
      {-2.5, "-2.5"},         {1e20, "100000000000000000000.0"},
      {5e-324, "5e-324"},     {1.7976931348623157e308, "1.7976931348623157e308"},
  };
  for (const auto& c : cases) {
    BindingProperty value;
    value.setFloat(c.value);
    EXPECT_EQ(ToJson(value, nullptr, nullptr), c.json) << c.json;
  }
}

TEST(JsonWriterCompact, WritesNonFiniteFloatsAsNull) {
  BindingProperty value;
  value.elementAt(0).setFloat(1.5);
  value.elementAt(1).setFloat(std::nan(""));
  value.elementAt(2).setFloat(std::numeric_limits<double>::infinity());
  value.elementAt(3).setFloat(-std::numeric_limits<double>::infinity());
  const std::string json = ToJson(value, nullptr, nullptr);
  EXPECT_EQ(json, "[1.5,null,null,null]");
  EXPECT_TRUE(ParseJson(json).ok()) << "the text stays valid JSON";

  BindingProperty root;
  root.setFloat(std::nan(""));
  EXPECT_EQ(ToJson(root, nullptr, nullptr), "null");
}

TEST(JsonWriterCompact, NamesEnumsThroughTheRegistry) {
  BindingRegistry registry;
  RegisterColor(registry);
  BindingProperty value;
  value.elementAt(0).setEnum(BindingEnum{2, ColorId()});
  value.elementAt(1).setEnum(BindingEnum{5, ColorId()});  // no enumerator with that number
  value.elementAt(2).setEnum(BindingEnum{1, nullptr});    // no type
  EXPECT_EQ(ToJson(value, &registry, nullptr), R"(["Green",5,1])");
  EXPECT_EQ(ToJson(value, nullptr, nullptr), "[2,5,1]");
}

TEST(JsonWriterPretty, WritesCrLfLinesWithFourBlanks) {
  BindingProperty value;
  value.memberAt("a").elementAt(0).setUnsigned(1);
  value.memberAt("a").elementAt(1).setUnsigned(2);
  EXPECT_EQ(ToJson(value, nullptr, "\r\n"),
            "{\r\n    \"a\": [\r\n        1,\r\n        2\r\n    ]\r\n}");
  EXPECT_EQ(ToJson(value, nullptr, "\n"), "{\n    \"a\": [\n        1,\n        2\n    ]\n}");
}

TEST(JsonWriterPretty, KeepsEmptyContainersOnOneLineAndEscapedBreaksInStrings) {
  BindingProperty value;
  value.memberAt("e").makeCollection();
  value.memberAt("o").makeStructure();
  value.memberAt("s").setString("x\ny");
  EXPECT_EQ(ToJson(value, nullptr, "\r\n"),
            "{\r\n    \"e\": [],\r\n    \"o\": {},\r\n    \"s\": \"x\\ny\"\r\n}");
  BindingProperty scalar;
  scalar.setSigned(-4);
  EXPECT_EQ(ToJson(scalar, nullptr, "\r\n"), "-4");
}

TEST(JsonWriterPretty, AnyNewlineTextStandsForEachLineBreak) {
  BindingProperty value;
  value.memberAt("text").setString("line\nbreak \"quoted\"");
  value.memberAt("empty").makeStructure();
  BindingProperty& list = value.memberAt("list");
  for (std::size_t i = 0; i < 300; ++i) {
    BindingProperty& element = list.elementAt(i);
    element.memberAt("n").setFloat(0.5 * static_cast<double>(i));
    element.memberAt("deep").elementAt(0).memberAt("s").setString(std::string(i % 40, 'x'));
  }
  const std::string plain = ToJson(value, nullptr, "\n");
  for (const char* newline : {"\r\n", "\r", "\n\n", "<br/>", "--a newline text of some length--"}) {
    std::string expected;
    for (const char c : plain) {
      if (c == '\n') {
        expected += newline;
      } else {
        expected += c;
      }
    }
    EXPECT_EQ(ToJson(value, nullptr, newline), expected) << newline;
  }
}

TEST(JsonWriterBounded, WritesWithinTheBoundAndGivesUpPastIt) {
  BindingProperty value;
  value.memberAt("a").elementAt(2).memberAt("b").setString("text");
  value.memberAt("c").setFloat(1.5);
  for (const char* newline : {"", "\n", "\r\n"}) {
    const std::string whole = ToJson(value, nullptr, newline);
    std::string out;
    EXPECT_TRUE(ToJson(value, nullptr, newline, whole.size(), out)) << newline;
    EXPECT_EQ(out, whole) << newline;
    EXPECT_FALSE(ToJson(value, nullptr, newline, whole.size() - 1, out)) << newline;
  }
  std::string out = "old";
  EXPECT_TRUE(ToJson(BindingProperty(), nullptr, "\n", 0, out));
  EXPECT_EQ(out, "");

  // A pretty text grows with the square of the nesting; the bound ends the walk near it, long
  // before the whole text (megabytes here) exists.
  BindingProperty nested;
  BindingProperty* node = &nested;
  for (int i = 0; i < 1000; ++i) node = &node->elementAt(0);
  node->setSigned(1);
  EXPECT_GT(ToJson(nested, nullptr, "\r\n").size(), std::size_t{3} << 20);
  EXPECT_FALSE(ToJson(nested, nullptr, "\r\n", 4096, out));
}

// --- Reading -------------------------------------------------------------------------------

TEST(JsonReaderValues, ReadsNumbersByTheirForm) {
  const struct {
    const char* text;
    BindingPropertyKind kind;
    double number;  // compared after conversion to double for the numeric kinds
  } cases[] = {
      {"5", BindingPropertyKind::Unsigned, 5},
      {"-5", BindingPropertyKind::Signed, -5},
      {"-0", BindingPropertyKind::Signed, 0},
      {"5.0", BindingPropertyKind::Float, 5},
      {"1e2", BindingPropertyKind::Float, 100},
      {"4294967296", BindingPropertyKind::Unsigned, 4294967296.0},
      {"-2147483649", BindingPropertyKind::Signed, -2147483649.0},
      {"18446744073709551616", BindingPropertyKind::Float, 18446744073709551616.0},
      {"-9223372036854775809", BindingPropertyKind::Float, -9223372036854775808.0},
  };
  for (const auto& c : cases) {
    const BindingResult result = ParseJson(c.text);
    ASSERT_TRUE(result.ok()) << c.text << ": " << result.ErrorText();
    EXPECT_EQ(result.kind(), c.kind) << c.text;
    double got = 0;
    switch (result.kind()) {
      case BindingPropertyKind::Unsigned:
        got = static_cast<double>(result.asUnsigned());
        break;
      case BindingPropertyKind::Signed:
        got = static_cast<double>(result.asSigned());
        break;
      default:
        got = result.asFloat();
        break;
    }
    EXPECT_EQ(got, c.number) << c.text;
  }
  EXPECT_EQ(ParseJson("18446744073709551615").asUnsigned(), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(ParseJson("-9223372036854775808").asSigned(), std::numeric_limits<int64_t>::min());
  EXPECT_TRUE(std::signbit(ParseJson("-0.0").asFloat(1)));
}

TEST(JsonReaderValues, BuildsTreesWithStringsAndEscapes) {
  const BindingResult result =
      ParseJson(R"( {"s":"a\"\u00e9\ud83d\ude00\u0000z","t":true,"f":false,"n":null,)"
                R"("l":[1,[],{}],"o":{"x":-1}} )");
  ASSERT_TRUE(result.ok()) << result.ErrorText();
  EXPECT_EQ(result.member("s").asString(), std::string_view("a\"\xc3\xa9\xf0\x9f\x98\x80\0z", 10));
  EXPECT_TRUE(result.member("t").asBool(false));
  EXPECT_EQ(result.member("f").kind(), BindingPropertyKind::Bool);
  EXPECT_EQ(result.member("n").kind(), BindingPropertyKind::Empty);
  EXPECT_EQ(result.size(), 6u);
  EXPECT_EQ(result.member("l").size(), 3u);
  EXPECT_EQ(result.member("l").element(1).kind(), BindingPropertyKind::Collection);
  EXPECT_EQ(result.member("l").element(2).kind(), BindingPropertyKind::Structure);
  EXPECT_EQ(result.member("o").member("x").asSigned(), -1);
}

TEST(JsonReaderValues, KeepsWellFormedUtf8AndWhatEscapesEncode) {
  const struct {
    const char* desc;
    const char* text;
    std::string_view value;
  } cases[] = {
      {"two, three and four bytes", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"",
       "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"largest code point", "\"\xF4\x8F\xBF\xBF\"", "\xF4\x8F\xBF\xBF"},
      {"last before the surrogates, raw", "\"\xED\x9F\xBF\"", "\xED\x9F\xBF"},
      {"last before the surrogates, escaped", R"("\uD7FF")", "\xED\x9F\xBF"},
      {"first after the surrogates", R"("\uE000")", "\xEE\x80\x80"},
      {"largest BMP code point", R"("\uFFFF")", "\xEF\xBF\xBF"},
      {"largest pair", R"("\uDBFF\uDFFF")", "\xF4\x8F\xBF\xBF"},
      {"NUL", R"("a\u0000b")", std::string_view("a\0b", 3)},
      {"an escaped backslash before u is no escape", R"("\\uDC00")", "\\uDC00"},
      {"pair after an escaped quote", R"("\"\uD83D\uDE00")", "\"\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    const BindingResult result = ParseJson(c.text);
    ASSERT_TRUE(result.ok()) << c.desc << ": " << result.ErrorText();
    EXPECT_EQ(result.asString(), c.value) << c.desc;
    const BindingResult key = ParseJson("{" + std::string(c.text) + ":1}");
    ASSERT_TRUE(key.ok()) << c.desc << ": " << key.ErrorText();
    EXPECT_EQ(key.member(c.value).asUnsigned(), 1u) << c.desc;
  }
}

TEST(JsonReaderValues, LastDuplicateMemberWinsWhole) {
  const struct {
    const char* text;
    const char* json;  // what the structure writes back
  } cases[] = {
      {R"({"a":1,"a":2})", R"({"a":2})"},
      {R"({"a":[1,2],"a":[3]})", R"({"a":[3]})"},
      {R"({"a":{"x":1},"a":{"y":2}})", R"({"a":{"y":2}})"},
      {R"({"a":1,"a":null})", R"({"a":null})"},
  };
  for (const auto& c : cases) {
    const BindingResult result = ParseJson(c.text);
    ASSERT_TRUE(result.ok()) << c.text;
    EXPECT_EQ(result.size(), 1u) << c.text;
    EXPECT_EQ(ToJson(result, nullptr, nullptr), c.json) << c.text;
  }
}

TEST(JsonReaderValues, BlankTextIsAnEmptyValue) {
  for (const char* text : {"", "   ", " \t\r\n ", static_cast<const char*>(nullptr)}) {
    const BindingResult result = ParseJson(text);
    EXPECT_TRUE(result.ok()) << (text ? text : "(null)");
    EXPECT_EQ(result.kind(), BindingPropertyKind::Empty);
  }
  EXPECT_TRUE(ParseJson(std::string("  \n")).ok());
  EXPECT_TRUE(ParseJson(nullptr, 12).ok());
  EXPECT_EQ(ParseJson("null").kind(), BindingPropertyKind::Empty);
  // Only the four JSON blanks count; a form feed is not one.
  EXPECT_FALSE(ParseJson(" \f ").ok());
}

TEST(JsonReaderValues, LengthFormsReadExactlyTheirBytes) {
  const char buffer[] = "[1]]]";  // only the first three bytes are the text
  const BindingResult exact = ParseJson(buffer, 3);
  ASSERT_TRUE(exact.ok()) << exact.ErrorText();
  EXPECT_EQ(exact.element(0).asUnsigned(), 1u);
  EXPECT_EQ(ParseJson(buffer, 2).ErrorText(),
            "Error: Missing a comma or ']' after an array element. at offset 2.");
  EXPECT_EQ(ParseJson(buffer, 5).ErrorText(),
            "Error: The document root must not be followed by other values. at offset 3.");

  // A counted terminator is fine; text hidden behind a NUL is not dropped unseen.
  EXPECT_TRUE(ParseJson("[1] \0\0", 6).ok());
  EXPECT_TRUE(ParseJson(std::string("{}\0", 3)).ok());
  EXPECT_TRUE(ParseJson(" \0", 2).ok());
  EXPECT_EQ(ParseJson(std::string("[1]\0[2]", 7)).ErrorText(),
            "Error: The document root must not be followed by other values. at offset 3.");
  EXPECT_EQ(ParseJson("{}\0x", 4).ErrorText(),
            "Error: The document root must not be followed by other values. at offset 2.");
  // The NUL-terminated form ends at the NUL, as C text does.
  EXPECT_TRUE(ParseJson(static_cast<const char*>("[1]\0[2]")).ok());
}

TEST(JsonReaderErrors, ReportsRapidJsonTextAndOffset) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {R"({"a":})", "Error: Invalid value. at offset 5."},
      {"[1,]", "Error: Invalid value. at offset 3."},
      {"[1] 2", "Error: The document root must not be followed by other values. at offset 4."},
      {"  nul", "Error: Invalid value. at offset 5."},
      {"{1:2}", "Error: Missing a name for object member. at offset 1."},
      {R"({"a" 1})", "Error: Missing a colon after a name of object member. at offset 5."},
      {R"({"a":1 "b":2})", "Error: Missing a comma or '}' after an object member. at offset 7."},
      {"[1 2]", "Error: Missing a comma or ']' after an array element. at offset 3."},
      {R"("\u12G4")", "Error: Incorrect hex digit after \\u escape in string. at offset 1."},
      {R"("\ud800x")", "Error: The surrogate pair in string is invalid. at offset 1."},
      {R"("\x")", "Error: Invalid escape character in string. at offset 1."},
      {R"("abc)", "Error: Missing a closing quotation mark in string. at offset 4."},
      {"\"a\x01\"", "Error: Invalid escape character in string. at offset 2."},
      {"1e400", "Error: Number too big to be stored in double. at offset 0."},
      {"[1.]", "Error: Miss fraction part in number. at offset 3."},
      {"1e", "Error: Miss exponent in number. at offset 2."},
      {"// c\n1", "Error: Invalid value. at offset 0."},
      {"[NaN]", "Error: Invalid value. at offset 1."},
      {"{", "Error: Missing a name for object member. at offset 1."},
      // Strings and member names must be well-formed UTF-8: the offset is that of the first byte
      // of the sequence that is not.
      {"\"\xFF\xFE\"", "Error: Invalid encoding in string. at offset 1."},
      {"[\"ok\",\"ab\xFF\"]", "Error: Invalid encoding in string. at offset 9."},
      {"\"\xC0\x80\"", "Error: Invalid encoding in string. at offset 1."},
      {"\"\xE0\x80\x80\"", "Error: Invalid encoding in string. at offset 1."},
      {"\"\xF0\x80\x80\x80\"", "Error: Invalid encoding in string. at offset 1."},
      {"\"\xED\xA0\x80\"", "Error: Invalid encoding in string. at offset 1."},
      {"\"\xF4\x90\x80\x80\"", "Error: Invalid encoding in string. at offset 1."},
      {"\"\x80\"", "Error: Invalid encoding in string. at offset 1."},
      {"\"\xC3\"", "Error: Invalid encoding in string. at offset 1."},
      {"\"a\xE2\x82\"", "Error: Invalid encoding in string. at offset 2."},
      {"\"\xF1\x80\"", "Error: Invalid encoding in string. at offset 1."},
      {"\"\xC3\\u00e9\"", "Error: Invalid encoding in string. at offset 1."},
      {"\"\\u00e9\x80\"", "Error: Invalid encoding in string. at offset 7."},
      {"\"\\n\\t\\u0041\\uD83D\\uDE00\\u20AC\xFF\"",
       "Error: Invalid encoding in string. at offset 29."},
      {"{\"a\":1,\"\xFF\":2}", "Error: Invalid encoding in string. at offset 8."},
      {"[1,\xFF]", "Error: Invalid value. at offset 3."},
      // A low surrogate escape that follows no high one is refused like a high one that has no
      // low one after it, at the offset of its backslash.
      {R"("\udc00")", "Error: The surrogate pair in string is invalid. at offset 1."},
      {R"(["x","a\\\"\uDFFF"])", "Error: The surrogate pair in string is invalid. at offset 11."},
      {R"("\uD83D\uDE00\uDC00")", "Error: The surrogate pair in string is invalid. at offset 13."},
      {R"({"a":1,"\uDC00":2})", "Error: The surrogate pair in string is invalid. at offset 8."},
      {R"([[{"\\":"\uDC00b"}]])", "Error: The surrogate pair in string is invalid. at offset 9."},
      {R"("\uD800\uD800")", "Error: The surrogate pair in string is invalid. at offset 1."},
  };
  for (const auto& c : cases) {
    const BindingResult result = ParseJson(c.text);
    EXPECT_FALSE(result.ok()) << c.text;
    EXPECT_EQ(result.ErrorText(), c.message) << c.text;
    // The failed result holds only the message: nothing built so far survives.
    EXPECT_EQ(result.size(), 1u) << c.text;
    EXPECT_EQ(ParseJson(std::string(c.text)).ErrorText(), c.message) << c.text << " (string)";
  }
}

TEST(JsonReaderErrors, TextEndingInsideASequenceIsNotReadPastItsEnd) {
  // Heap buffers of exactly the text and its terminator, so that a read beyond is caught. The
  // string is not closed, and that is what is reported.
  for (const std::string text : {"\"\xC3", "\"\xE1", "\"\xF1", "\"\xF1\x80", "\"\xF1\x80\x80"}) {
    const std::string message = "Error: Missing a closing quotation mark in string. at offset " +
                                std::to_string(text.size()) + ".";
    const std::unique_ptr<char[]> terminated(new char[text.size() + 1]);
    std::memcpy(terminated.get(), text.c_str(), text.size() + 1);
    EXPECT_EQ(ParseJson(terminated.get()).ErrorText(), message);
    const std::unique_ptr<char[]> exact(new char[text.size()]);
    std::memcpy(exact.get(), text.data(), text.size());
    EXPECT_EQ(ParseJson(exact.get(), text.size()).ErrorText(), message);
    EXPECT_EQ(ParseJson(text).ErrorText(), message);
  }
}

TEST(JsonReaderErrors, RefusesNestingBeyondTheLimit) {
  const BindingResult atLimit = ParseJson(Nested(kMaxJsonDepth));
  EXPECT_TRUE(atLimit.ok()) << atLimit.ErrorText();
  const BindingResult beyond = ParseJson(Nested(kMaxJsonDepth + 1));
  EXPECT_EQ(beyond.ErrorText(), "Error: Terminate parsing due to Handler error. at offset " +
                                    std::to_string(kMaxJsonDepth + 1) + ".");
  std::string objects;
  for (std::size_t i = 0; i < 100000; ++i) objects += R"({"a":)";
  EXPECT_EQ(ParseJson(objects).ErrorText(),
            "Error: Terminate parsing due to Handler error. at offset " +
                std::to_string(5 * kMaxJsonDepth + 1) + ".");
}

TEST(JsonLooksLikeJson, ChecksTheFirstNonBlankByte) {
  const struct {
    const char* text;
    bool json;
  } cases[] = {
      {"{}", true},    {"  [1]", true}, {"   {", true}, {"", false},      {"   ", false},
      {"\t{}", false}, {"\n[", false},  {"1", false},   {"\"{\"", false}, {"x{", false},
  };
  for (const auto& c : cases) EXPECT_EQ(LooksLikeJson(c.text), c.json) << '"' << c.text << '"';
}

TEST(JsonRoundTrip, ParsedTextWritesBackUnchanged) {
  const char* texts[] = {
      R"({"a":[1,-2,3.5,"x",true,null],"b":{"c":{}},"d":[]})",
      R"([18446744073709551615,-9223372036854775808,1e-7,0.0,-0.0])",
  };
  for (const char* text : texts) {
    const BindingResult result = ParseJson(text);
    ASSERT_TRUE(result.ok()) << text;
    EXPECT_EQ(ToJson(result, nullptr, nullptr), text);
  }
}

// --- The walk ------------------------------------------------------------------------------

class RecordingVisitor : public ValueVisitor {
 public:
  std::string log;
  bool VisitEmpty() override { return Add("E"); }
  bool VisitBool(bool v) override { return Add(v ? "T" : "F"); }
  bool VisitSigned(int64_t v) override { return Add("S" + std::to_string(v)); }
  bool VisitUnsigned(uint64_t v) override { return Add("U" + std::to_string(v)); }
  bool VisitFloat(double v) override { return Add("D" + std::to_string(static_cast<int>(v))); }
  bool VisitString(std::string_view t) override { return Add("'" + std::string(t) + "'"); }
  bool VisitBlob(std::span<const uint8_t> b) override {
    return Add("B" + std::to_string(b.size()));
  }
  bool VisitEnum(const BindingEnum& e) override { return Add("N" + std::to_string(e.number)); }
  bool BeginCollection(uint32_t n) override { return Add("[" + std::to_string(n)); }
  bool BeginElement(uint32_t i) override { return Add("<" + std::to_string(i)); }
  bool EndElement(uint32_t i) override { return Add(std::to_string(i) + ">"); }
  bool EndCollection() override { return Add("]"); }
  bool BeginStructure(uint32_t n) override { return Add("{" + std::to_string(n)); }
  bool BeginMember(std::string_view name) override { return Add("(" + std::string(name)); }
  bool EndMember(std::string_view name) override { return Add(std::string(name) + ")"); }
  bool EndStructure() override { return Add("}"); }

 private:
  bool Add(const std::string& event) {
    log += log.empty() ? event : " " + event;
    return false;  // the walk must not stop on a refusal
  }
};

TEST(JsonVisitValue, CallsInDepthFirstOrder) {
  BindingProperty value;
  value.memberAt("b").elementAt(0).setSigned(-1);
  value.memberAt("b").elementAt(1).makeStructure();
  value.memberAt("a").setBlob(std::vector<uint8_t>{1, 2});
  value.memberAt("c").setEnum(BindingEnum{4, nullptr});
  value.memberAt("d").setFloat(2.0);
  value.memberAt("e").setString("s");
  value.memberAt("f");
  RecordingVisitor visitor;
  VisitValue(value, visitor);
  EXPECT_EQ(visitor.log,
            "{6 (a B2 a) (b [2 <0 S-1 0> <1 {0 } 1> ] b) (c N4 c) (d D2 d) (e 's' e) (f E f) }");
}

TEST(JsonVisitValue, WalksVeryDeepTreesWithoutRecursion) {
  constexpr std::size_t kDepth = 20000;  // far deeper than the reader accepts
  BindingProperty value;
  MakeDeepCollection(value, kDepth);
  std::size_t begins = 0;
  std::string json;
  RunOnSmallStack([&] {
    struct Counter : ValueVisitor {
      std::size_t* begins;
      bool BeginCollection(uint32_t) override { return ++*begins, true; }
    } counter;
    counter.begins = &begins;
    VisitValue(value, counter);
    json = ToJson(value, nullptr, nullptr);
  });
  EXPECT_EQ(begins, kDepth);
  EXPECT_EQ(json, std::string(kDepth, '[') + "7" + std::string(kDepth, ']'));
}

}  // namespace
}  // namespace vyn::formats
