// JSON writing (compact, pretty, bounded), reading with its error texts and offsets; the walk is
// checked by every value text (ValueText.h).
#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "ValueText.h"
#include "binding/BindingRegistry.h"
#include "binding/BindingTypeId.h"
#include "formats/Json.h"

namespace vyn::formats {
namespace {

using binding::BindingEnum;
using binding::BindingProperty;
using binding::BindingResult;
using std::string_view_literals::operator""sv;

enum class JsonTestColor : int32_t { Red = 1, Green = 2 };
const binding::BindingTypeId* ColorId() { return binding::TypeIdOf<JsonTestColor>(); }

TEST(JsonWriter, WritesEachKindCompactly) {
  // Read, then written: members in name order, escapes, the 64-bit extremes, shortest doubles.
  EXPECT_EQ(ToJson(ParseJson(""), nullptr, nullptr), "");
  const BindingResult read =
      ParseJson(R"({"b":[null,[],{}],"k\u0000":"a\u0000b","B":-1,"a":[18446744073709551615,)"
                R"(-9223372036854775808,1.0,0.0,-0.0,1e21,1e-7,1.5e-7,0.1,1e20,5e-324],)"
                R"("e":"\"\\\/\b\t\n\f\r\u0001\u001f\u007f\u00e9"})");
  EXPECT_EQ(ToJson(read, nullptr, nullptr),
            R"({"B":-1,"a":[18446744073709551615,-9223372036854775808,1.0,0.0,-0.0,1e21,1e-7,)"
            R"(1.5e-7,0.1,100000000000000000000.0,5e-324],"b":[null,[],{}],"e":"\"\\/\b\t\n\f\r)"
            "\\u0001\\u001F\x7f\xc3\xa9\",\"k\\u0000\":\"a\\u0000b\"}");
  binding::BindingRegistry registry;
  registry.BeginType(sizeof(JsonTestColor), "VynJsonTestColor", ColorId(), true)
      .AddEnumValue("Red", 1, "")
      .AddEnumValue("Green", 2, "");
  BindingProperty value;
  value.appendElement().setBlob(std::vector<uint8_t>{'a', 'b', 'c'});
  value.appendElement().setBlob(std::vector<uint8_t>{});
  value.appendElement().setEnum(BindingEnum{2, ColorId()});
  value.appendElement().setEnum(BindingEnum{5, ColorId()});  // no enumerator with that number
  value.appendElement().setEnum(BindingEnum{1, nullptr});
  for (const double d : {1.5, std::nan(""), HUGE_VAL, -HUGE_VAL}) value.appendElement().setFloat(d);
  EXPECT_EQ(ToJson(value, &registry, nullptr), R"(["YWJj","","Green",5,1,1.5,null,null,null])");
  EXPECT_EQ(ToJson(value, nullptr, nullptr), R"(["YWJj","",2,5,1,1.5,null,null,null])");
  value.setFloat(std::nan(""));
  EXPECT_EQ(ToJson(value, &registry, nullptr), "null");
  // A string whose room (six bytes a character, for escapes) passes the first block at once.
  value.setString(std::string(5000, 'x'));
  EXPECT_EQ(ToJson(value, nullptr, nullptr), '"' + std::string(5000, 'x') + '"');
}

TEST(JsonWriter, PrettyFormWritesEveryLineBreakAsTheNewlineTextAndBoundsHold) {
  BindingResult value =
      ParseJson(R"({"a":[1,-2,0.5,18446744073709551615],"e":[],"o":{},"s":"x\ny"})");
  EXPECT_EQ(ToJson(value, nullptr, "\n"),
            "{\n    \"a\": [\n        1,\n        -2,\n        0.5,\n"
            "        18446744073709551615\n    ],\n    \"e\": [],\n    \"o\": {},\n"
            "    \"s\": \"x\\ny\"\n}");
  // Enough lines for the text to outgrow its buffer many times.
  for (std::size_t i = 0; i < 3000; ++i) value.memberAt("list").elementAt(i).setString("x\ny");
  const std::string plain = ToJson(value, nullptr, "\n");
  for (const std::string newline : {"", "\n", "\r\n", "\r", "<br/>", "--a longer newline--"}) {
    std::string expected;
    for (const char c : plain) expected += c == '\n' ? newline : std::string(1, c);
    const std::string whole = ToJson(value, nullptr, newline.c_str());
    EXPECT_EQ(whole, newline.empty() ? ToJson(value, nullptr, nullptr) : expected) << newline;
    std::string out;
    EXPECT_TRUE(ToJson(value, nullptr, newline.c_str(), whole.size(), out)) << newline;
    EXPECT_EQ(out, whole) << newline;
    EXPECT_FALSE(ToJson(value, nullptr, newline.c_str(), whole.size() - 1, out)) << newline;
  }
  std::string out = "old";
  EXPECT_TRUE(ToJson(BindingProperty(), nullptr, "\n", 0, out));
  EXPECT_EQ(out, "");
}

// Texts are written a run at a time: a byte to escape at each place of texts up to three words
// long, among bytes a borrow could take for one, writes as RapidJSON's own writer writes it.
TEST(JsonWriter, TextsWrittenByTheRunAreTheWritersOwn) {
  for (std::size_t length = 0; length <= 24; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      for (const char special : {'"', '\\', '\0', '\x1f', '\n', ' '}) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i)
          text += i == at ? special : "a# ]![\xc3\xa9\x7f"[i % 9];
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer>(buffer).String(
            text.data(), static_cast<rapidjson::SizeType>(length));
        const std::string quoted = buffer.GetString();
        BindingProperty value;
        value.memberAt(text).setString(text);
        EXPECT_EQ(ToJson(value, nullptr, nullptr), "{" + quoted + ":" + quoted + "}") << at;
        EXPECT_EQ(ToJson(value, nullptr, "\r\n"), "{\r\n    " + quoted + ": " + quoted + "\r\n}");
      }
    }
  }
}

