// HostValue trees between the host and JSON: trees the host builds and keeps, and trees the
// plugin lends, read through copies of their packed records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "host/HostValueJson.h"
#include "host/OwnedHostValue.h"

namespace vyn::host {
namespace {

std::string RoundTrip(const char* json) {
  rapidjson::Document document;
  document.Parse(json);
  EXPECT_FALSE(document.HasParseError()) << json;
  OwnedHostValue owned;
  std::string error;
  EXPECT_TRUE(owned.Assign(document, error)) << error;
  std::string out;
  EXPECT_TRUE(HostValueToJson(owned.value(), out, error)) << error;
  return out;
}

TEST(HostValueJson, KeepsEveryJsonValueThroughATreeTheHostOwns) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"null", "null"},
      {"[true,false]", "[true,false]"},
      {"[0,18446744073709551615,-9223372036854775808,1.5]",
       "[0,18446744073709551615,-9223372036854775808,1.5]"},
      {R"("quotes \" and \u00e9")", "\"quotes \\\" and \xC3\xA9\""},
      {R"({"b":1,"a":{"nested":[[],{}]}})", R"({"b":1,"a":{"nested":[[],{}]}})"},
      {R"({"":"empty name"})", R"({"":"empty name"})"},
      {R"("nul \u0000 inside")", R"("nul \u0000 inside")"},
  };
  for (const Case& c : cases) EXPECT_EQ(RoundTrip(c.in), c.out) << c.in;
}

TEST(HostValueJson, BuildsTheKindsThePluginExpects) {
  rapidjson::Document document;
  document.Parse(R"({"n":5,"s":-5,"f":0.5,"t":"x","l":[1]})");
  OwnedHostValue owned;
  std::string error;
  ASSERT_TRUE(owned.Assign(document, error));
  const HostValue root = owned.value();
  ASSERT_EQ(root.kind, static_cast<uint32_t>(kHostValueStructure));
  ASSERT_EQ(root.payload.ref.count, 5u);
  const uint32_t expected[] = {kHostValueUnsigned, kHostValueSigned, kHostValueFloat,
                               kHostValueStringBorrowed, kHostValueCollection};
  const auto* members = static_cast<const HostMember*>(root.payload.ref.ptr);
  for (uint32_t i = 0; i < 5; ++i) {
    HostMember member;
    std::memcpy(&member, members + i, sizeof member);
    EXPECT_EQ(member.value.kind, expected[i]) << member.name;
    EXPECT_EQ(member.ownsName, 0) << "the host keeps its names";
  }
  HostMember text;
  std::memcpy(&text, members + 3, sizeof text);
  const char* chars = static_cast<const char*>(text.value.payload.ref.ptr);
  EXPECT_EQ(text.value.payload.ref.count, 1u);
  EXPECT_EQ(chars[1], '\0') << "texts are NUL-terminated";
}

TEST(HostValueJson, RefusesTreesNestedTooDeep) {
  const std::string deep = std::string(300, '[') + std::string(300, ']');
  rapidjson::Document document;
  document.Parse<rapidjson::kParseIterativeFlag>(deep.c_str());
  ASSERT_FALSE(document.HasParseError());
  OwnedHostValue owned;
  std::string error;
  EXPECT_FALSE(owned.Assign(document, error));
  EXPECT_EQ(error, "the value is nested more than 256 levels deep");
}

HostValue Text(const char* text, uint32_t kind = kHostValueStringOwned) {
  HostValue value{};
  value.kind = kind;
  value.payload.ref.ptr = text;
  value.payload.ref.count = static_cast<uint32_t>(std::strlen(text));
  return value;
}

TEST(HostValueJson, ReadsWhatThePluginLends) {
  // Members at an odd address, as a packed array inside a larger block may put them.
  std::vector<unsigned char> block(1 + 3 * sizeof(HostMember));
  auto* members = reinterpret_cast<HostMember*>(block.data() + 1);
  const unsigned char bytes[] = {0x00, 0xFF, 0x10};
  HostValue blob{};
  blob.kind = kHostValueBlobOwned;
  blob.payload.ref.ptr = bytes;
  blob.payload.ref.count = 3;
  HostValue notFinite{};
  notFinite.kind = kHostValueFloat;
  notFinite.payload.f = std::nan("");
  const HostMember fill[] = {{"blob", blob, 1}, {"nan", notFinite, 1}, {"text", Text("ok"), 1}};
  std::memcpy(members, fill, sizeof fill);
  HostValue root{};
  root.kind = kHostValueStructure;
  root.payload.ref.ptr = members;
  root.payload.ref.count = 3;
  std::string json;
  std::string error;
  ASSERT_TRUE(HostValueToJson(root, json, error)) << error;
  EXPECT_EQ(json, R"({"blob":"AP8Q","nan":null,"text":"ok"})");
}

TEST(HostValueJson, RefusesBrokenTreesWithAReason) {
  HostValue unknown{};
  unknown.kind = 11;
  HostValue dangling{};
  dangling.kind = kHostValueCollection;
  dangling.payload.ref.count = 2;
  HostValue invalidText = Text("\xC3(");
  HostValue elements[] = {Text("fine"), unknown};
  HostValue nested{};
  nested.kind = kHostValueCollection;
  nested.payload.ref.ptr = elements;
  nested.payload.ref.count = 2;
  struct Case {
    const char* desc;
    HostValue value;
    const char* error;
  };
  const Case cases[] = {
      {"unknown kind", unknown, "the value has the unknown kind 11"},
      {"no array behind a count", dangling, "the value points to no data but counts some"},
      {"text that is not UTF-8", invalidText, "the value holds a text that is not UTF-8"},
      {"unknown kind inside a collection", nested, "the value has the unknown kind 11"},
  };
  for (const Case& c : cases) {
    std::string json;
    std::string error;
    EXPECT_FALSE(HostValueToJson(c.value, json, error)) << c.desc;
    EXPECT_EQ(error, c.error) << c.desc;
  }
}

}  // namespace
}  // namespace vyn::host
