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

HostValue Ref(uint32_t kind, const void* pointer, uint32_t count) {
  return {kind, {.ref = {pointer, count}}};
}

TEST(HostValueJson, KeepsEveryJsonValueThroughATreeTheHostOwns) {
  for (const char* text :
       {"null", "[true,false]", "[0,18446744073709551615,-9223372036854775808,1.5]",
        "\"quotes \\\" and \xC3\xA9\"", R"({"b":1,"a":{"nested":[[],{}]}})", R"({"":"empty name"})",
        R"("nul \u0000 inside")"}) {
    rapidjson::Document document;
    document.Parse(text);
    OwnedHostValue owned;
    std::string json, error;
    EXPECT_TRUE(owned.Assign(document, error) && HostValueToJson(owned.value(), json, error))
        << error;
    EXPECT_EQ(json, text);
  }
}

TEST(HostValueJson, BuildsTheKindsThePluginExpectsAndRefusesTreesTooDeep) {
  rapidjson::Document document;
  document.Parse(R"({"n":5,"s":-5,"f":0.5,"t":"x","l":[1]})");
  OwnedHostValue owned;
  std::string error;
  ASSERT_TRUE(owned.Assign(document, error));
  const HostValue root = owned.value();
  ASSERT_EQ(uint32_t{root.payload.ref.count}, 5u);  // its kind: see the served lookups
  const uint32_t expected[] = {kHostValueUnsigned, kHostValueSigned, kHostValueFloat,
                               kHostValueStringBorrowed, kHostValueCollection};
  HostMember members[5];  // packed: fields are read as values, never bound to references
  std::memcpy(members, root.payload.ref.ptr, sizeof members);
  for (const HostMember& member : members) {
    EXPECT_EQ(uint32_t{member.value.kind}, expected[&member - members]) << member.name;
    EXPECT_EQ(member.ownsName, 0) << "the host keeps its names";
  }
  EXPECT_EQ(uint32_t{members[3].value.payload.ref.count}, 1u);
  EXPECT_EQ(static_cast<const char*>(members[3].value.payload.ref.ptr)[1], '\0')
      << "texts are NUL-terminated";

  for (size_t depth : {257u, 258u}) {
    document.Parse<rapidjson::kParseIterativeFlag>(
        (std::string(depth, '[') + std::string(depth, ']')).c_str());
    EXPECT_EQ(owned.Assign(document, error), depth == 257u) << depth;
  }
  EXPECT_EQ(error, "the value is nested more than 256 levels deep");
}

TEST(HostValueJson, ReadsWhatThePluginLendsOrRefusesItWithAReason) {
  // Members at an odd address, as a packed array inside a larger block may put them.
  std::vector<unsigned char> block(1 + 3 * sizeof(HostMember));
  const unsigned char bytes[] = {0x00, 0xFF, 0x10};
  const HostValue notFinite{kHostValueFloat, {.f = std::nan("")}};
  const HostMember fill[] = {{"blob", Ref(kHostValueBlobOwned, bytes, 3), 1},
                             {"nan", notFinite, 1},
                             {"text", Ref(kHostValueStringOwned, "ok", 2), 1}};
  std::memcpy(block.data() + 1, fill, sizeof fill);
  std::string json, error;
  ASSERT_TRUE(HostValueToJson(Ref(kHostValueStructure, block.data() + 1, 3), json, error)) << error;
  EXPECT_EQ(json, R"({"blob":"AP8Q","nan":null,"text":"ok"})");

  const HostValue unknown{11, {}};
  const HostValue elements[] = {Ref(kHostValueStringBorrowed, "fine", 4), unknown};
  const std::pair<HostValue, const char*> broken[] = {
      {unknown, "the value has the unknown kind 11"},
      {Ref(kHostValueCollection, nullptr, 2), "the value points to no data but counts some"},
      {Ref(kHostValueStringOwned, "\xC3(", 2), "the value holds a text that is not UTF-8"},
      {Ref(kHostValueCollection, elements, 2), "the value has the unknown kind 11"},
  };
  for (const auto& [value, reason] : broken) {
    EXPECT_FALSE(HostValueToJson(value, json, error)) << reason;
    EXPECT_EQ(error, reason);
  }
}

}  // namespace
}  // namespace vyn::host