// Reads through the three entry points, which must agree (the counted one from exactly the text).
std::string Read(std::string_view text) {
  const std::string s(text), shown = Shown(ParseJson(s));
  const std::vector<char> exact(s.begin(), s.end());
  const std::string counted = Shown(ParseJson(exact.data(), exact.size()));
  const bool nul = s.find('\0') != std::string::npos;
  if (counted != shown || (!nul && Shown(ParseJson(s.c_str())) != shown)) return "forms differ";
  return shown;
}

TEST(JsonReader, ReadsEachKindOfValueAndSniffsJson) {
  const std::pair<std::string_view, std::string> cases[] = {
      {"[5,-5,-0,5.0,1e2,-0.0,4294967296,-2147483649]",
       "[u5,s-5,s0,f5,f100,f-0,u4294967296,s-2147483649]"},
      {"[18446744073709551615,-9223372036854775808,18446744073709551616,-9223372036854775809]",
       "[u18446744073709551615,s-9223372036854775808,f1.8446744073709552e+19,f-9.2233720368547758e+"
       "18]"},
      {R"( {"s":"a\"\u00e9\ud83d\ude00z","t":true,"f":false,"n":null,"l":[1,[],{}],"o":{"x":-1}} )",
       "{f:false,l:[u1,[],{}],n:~,o:{x:s-1},s:\"a\"\xc3\xa9\xf0\x9f\x98\x80z\",t:true}"},
      {"[\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\",\"\xF4\x8F\xBF\xBF\",\"\xED\x9F\xBF\"]",
       "[\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\",\"\xF4\x8F\xBF\xBF\",\"\xED\x9F\xBF\"]"},
      {R"(["\uD7FF","\uE000","\uFFFF","\uDBFF\uDFFF","\\uDC00","\"\uD83D\uDE00"])",
       "[\"\xED\x9F\xBF\",\"\xEE\x80\x80\",\"\xEF\xBF\xBF\",\"\xF4\x8F\xBF\xBF\",\"\\uDC00\","
       "\"\"\xF0\x9F\x98\x80\"]"},
      {"{\"\\u00e9\\uD83D\\uDE00\":1,\"\xC3\xA9\":2}", "{\xC3\xA9:u2,\xC3\xA9\xF0\x9F\x98\x80:u1}"},
      {R"({"a":[1,2],"a":[3],"o":{"x":1},"o":{"y":2},"n":1,"n":null})", "{a:[u3],n:~,o:{y:u2}}"},
      // A counted terminator is fine; text hidden behind a NUL is not dropped unseen.
      {std::string_view("[1] \0\0", 6), "[u1]"},
      {R"("a\u0000b")", std::string("\"a\0b\"", 5)},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(Read(text), value) << text;
  // A text longer than the reader's first room, which it leaves for the heap half way through.
  const std::string longText(2000, 'q');
  EXPECT_EQ(Read("[\"\\t" + longText + "\\u00e9\"]"), "[\"\t" + longText + "\xC3\xA9\"]");
  // Many names out of order and one given twice read as the same names set one by one.
  std::string many = "{";
  BindingResult expected;
  for (int i = 40; i >= 0; --i) {
    many += "\"m" + std::to_string(100 + i) + "\":" + std::to_string(i) + ",";
    expected.memberAt("m" + std::to_string(100 + i)).setUnsigned(static_cast<uint64_t>(i));
  }
  many += R"("m120":true})";
  expected.memberAt("m120").setBool(true);
  EXPECT_EQ(Read(many), Shown(expected));
  // Past a document's first members, names seen before come from the reader's own table: names
  // alike in their first eight bytes and their length stay apart, and the table lets go of its
  // names, also of those whose members went. So do the orders of records given out of name
  // order: an order kept serves only the same names given in the same order, never repeated.
  std::string again = "[", shown = "[";
  for (int i = 0; i < 9; ++i) {
    again += R"({"question_a":1,"question_b":2},{"c":1,"a":2,"b":3},)";
    shown += "{question_a:u1,question_b:u2},{a:u2,b:u3,c:u1},";
  }
  again += R"({"ab":1,"a":2,"b":3},{"c":1,"c":2,"a":3},{"c":4,"c":5,"a":6},{"a":1,"a":2,"b":3},)";
  shown += "{a:u2,ab:u1,b:u3},{a:u3,c:u2},{a:u6,c:u5},{a:u2,b:u3},";
  EXPECT_EQ(Read(again + R"({"question_b":3,"question_a":4,"question_a":5}])"),
            shown + "{question_a:u5,question_b:u3}]");
  // Records that begin like a kind whose order is kept and go on otherwise, also with names as
  // long as those expected and alike but for one byte, or that hold more kinds than the reader
  // keeps orders of, so that their own kind's order goes, while they are open, to a kind that
  // follows it in its last names.
  std::string departs = "[", departed = "[";
  for (int i = 0; i < 9; ++i) departs += R"({"z":1,"Y":2,"X":3},)", departed += "{X:u3,Y:u2,z:u1},";
  departs += R"({"z":[)", departed += "{X:u5,Y:u4,z:[";
  for (int i = 10; i < 25; ++i) {
    departs += R"({"b)" + std::to_string(i) + R"(":1,"a":2},)";
    departed += "{a:u2,b" + std::to_string(i) + ":u1},";
  }
  departs += R"({"a":1,"Y":2,"X":3}],"Y":4,"X":5},{"z":1,"Y":2},{"z":1,"Y":2,"X":3,"w":4},)"
             R"({"z":1,"X":2,"Y":3},{"z":1,"yyyyy2":2,"X":3},{"z":1,"Y":2,"Axxxxxxxx1":3},)"
             R"({"z":1,"Y":2,"zz":3}])";
  departed +=
      "{a:u1,X:u3,Y:u2}]},{Y:u2,z:u1},{w:u4,X:u3,Y:u2,z:u1},{X:u2,Y:u3,z:u1},"
      "{X:u3,yyyyy2:u2,z:u1},{Axxxxxxxx1:u3,Y:u2,z:u1},{Y:u2,z:u1,zz:u3}]";
  const auto spell = [](const std::string& text) {
    return std::regex_replace(std::regex_replace(text, std::regex("X"), "xxxxxxxxx1"),
                              std::regex("Y"), "yyyyy1");
  };
  EXPECT_EQ(Read(spell(departs)), spell(departed));
  // Records checked first against the kind last found in their place (under the same name, or as
  // elements as deep), which they may begin like and leave, outgrow, fall short of, or not be.
  std::string places = "[", placed = "[";
  for (int i = 0; i < 7; ++i) {
    places += R"({"m":{"d":1,"c":2},"n":[{"b":1,"a":2}]},)";
    placed += "{m:{c:u2,d:u1},n:[{a:u2,b:u1}]},";
  }
  places += R"({"m":{"b":1,"a":2},"n":[{"b":1,"c":2},{"b":1,"a":2,"e":3},{"b":1}]},)"
            R"({"m":{"d":1},"n":[{"a":1,"b":2}]},{"m":{"d":1,"c":2,"d":3}}])";
  placed +=
      "{m:{a:u2,b:u1},n:[{b:u1,c:u2},{a:u2,b:u1,e:u3},{b:u1}]},"
      "{m:{d:u1},n:[{a:u1,b:u2}]},{m:{c:u2,d:u3}}]";
  EXPECT_EQ(Read(places), placed);
  EXPECT_EQ(ParseJson(R"({"o":)" + many + R"(,"o":1})").arena()->InternedCount(), 1u);
  // More kinds out of order than the reader keeps orders of, holding short texts it keeps at hand.
  std::string kinds = R"({"o":[)";
  for (int i = 10; i < 40; ++i) kinds += R"({"b)" + std::to_string(i) + R"(":"t","a":2},)";
  EXPECT_EQ(ParseJson(kinds + R"(1],"o":1})").arena()->InternedCount(), 1u);
  // Arrays longer than the reader sets aside at a time, one open within another while the inner
  // one's elements, objects holding arrays, run on past it.
  std::string nested = "[", read = "[";
  for (int i = 0; i < 400; ++i) {
    const std::string n = std::to_string(i);
    nested += (i < 100 ? n + "," : R"({"a":[)" + n + "]},") + (i == 99 ? "[" : "");
    read += (i < 100 ? "u" + n + "," : "{a:[u" + n + "]},") + (i == 99 ? "[" : "");
  }
  EXPECT_EQ(Read(nested + "[]],true]"), read + "[]],true]");
  // The same for objects: an inner one's members, given in reverse and each a record of one kind
  // out of name order, run on past what is set aside at a time while its outer member is open.
  std::string wide = R"({"p":0,"o":{)", wideRead;
  for (int i = 0; i < 150; ++i) {
    const std::string n = std::to_string(i), key = std::to_string(1149 - i);
    wide += R"(")" + key + R"(":{"b":)" + n + R"(,"a":[)" + n + "]},";
    wideRead = "," + key + ":{a:[u" + n + "],b:u" + n + "}" + wideRead;
  }
  EXPECT_EQ(Read(wide + R"("":1},"q":2})"), "{o:{:u1" + wideRead + "},p:u0,q:u2}");
  for (const std::string_view blank : {""sv, " \t\r\n "sv, "null"sv, " \0"sv}) {
    EXPECT_EQ(Read(blank), "~") << blank;
  }
  EXPECT_EQ(Shown(ParseJson("[1]]]", 3)), "[u1]") << "the counted form reads only its bytes";
  EXPECT_EQ(Shown(ParseJson(static_cast<const char*>("[1]\0[2]"))), "[u1]");
  EXPECT_TRUE(ParseJson(nullptr).ok() && ParseJson(nullptr, 12).ok());
  for (const char* yes : {"{}", "  [1]", "   {"}) EXPECT_TRUE(LooksLikeJson(yes)) << yes;
  for (const char* no : {"", "   ", "\t{}", "1", "x{"}) EXPECT_FALSE(LooksLikeJson(no)) << no;
}

