// The MessagePack reader: every type byte, error texts and positions, texts that are not UTF-8,
// open containers at the end of the input, hostile counts, the nesting limit and body sniffing.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <bit>
#include <string>
#include <vector>

#include "ValueText.h"
#include "base/PluginAllocator.h"
#include "binding/BindingArena.h"
#include "formats/Json.h"
#include "formats/MsgPack.h"

namespace vyn::formats {
namespace {

using Bytes = std::vector<uint8_t>;

// Hex byte pairs; text between apostrophes stands for its own bytes.
Bytes Hex(std::string_view hex) {
  Bytes bytes;
  for (std::size_t i = 0; i < hex.size(); ++i) {
    if (hex[i] == '\'') {
      while (hex[++i] != '\'') bytes.push_back(static_cast<uint8_t>(hex[i]));
    } else if (hex[i] != ' ') {
      bytes.push_back(static_cast<uint8_t>(std::stoul(std::string(hex.substr(i++, 2)), 0, 16)));
    }
  }
  return bytes;
}

std::string Repeat(std::string_view hex, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i) text += hex;
  return text;
}

// The value read, with the bytes consumed when a value did not take them all; "!" stands for the
// start of every error message.
std::string Read(const Bytes& bytes) {
  std::size_t consumed = 12345;
  std::string shown = Shown(ParseMsgPack(std::span<const uint8_t>(bytes), consumed));
  const std::string error = "error: Invalid MessagePack data";
  if (shown.starts_with(error)) return "!" + shown.substr(error.size());
  return consumed == bytes.size() ? shown : shown + " @" + std::to_string(consumed);
}

TEST(MsgPackReader, ReadsEachTypeAndReportsEachErrorWithItsPosition) {
  const std::string keys = ". Map keys must be strings.",
                    depth = "!. Nesting deeper than 1000 levels";
  const std::size_t limit = kMaxMsgPackDepth;
  const std::string half = std::string(limit - 1, '[') + "s1" + std::string(limit - 1, ']');
  const std::string k31 = "'" + std::string(31, 'k') + "'", chain = Repeat("91", limit - 1) + "01";
  const std::pair<std::string, std::string> cases[] = {
      {"95 00 05 7F FF E0", "[s0,s5,s127,s-1,s-32]"},
      {"94 CC FF CD 0102 CE 01020304 CF FFFFFFFFFFFFFFFF",
       "[u255,u258,u16909060,u18446744073709551615]"},
      {"95 D0 FF D1 8000 D2 80000000 D2 00010000 D3 8000000000000000",
       "[s-1,s-32768,s-2147483648,s65536,s-9223372036854775808]"},
      {"96 C0 C2 C3 CA 3FC00000 CA 3DCCCCCD CB 3FB999999999999A",
       "[~,false,true,f1.5,f0.10000000149011612,f0.10000000000000001]"},
      {"", "~"},
      {"94 A0 D9 01 'a' DA 0001 'b' DB 00000001 'c'", "[\"\",\"a\",\"b\",\"c\"]"},
      {"BF" + k31, "\"" + std::string(31, 'k') + "\""},
      {"AB C3A9 E282AC F48FBFBF 00 'a'",
       std::string("\"\xC3\xA9\xE2\x82\xAC\xF4\x8F\xBF\xBF\0a\"", 13)},
      {"94 C4 02 FF00 C5 0001 C3 C6 00000000 C4 00", "[b/wA=,bww==,b,b]"},
      {"93 90 DC 0001 01 DD 00000002 C0 02", "[[],[s1],[~,s2]]"},
      // Members in byte order; keys in fixstr, str 8, 16 and 32.
      {"83 A1 'b' 80 A1 'B' DE 0001 A0 01 A1 'c' DF 00000001 A1 'k' C2",
       "{B:{:s1},b:{},c:{k:false}}"},
      {"84 BF" + k31 + "01 D9 01 'a' 02 DA 0001 'b' 03 DB 00000001 'c' 04",
       "{a:s2,b:s3,c:s4," + std::string(31, 'k') + ":s1}"},
      // A repeated key keeps the later value whole; nil clears it.
      {"86 A1 'a' 91 01 A1 'a' 91 02 A1 'm' 81 A1 'b' 01 A1 'm' 81 A1 'c' 02 A1 'n' 01 A1 'n' "
       "C0",
       "{a:[s2],m:{c:s2},n:~}"},
      // One value is read; nothing after it is looked at.
      {"01 02", "s1 @1"},
      {"91 91 91 05 C1", "[[[s5]]] @4"},
      {"C1", "! at position 1."},
      {"91 81 01 01", "! at position 3" + keys},
      {"CC", "!. 8-bit integer value at position 1 is truncated."},
      {"91 81 A1 'k' DA 00", "!. 16-bit integer value at position 5 is truncated."},
      {"92 CA 000000", "!. 32-bit integer value at position 2 is truncated."},
      {"92 CB 00", "!. 64-bit integer value at position 2 is truncated."},
      {"DB FFFFFFFF 'a'", "!. String of size 4294967295 at position 5 is truncated."},
      {"81 A2 'a'", "!. String of size 2 at position 2 is truncated."},
      {"C6 00010000 01", "!. Raw bytes of size 65536 at position 5 are truncated."},
      // An input that ends inside an array or map names the innermost open one by its announced
      // size and the position of its first item.
      {"DC 0005 01", "!. Collection of size 5 at position 3 is truncated."},
      {"92 91 01", "!. Collection of size 2 at position 1 is truncated."},
      {"81 A1 'a'", "!. Map of size 1 at position 1 is truncated."},
      {"82 A1 'a' 01", "!. Map of size 2 at position 1 is truncated."},
      {"DD 10000000 01", "!. Collection of size 268435456 at position 5 is too large."},
      // Texts must be UTF-8; a bad one is named by its size and the position of its first byte.
      {"92 A1 'a' DA 0003 EDA080", "!. String of size 3 at position 6 is not valid UTF-8."},
      {"91 81 A2 EDB0 01", "!. String of size 2 at position 3 is not valid UTF-8."},
      // Also where the reader expects a name it knows, from the records before.
      {"DC 0014" + Repeat("82 A2 'ab' 01 A2 'cd' 02", 19) + "82 A2 'ab' 01 A2 C328 02",
       "!. String of size 2 at position 180 is not valid UTF-8."},
      {"A3 FF", "!. String of size 3 at position 1 is truncated."},
      // Only open containers count toward the nesting limit; the refused header is named.
      {Repeat("91", limit - 1) + "90", std::string(limit, '[') + std::string(limit, ']')},
      {"92" + chain + chain, "[" + half + "," + half + "]"},
      {Repeat("91", limit + 1) + "2A", depth + " at position 1000."},
      {Repeat("91", limit) + "90", depth + " at position 1000."},
      {Repeat("DC0001", limit + 1) + "C3", depth + " at position 3000."},
      {Repeat("91", limit - 1) + "81 DC 01 01", "! at position 1001" + keys},
  };
  for (const auto& [hex, value] : cases) EXPECT_EQ(Read(Hex(hex)), value) << hex.substr(0, 80);

  std::size_t consumed = 0;
  EXPECT_TRUE(ParseMsgPack(nullptr, 0, consumed).ok());
  (void)ParseMsgPack(Hex("93 01 C1 02"), consumed);
  EXPECT_EQ(consumed, 3u) << "where reading stopped";
  (void)ParseMsgPack(Hex(Repeat("91", 100000) + "2A"), consumed);
  EXPECT_EQ(consumed, limit + 1) << "reading stops after the refused header";
}

// MessagePack for a JSON value, members in the order given and repeated names kept, in the widest
// forms: it reads as the JSON reads, whose reader collects every member before it makes a
// structure.
void Pack(const rapidjson::Value& value, Bytes& out) {
  const auto put = [&out](uint8_t type, uint64_t number, int bytes) {
    out.push_back(type);
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
      out.push_back(static_cast<uint8_t>(number >> shift));
    }
  };
  const auto text = [&](const rapidjson::Value& t) {
    put(0xDB, t.GetStringLength(), 4);
    out.insert(out.end(), t.GetString(), t.GetString() + t.GetStringLength());
  };
  if (value.IsObject()) {
    put(0xDF, value.MemberCount(), 4);
    for (const auto& member : value.GetObject()) text(member.name), Pack(member.value, out);
  } else if (value.IsArray()) {
    put(0xDD, value.Size(), 4);
    for (const auto& element : value.GetArray()) Pack(element, out);
  } else if (value.IsString()) {
    text(value);
  } else if (value.IsUint64()) {
    put(0xCF, value.GetUint64(), 8);
  } else if (value.IsInt64()) {
    put(0xD3, static_cast<uint64_t>(value.GetInt64()), 8);
  } else if (value.IsDouble()) {
    put(0xCB, std::bit_cast<uint64_t>(value.GetDouble()), 8);
  } else {
    out.push_back(value.IsNull() ? 0xC0 : value.IsTrue() ? 0xC3 : 0xC2);
  }
}
Bytes Pack(const std::string& json) {
  rapidjson::Document document;
  document.Parse(json.c_str());
  Bytes bytes;
  Pack(document, bytes);
  return bytes;
}

// The members of records of a kind the reader has learnt go straight to their places: they read
// as the JSON does, also when a record parts from its kind at any name or repeats one, or holds
// so many kinds of its own that its kind's order is replaced while it is open; and a record cut
// short by an error keeps none of its names.
TEST(MsgPackReader, RecordsOfKnownKindsReadAsTheirJsonDoes) {
  std::string json = "[";
  for (int i = 0; i < 9; ++i) json += R"({"z":1,"y":{"b":[1],"a":-2},"x":"t"},)";
  json += R"({"w":1,"y":2,"x":3},{"z":1,"w":2,"x":3},{"z":1,"y":2,"w":3},{"z":1,"y":2,"z":null},)"
          R"({"z":1,"z":2,"x":3},{"z":[)";
  for (int i = 10; i < 30; ++i) json += R"({"b)" + std::to_string(i) + R"(":1,"a":2},)";
  json += R"(1],"y":{"a":2,"b":[1]},"x":1.5},{"z":2,"y":{"b":[],"a":{}},"x":"u"}])";
  const Bytes bytes = Pack(json);
  EXPECT_EQ(Read(bytes), Shown(ParseJson(json)));

  const Bytes records(bytes.begin(), bytes.end() - 34);  // cut in the last record's "y"
  EXPECT_EQ(Read(records), "!. Map of size 2 at position 1806 is truncated.");
  Bytes bad = Pack(R"([{"z":1,"y":2,"x":3},{"z":1,"y":2,"x":3},{"z":1,"y":2,"x":3},)"
                   R"({"z":1,"y":2,"x":3},{"z":1,"y":2,"x":3},{"z":1,"y":2,"x":3},{"z":1,"q":2}])");
  bad[bad.size() - 10] = 0xFF;  // the last record's "q"
  EXPECT_EQ(Read(bad), "!. String of size 1 at position 330 is not valid UTF-8.");
  std::size_t consumed = 0;
  for (const Bytes& failing : {records, bad}) {
    EXPECT_EQ(ParseMsgPack(failing, consumed).arena()->InternedCount(), 2u) << "error, message";
  }
}