TEST(JsonReader, ReportsRapidJsonsTextAndTheOffset) {
  const std::string e = "error: Error: ", bad = e + "Invalid encoding in string. at offset ";
  const std::string pair = e + "The surrogate pair in string is invalid. at offset ";
  const std::string root = e + "The document root must not be followed by other values. at offset ";
  const std::string handler = e + "Terminate parsing due to Handler error. at offset ";
  // Nesting to the limit, and one level beyond it in arrays and in objects.
  const std::string deep = std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']');
  const std::string deeper = "[" + deep + "]";
  std::string objects;
  for (std::size_t i = 0; i <= kMaxJsonDepth; ++i) objects += R"({"a":)";
  const std::pair<std::string_view, std::string> cases[] = {
      {deep, deep},
      {deeper, handler + "1001."},
      {objects, handler + "5001."},
      {std::string_view("[1]\0[2]", 7), root + "3."},
      {" \f ", e + "Invalid value. at offset 1."},
      {"[1 2]", e + "Missing a comma or ']' after an array element. at offset 3."},
      {"\"\xF1\x80\x80", e + "Missing a closing quotation mark in string. at offset 4."},
      {"1e", e + "Miss exponent in number. at offset 2."},
      // Text that is not UTF-8 fails at its first bad byte, a lone surrogate escape at its
      // backslash, counted through the escapes before it.
      {"[\"ok\",\"ab\xFF\"]", bad + "9."},
      {"\"\\u00e9\x80\"", bad + "7."},
      {"\"\\n\\t\\u0041\\uD83D\\uDE00\\u20AC\xFF\"", bad + "29."},
      {"{\"a\":1,\"\xFF\":2,\"bb\":3}", bad + "8."},
      {"[\"ab\xFF\",\"ok\"]", bad + "4."},
      {R"("\udc00")", pair + "1."},
      {R"(["x","a\\\"\uDFFF"])", pair + "11."},
      {R"("\uD800\uDC00\uDBFF\uDFFF\uDC00")", pair + "25."},
      {R"({"a":1,"\uDC00":2})", pair + "8."},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(Read(text), value) << text;
  // Members of objects and elements of arrays an error left open go back to the value's arena.
  const BindingResult failed = ParseJson(R"({"k":{"b":"x","a":{"c":[1,"y",{"d":)");
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.arena()->InternedCount(), 2u) << "only the error's name and text stay";
}

}  // namespace
}  // namespace vyn::formats