TEST(MsgPackReader, HostileCountsReserveOnlyWhatTheInputCanHold) {
  // Each header announces 268,435,455 elements: reserving them would take gigabytes per level.
  const uint64_t before = base::GetAllocationStats().bytesAllocated;
  EXPECT_EQ(Read(Hex(Repeat("DD0FFFFFFF", 1000) + "01")),
            "!. Collection of size 268435455 at position 5000 is truncated.");
  EXPECT_LT(base::GetAllocationStats().bytesAllocated - before, 8u << 20);

  // Two headers share the bytes: the outer array's reserve is clamped, and the inner one may
  // reserve nothing, yet both fill completely and in order.
  Bytes bytes = Hex("DC0100 DC0100");
  std::string expected = "[[";
  for (int i = 0; i < 256; ++i) {
    bytes.push_back(static_cast<uint8_t>(i & 0x7F));
    expected += (i == 0 ? "s" : ",s") + std::to_string(i & 0x7F);
  }
  for (int i = 1; i < 256; ++i) bytes.push_back(0xC3), expected += i == 1 ? "],true" : ",true";
  EXPECT_EQ(Read(bytes), expected + "]");
}

TEST(MsgPackLooksLikeMsgPack, AcceptsOnlyMapAndArrayHeaders) {
  for (const uint8_t yes : Hex("80 8F 90 9F DC DD DE DF")) EXPECT_TRUE(LooksLikeMsgPack(&yes, 1));
  for (const uint8_t no : Hex("7F A0 C0 DB E0 00 FF"))
    EXPECT_FALSE(LooksLikeMsgPack(&no, 1)) << +no;
  const uint8_t array = 0x90;
  EXPECT_FALSE(LooksLikeMsgPack(&array, 0) || LooksLikeMsgPack(nullptr, 0));
}

}  // namespace
}  // namespace vyn::formats
