// The MessagePack reader: every type byte, every error text and position, texts that are not
// UTF-8, open containers at the end of the input, hostile counts, the nesting limit and the body
// sniffing test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "formats/MsgPack.h"
#include "base/PluginAllocator.h"

namespace vyn::formats {
namespace {

using binding::BindingProperty;
using binding::BindingPropertyKind;
using binding::BindingResult;
using Bytes = std::vector<uint8_t>;

// A compact rendering for comparisons: s:5 u:5 f:1.5 true "text" blob:0a0b [a,b] {k:v} ~ (empty).
std::string Render(const BindingProperty& p) {
  switch (p.kind()) {
    case BindingPropertyKind::Empty:
      return "~";
    case BindingPropertyKind::Bool:
      return p.asBool() ? "true" : "false";
    case BindingPropertyKind::Signed:
      return "s:" + std::to_string(p.asSigned());
    case BindingPropertyKind::Unsigned:
      return "u:" + std::to_string(p.asUnsigned());
    case BindingPropertyKind::Float: {
      char text[64];
      std::snprintf(text, sizeof text, "f:%.17g", p.asFloat());
      return text;
    }
    case BindingPropertyKind::String:
      return "\"" + std::string(p.asString()) + "\"";
    case BindingPropertyKind::Blob: {
      std::string out = "blob:";
      for (uint8_t b : p.asBlob()) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", b);
        out += hex;
      }
      return out;
    }
    case BindingPropertyKind::Collection: {
      std::string out = "[";
      for (const BindingProperty& e : p.elements()) out += (out.size() > 1 ? "," : "") + Render(e);
      return out + "]";
    }
    case BindingPropertyKind::Structure: {
      std::string out = "{";
      for (const auto& m : p.members()) {
        out += (out.size() > 1 ? "," : "") + std::string(m.name) + ":" + Render(m.value);
      }
      return out + "}";
    }
    default:
      return "?";
  }
}

struct Parsed {
  BindingResult result;
  std::size_t consumed;
};

Parsed Parse(const Bytes& bytes) {
  std::size_t consumed = 12345;
  BindingResult result = ParseMsgPack(bytes.data(), bytes.size(), consumed);
  return {std::move(result), consumed};
}

Bytes Concat(Bytes head, const std::string& text) {
  head.insert(head.end(), text.begin(), text.end());
  return head;
}

TEST(MsgPackReaderValues, DecodesEveryTypeByte) {
  struct Case {
    const char* desc;
    Bytes bytes;
    std::string value;
  };
  const Case cases[] = {
      {"positive fixint is signed", {0x05}, "s:5"},
      {"largest positive fixint", {0x7F}, "s:127"},
      {"negative fixint -1", {0xFF}, "s:-1"},
      {"negative fixint -32", {0xE0}, "s:-32"},
      {"uint 8 is unsigned", {0xCC, 0xFF}, "u:255"},
      {"uint 8 of 5 is unsigned", {0xCC, 0x05}, "u:5"},
      {"uint 16 big-endian", {0xCD, 0x01, 0x02}, "u:258"},
      {"uint 32", {0xCE, 0x01, 0x02, 0x03, 0x04}, "u:16909060"},
      {"uint 64 max",
       {0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       "u:18446744073709551615"},
      {"int 8 sign-extended", {0xD0, 0xFF}, "s:-1"},
      {"int 16 min", {0xD1, 0x80, 0x00}, "s:-32768"},
      {"int 32 min", {0xD2, 0x80, 0x00, 0x00, 0x00}, "s:-2147483648"},
      {"int 32 positive", {0xD2, 0x00, 0x01, 0x00, 0x00}, "s:65536"},
      {"int 64 min",
       {0xD3, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
       "s:-9223372036854775808"},
      {"false", {0xC2}, "false"},
      {"true", {0xC3}, "true"},
      {"nil is empty", {0xC0}, "~"},
      {"float 32 widened", {0xCA, 0x3F, 0xC0, 0x00, 0x00}, "f:1.5"},
      {"float 32 keeps single precision", {0xCA, 0x3D, 0xCC, 0xCC, 0xCD}, "f:0.10000000149011612"},
      {"float 64", {0xCB, 0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}, "f:0.10000000000000001"},
      {"fixstr", Concat({0xA3}, "abc"), "\"abc\""},
      {"empty fixstr is a string", {0xA0}, "\"\""},
      {"longest fixstr", Concat({0xBF}, std::string(31, 'x')), "\"" + std::string(31, 'x') + "\""},
      {"str 8", Concat({0xD9, 0x03}, "abc"), "\"abc\""},
      {"str 16", Concat({0xDA, 0x00, 0x03}, "abc"), "\"abc\""},
      {"str 32", Concat({0xDB, 0x00, 0x00, 0x00, 0x03}, "abc"), "\"abc\""},
      {"UTF-8 of two, three and four bytes", Concat({0xA9}, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
       "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
      {"largest code point U+10FFFF", Concat({0xD9, 0x04}, "\xF4\x8F\xBF\xBF"),
       "\"\xF4\x8F\xBF\xBF\""},
      {"multi-byte key", Concat({0x81, 0xA2}, "\xC3\xA9\x01"), "{\xC3\xA9:s:1}"},
      {"bin 8", {0xC4, 0x02, 0x0A, 0x0B}, "blob:0a0b"},
      {"bin 16", {0xC5, 0x00, 0x01, 0xFF}, "blob:ff"},
      {"bin 32", {0xC6, 0x00, 0x00, 0x00, 0x01, 0x00}, "blob:00"},
      {"bin bytes are not text", {0xC4, 0x02, 0xFF, 0xFE}, "blob:fffe"},
      {"fixarray", {0x93, 0x01, 0xC3, 0xA1, 'x'}, "[s:1,true,\"x\"]"},
      {"empty fixarray", {0x90}, "[]"},
      {"array 16", {0xDC, 0x00, 0x02, 0x01, 0x02}, "[s:1,s:2]"},
      {"array 32", {0xDD, 0x00, 0x00, 0x00, 0x01, 0x07}, "[s:7]"},
      {"nil element stays empty", {0x92, 0xC0, 0x01}, "[~,s:1]"},
      {"fixmap", {0x81, 0xA1, 'a', 0x01}, "{a:s:1}"},
      {"empty fixmap", {0x80}, "{}"},
      {"map 16, members in byte order",
       {0xDE, 0x00, 0x02, 0xA1, 'b', 0x02, 0xA1, 'B', 0x01},
       "{B:s:1,b:s:2}"},
      {"map 32", {0xDF, 0x00, 0x00, 0x00, 0x01, 0xA1, 'k', 0xC2}, "{k:false}"},
      {"keys in str 8, 16 and 32",
       {0x83, 0xD9, 0x01, 'a', 0x01, 0xDA, 0x00, 0x01, 'b', 0x02, 0xDB, 0, 0, 0, 1, 'c', 0x03},
       "{a:s:1,b:s:2,c:s:3}"},
      {"empty key", {0x81, 0xA0, 0x01}, "{:s:1}"},
      {"nested containers",
       {0x82, 0xA1, 'a', 0x92, 0x90, 0x80, 0xA1, 'b', 0x81, 0xA1, 'c', 0xC0},
       "{a:[[],{}],b:{c:~}}"},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(c.bytes);
    EXPECT_TRUE(p.result.ok()) << c.desc << ": " << p.result.ErrorText();
    EXPECT_EQ(Render(p.result), c.value) << c.desc;
    EXPECT_EQ(p.consumed, c.bytes.size()) << c.desc;
  }
}

TEST(MsgPackReaderValues, KeepsEveryByteOfTextsAndBlobs) {
  // NUL bytes and multi-byte sequences are kept in texts; blobs keep any byte.
  const std::string text("a\0\xC3\xA9\xF4\x8F\xBF\xBF", 8);
  const Parsed value = Parse(Concat({0xA8}, text));
  EXPECT_EQ(value.result.asString(), text);
  const Parsed key = Parse(Concat(Concat({0x81, 0xA8}, text), "\x01"));
  EXPECT_EQ(key.result.member(text).asSigned(), 1);
  const Parsed bytes = Parse({0xC4, 0x04, 'a', 0x00, 0xFF, 0xC3});
  EXPECT_EQ(Render(bytes.result), "blob:6100ffc3");
  const Parsed blob = Parse({0xC4, 0x00});
  EXPECT_EQ(blob.result.kind(), BindingPropertyKind::Blob);
  EXPECT_EQ(blob.result.size(), 0u);
}

TEST(MsgPackReaderValues, RepeatedKeyKeepsTheLaterValue) {
  struct Case {
    const char* desc;
    Bytes bytes;
    std::string value;
  };
  const Case cases[] = {
      {"scalar over scalar", {0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0x02}, "{a:s:2}"},
      {"string over collection", {0x82, 0xA1, 'a', 0x91, 0x01, 0xA1, 'a', 0xA1, 'x'}, "{a:\"x\"}"},
      {"structures are replaced, not merged",
       {0x82, 0xA1, 'a', 0x81, 0xA1, 'b', 0x01, 0xA1, 'a', 0x81, 0xA1, 'c', 0x02},
       "{a:{c:s:2}}"},
      {"collections are replaced, not appended",
       {0x82, 0xA1, 'a', 0x91, 0x01, 0xA1, 'a', 0x91, 0x02},
       "{a:[s:2]}"},
      {"nil clears the earlier value", {0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0xC0}, "{a:~}"},
      {"other members untouched",
       {0x83, 0xA1, 'a', 0x01, 0xA1, 'b', 0x02, 0xA1, 'a', 0x03},
       "{a:s:3,b:s:2}"},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(c.bytes);
    EXPECT_TRUE(p.result.ok()) << c.desc;
    EXPECT_EQ(Render(p.result), c.value) << c.desc;
  }
}

TEST(MsgPackReaderExtent, ReadsOneValueAndReportsItsLength) {
  struct Case {
    const char* desc;
    Bytes bytes;
    std::string value;
    std::size_t consumed;
  };
  const Case cases[] = {
      {"scalar followed by more data", {0x01, 0x02}, "s:1", 1},
      {"container followed by garbage", {0x91, 0x01, 0xC1, 0xFF}, "[s:1]", 2},
      {"nil followed by data", {0xC0, 0x01}, "~", 1},
      {"nested containers closing together", {0x91, 0x91, 0x91, 0x05, 0x06}, "[[[s:5]]]", 4},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(c.bytes);
    EXPECT_TRUE(p.result.ok()) << c.desc;
    EXPECT_EQ(Render(p.result), c.value) << c.desc;
    EXPECT_EQ(p.consumed, c.consumed) << c.desc;
  }
}

TEST(MsgPackReaderExtent, EmptyInputIsAnEmptyValue) {
  std::size_t consumed = 99;
  const BindingResult fromNull = ParseMsgPack(nullptr, 0, consumed);
  EXPECT_TRUE(fromNull.ok());
  EXPECT_EQ(fromNull.kind(), BindingPropertyKind::Empty);
  EXPECT_EQ(consumed, 0u);

  const uint8_t byte = 0x01;
  consumed = 99;
  const BindingResult empty = ParseMsgPack(&byte, 0, consumed);
  EXPECT_TRUE(empty.ok());
  EXPECT_EQ(empty.kind(), BindingPropertyKind::Empty);
  EXPECT_EQ(consumed, 0u);
}

TEST(MsgPackReaderExtent, SpanOverloadReadsTheSame) {
  const Bytes bytes{0x92, 0xCC, 0x07, 0xA1, 'z', 0xFF};
  std::size_t consumed = 0;
  const BindingResult r = ParseMsgPack(std::span<const uint8_t>(bytes), consumed);
  EXPECT_EQ(Render(r), "[u:7,\"z\"]");
  EXPECT_EQ(consumed, 5u);
}

TEST(MsgPackReaderErrors, ReportsTheExactTextAndPosition) {
  struct Case {
    const char* desc;
    Bytes bytes;
    std::string error;
  };
  const std::string invalid = "Invalid MessagePack data at position ";
  const std::string keys = ". Map keys must be strings.";
  const std::string truncated = "Invalid MessagePack data. ";
  const std::string utf8 = " is not valid UTF-8.";
  const Case cases[] = {
      {"never-used type byte", {0xC1}, invalid + "1."},
      {"fixext 1", {0xD4, 0x00, 0x00}, invalid + "1."},
      {"fixext 16", {0xD8}, invalid + "1."},
      {"ext 8", {0xC7, 0x01, 0x00, 0x00}, invalid + "1."},
      {"ext 16", {0xC8}, invalid + "1."},
      {"ext 32", {0xC9}, invalid + "1."},
      {"invalid type byte inside an array", {0x92, 0x01, 0xC1}, invalid + "3."},
      {"integer key", {0x81, 0x01, 0x01}, invalid + "2" + keys},
      {"nil key", {0x81, 0xC0, 0x01}, invalid + "2" + keys},
      {"never-used byte as key", {0x81, 0xC1}, invalid + "2" + keys},
      {"array key in a nested map", {0x91, 0x81, 0x90, 0x01}, invalid + "3" + keys},
      {"uint 8", {0xCC}, truncated + "8-bit integer value at position 1 is truncated."},
      {"int 8", {0xD0}, truncated + "8-bit integer value at position 1 is truncated."},
      {"uint 16", {0xCD, 0x01}, truncated + "16-bit integer value at position 1 is truncated."},
      {"int 16", {0xD1}, truncated + "16-bit integer value at position 1 is truncated."},
      {"uint 32", {0xCE, 1, 2, 3}, truncated + "32-bit integer value at position 1 is truncated."},
      {"int 32", {0xD2, 1}, truncated + "32-bit integer value at position 1 is truncated."},
      {"float 32", {0xCA, 1, 2}, truncated + "32-bit integer value at position 1 is truncated."},
      {"uint 64",
       {0xCF, 1, 2, 3, 4, 5, 6, 7},
       truncated + "64-bit integer value at position 1 is truncated."},
      {"int 64", {0xD3}, truncated + "64-bit integer value at position 1 is truncated."},
      {"float 64", {0xCB, 1}, truncated + "64-bit integer value at position 1 is truncated."},
      {"str 8 length", {0xD9}, truncated + "8-bit integer value at position 1 is truncated."},
      {"str 16 length", {0xDA, 0}, truncated + "16-bit integer value at position 1 is truncated."},
      {"bin 32 length", {0xC6, 0}, truncated + "32-bit integer value at position 1 is truncated."},
      {"array 16 count", {0xDC}, truncated + "16-bit integer value at position 1 is truncated."},
      {"map 32 count",
       {0xDF, 0, 0, 0},
       truncated + "32-bit integer value at position 1 is truncated."},
      {"key length",
       {0x81, 0xDA, 0x00},
       truncated + "16-bit integer value at position 2 is truncated."},
      {"fixstr body", {0xA3, 0x61}, truncated + "String of size 3 at position 1 is truncated."},
      {"str 32 body of a hostile length",
       {0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},
       truncated + "String of size 4294967295 at position 5 is truncated."},
      {"key body", {0x81, 0xA2, 'a'}, truncated + "String of size 2 at position 2 is truncated."},
      {"bin 8 body",
       {0xC4, 0x02, 0x00},
       truncated + "Raw bytes of size 2 at position 2 are truncated."},
      {"bin 32 body",
       {0xC6, 0x00, 0x01, 0x00, 0x00, 0x01},
       truncated + "Raw bytes of size 65536 at position 5 are truncated."},
      {"value inside containers",
       {0x91, 0x81, 0xA1, 'k', 0xCD, 0x01},
       truncated + "16-bit integer value at position 5 is truncated."},
      // The input ends while an array or map still owes items: the innermost open container is
      // named with its announced size and the position of its first item.
      {"array with fewer elements than announced",
       {0x92, 0x01},
       truncated + "Collection of size 2 at position 1 is truncated."},
      {"array header alone",
       {0x91},
       truncated + "Collection of size 1 at position 1 is truncated."},
      {"array 16 header",
       {0xDC, 0x00, 0x05, 0x01},
       truncated + "Collection of size 5 at position 3 is truncated."},
      {"innermost open container is named",
       {0x91, 0x92, 0x01},
       truncated + "Collection of size 2 at position 2 is truncated."},
      {"outer array after a complete inner one",
       {0x92, 0x91, 0x01},
       truncated + "Collection of size 2 at position 1 is truncated."},
      {"map ending after a key",
       {0x81, 0xA1, 'a'},
       truncated + "Map of size 1 at position 1 is truncated."},
      {"map header alone", {0x82}, truncated + "Map of size 2 at position 1 is truncated."},
      {"map ending between pairs",
       {0x82, 0xA1, 'a', 0x01},
       truncated + "Map of size 2 at position 1 is truncated."},
      {"map 32 announcing 2^32-1 pairs",
       {0xDF, 0xFF, 0xFF, 0xFF, 0xFF, 0xA1, 'a', 0x01},
       truncated + "Map of size 4294967295 at position 5 is truncated."},
      {"array beyond the element limit",
       {0xDD, 0x10, 0x00, 0x00, 0x00, 0x01},
       truncated + "Collection of size 268435456 at position 5 is too large."},
      // Texts must be well-formed UTF-8; the string is named by its size and the position of its
      // first byte, as a truncated one is.
      {"fixstr FF FE", {0xA2, 0xFF, 0xFE}, truncated + "String of size 2 at position 1" + utf8},
      {"str 8 overlong C0 80",
       {0xD9, 0x02, 0xC0, 0x80},
       truncated + "String of size 2 at position 2" + utf8},
      {"str 16 surrogate ED A0 80",
       {0xDA, 0x00, 0x03, 0xED, 0xA0, 0x80},
       truncated + "String of size 3 at position 3" + utf8},
      {"str 32 sequence cut short by the string's end",
       {0xDB, 0x00, 0x00, 0x00, 0x02, 'a', 0xC3, 'b'},
       truncated + "String of size 2 at position 5" + utf8},
      {"above U+10FFFF",
       {0xA4, 0xF4, 0x90, 0x80, 0x80},
       truncated + "String of size 4 at position 1" + utf8},
      {"stray continuation byte after valid text",
       {0xA3, 0xC3, 0xA9, 0xA9},
       truncated + "String of size 3 at position 1" + utf8},
      {"string inside an array",
       {0x92, 0xA1, 'a', 0xA1, 0xFE},
       truncated + "String of size 1 at position 4" + utf8},
      {"fixstr key", {0x81, 0xA1, 0xFF, 0x01}, truncated + "String of size 1 at position 2" + utf8},
      {"str 8 key",
       {0x81, 0xD9, 0x01, 0x80, 0x01},
       truncated + "String of size 1 at position 3" + utf8},
      {"key of a nested map",
       {0x91, 0x81, 0xA2, 0xED, 0xB0, 0x01},
       truncated + "String of size 2 at position 3" + utf8},
      {"truncation is found before the text is checked",
       {0xA3, 0xFF},
       truncated + "String of size 3 at position 1 is truncated."},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(c.bytes);
    EXPECT_FALSE(p.result.ok()) << c.desc;
    EXPECT_EQ(p.result.ErrorText(), c.error) << c.desc;
    // The partial value is gone: only the error member remains.
    EXPECT_EQ(p.result.kind(), BindingPropertyKind::Structure) << c.desc;
    EXPECT_EQ(p.result.size(), 1u) << c.desc;
  }
}

TEST(MsgPackReaderErrors, ReportsWhereReadingStopped) {
  EXPECT_EQ(Parse({0x93, 0x01, 0xC1, 0x02}).consumed, 3u);
  EXPECT_EQ(Parse({0x92, 0x01}).consumed, 2u);
}

TEST(MsgPackReaderHostileInput, HugeCountsReserveOnlyWhatTheInputCanHold) {
  // Each header announces 268,435,455 elements: reserving them would take gigabytes per level.
  Bytes bytes;
  for (int i = 0; i < 1000; ++i) bytes.insert(bytes.end(), {0xDD, 0x0F, 0xFF, 0xFF, 0xFF});
  bytes.push_back(0x01);
  const uint64_t before = base::GetAllocationStats().bytesAllocated;
  const Parsed p = Parse(bytes);
  const uint64_t allocated = base::GetAllocationStats().bytesAllocated - before;
  EXPECT_EQ(p.result.ErrorText(),
            "Invalid MessagePack data. Collection of size 268435455 at position 5000 is "
            "truncated.");
  EXPECT_LT(allocated, 8u * 1024 * 1024);
}

TEST(MsgPackReaderHostileInput, LongArraysGrowPastAClampedReserve) {
  // Two headers share the bytes: the outer array's reserve is clamped, and the inner one may
  // reserve nothing, yet both must fill completely and in order.
  Bytes bytes{0xDC, 0x01, 0x00, 0xDC, 0x01, 0x00};
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<uint8_t>(i & 0x7F));
  for (int i = 1; i < 256; ++i) bytes.push_back(0xC3);
  const Parsed p = Parse(bytes);
  ASSERT_TRUE(p.result.ok()) << p.result.ErrorText();
  EXPECT_EQ(p.consumed, bytes.size());
  ASSERT_EQ(p.result.size(), 256u);
  const BindingProperty& inner = p.result.element(0);
  ASSERT_EQ(inner.size(), 256u);
  for (std::size_t i = 0; i < 256; ++i) {
    EXPECT_EQ(inner.element(i).asSigned(-1), static_cast<int64_t>(i & 0x7F)) << i;
  }
  EXPECT_TRUE(p.result.element(255).asBool());
}

// `levels` copies of the container header `open`, each holding the next, around `inner`.
Bytes Nest(std::size_t levels, const Bytes& open, const Bytes& inner) {
  Bytes bytes;
  for (std::size_t i = 0; i < levels; ++i) bytes.insert(bytes.end(), open.begin(), open.end());
  bytes.insert(bytes.end(), inner.begin(), inner.end());
  return bytes;
}

std::size_t DepthOf(const BindingProperty& root) {
  const BindingProperty* node = &root;
  std::size_t depth = 0;
  for (;;) {
    if (node->kind() == BindingPropertyKind::Collection && node->size() == 1) {
      node = &node->element(0);
    } else if (node->kind() == BindingPropertyKind::Structure && node->size() == 1) {
      node = &(*node->members().begin()).value;
    } else {
      return depth + (node->kind() == BindingPropertyKind::Collection ||
                      node->kind() == BindingPropertyKind::Structure);
    }
    ++depth;
  }
}

TEST(MsgPackReaderDepth, AcceptsTheLimitAndNamesTheHeaderBeyondIt) {
  const std::string tooDeep = "Invalid MessagePack data. Nesting deeper than " +
                              std::to_string(kMaxMsgPackDepth) + " levels at position ";
  const std::size_t limit = kMaxMsgPackDepth;
  const Bytes mapLevel{0x81, 0xA1, 'k'};
  struct Case {
    const char* desc;
    Bytes bytes;
    std::size_t depth;  // of the value read; 0 when it fails
    std::size_t position;
  };
  const Case cases[] = {
      {"fixarrays to the limit", Nest(limit, {0x91}, {0x2A}), limit, 0},
      {"fixarrays one beyond", Nest(limit + 1, {0x91}, {0x2A}), 0, limit},
      {"fixmaps to the limit", Nest(limit, mapLevel, {0x01}), limit, 0},
      {"fixmaps one beyond", Nest(limit + 1, mapLevel, {0x01}), 0, 3 * limit},
      {"empty array as the deepest level", Nest(limit - 1, {0x91}, {0x90}), limit, 0},
      {"empty array one beyond", Nest(limit, {0x91}, {0x90}), 0, limit},
      {"empty map one beyond", Nest(limit, {0x91}, {0x80}), 0, limit},
      {"array 16 one beyond", Nest(limit, {0x91}, {0xDC, 0x00, 0x01, 0x01}), 0, limit},
      {"array 32 one beyond", Nest(limit, {0x91}, {0xDD, 0x00, 0x00, 0x00, 0x01, 0x01}), 0, limit},
      {"map 16 one beyond", Nest(limit, mapLevel, {0xDE, 0x00, 0x00}), 0, 3 * limit},
      {"map 32 one beyond", Nest(limit, {0x91}, {0xDF, 0x00, 0x00, 0x00, 0x00}), 0, limit},
      {"array 16 levels to the limit", Nest(limit, {0xDC, 0x00, 0x01}, {0xC3}), limit, 0},
      {"array 16 levels one beyond", Nest(limit + 1, {0xDC, 0x00, 0x01}, {0xC3}), 0, 3 * limit},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(c.bytes);
    if (c.depth != 0) {
      ASSERT_TRUE(p.result.ok()) << c.desc << ": " << p.result.ErrorText();
      EXPECT_EQ(DepthOf(p.result), c.depth) << c.desc;
      EXPECT_EQ(p.consumed, c.bytes.size()) << c.desc;
    } else {
      EXPECT_EQ(p.result.ErrorText(), tooDeep + std::to_string(c.position) + ".") << c.desc;
      EXPECT_EQ(p.result.size(), 1u) << c.desc << ": only the error member remains";
    }
  }
}

TEST(MsgPackReaderDepth, ClosedLevelsDoNotCount) {
  // Two chains side by side, each exactly at the limit: only the open containers count.
  Bytes bytes{0x92};
  for (int chain = 0; chain < 2; ++chain) {
    const Bytes one = Nest(kMaxMsgPackDepth - 1, {0x91}, {0x01});
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
  const Parsed p = Parse(bytes);
  ASSERT_TRUE(p.result.ok()) << p.result.ErrorText();
  EXPECT_EQ(p.consumed, bytes.size());
  EXPECT_EQ(p.result.size(), 2u);
}

TEST(MsgPackReaderDepth, ANestedKeyIsRefusedAsAKeyAtAnyDepth) {
  const std::string keys = ". Map keys must be strings.";
  for (const uint8_t key : {uint8_t{0x91}, uint8_t{0x81}, uint8_t{0xDC}, uint8_t{0xDF}}) {
    // The map is at the deepest level allowed; its key would open the level beyond.
    const Parsed atLimit = Parse(Nest(kMaxMsgPackDepth - 1, {0x91}, {0x81, key, 0x01, 0x01}));
    EXPECT_EQ(atLimit.result.ErrorText(),
              "Invalid MessagePack data at position " + std::to_string(kMaxMsgPackDepth + 1) + keys)
        << int{key};
    const Parsed shallow = Parse({0x81, key, 0x01, 0x01});
    EXPECT_EQ(shallow.result.ErrorText(), "Invalid MessagePack data at position 2" + keys)
        << int{key};
  }
}

TEST(MsgPackReaderDepth, HundredThousandNestedArraysStopAtTheLimit) {
  constexpr std::size_t kDepth = 100000;
  Bytes bytes(kDepth, 0x91);
  bytes.push_back(0x2A);
  const uint64_t before = base::GetAllocationStats().bytesAllocated;
  const Parsed p = Parse(bytes);
  const uint64_t allocated = base::GetAllocationStats().bytesAllocated - before;
  EXPECT_EQ(p.result.ErrorText(),
            "Invalid MessagePack data. Nesting deeper than 1000 levels at "
            "position 1000.");
  EXPECT_EQ(p.consumed, kMaxMsgPackDepth + 1) << "reading stops after the refused header";
  EXPECT_LT(allocated, 1024u * 1024) << "nothing beyond the limit was built";
}

TEST(MsgPackReaderDepth, HundredThousandNestedMapsStopAtTheLimit) {
  constexpr std::size_t kDepth = 100000;
  Bytes bytes;
  for (std::size_t i = 0; i < kDepth; ++i) bytes.insert(bytes.end(), {0x81, 0xA1, 'k'});
  const Parsed p = Parse(bytes);
  EXPECT_EQ(p.result.ErrorText(),
            "Invalid MessagePack data. Nesting deeper than 1000 levels at "
            "position " +
                std::to_string(3 * kMaxMsgPackDepth) + ".");
}

TEST(LooksLikeMsgPackTest, AcceptsOnlyMapAndArrayHeaders) {
  struct Case {
    const char* desc;
    Bytes bytes;
    bool looks;
  };
  const Case cases[] = {
      {"empty", {}, false},
      {"fixarray", {0x90}, true},
      {"fixmap first", {0x80}, true},
      {"fixarray last", {0x9F, 0x01}, true},
      {"array 16", {0xDC}, true},
      {"array 32", {0xDD}, true},
      {"map 16", {0xDE}, true},
      {"map 32", {0xDF}, true},
      {"bare fixstr", {0xA1, 'a'}, false},
      {"str 32", {0xDB}, false},
      {"negative fixint", {0xE0}, false},
      {"positive fixint", {0x7F}, false},
      {"JSON object", {'{', '}'}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LooksLikeMsgPack(c.bytes.data(), c.bytes.size()), c.looks) << c.desc;
  }
  EXPECT_FALSE(LooksLikeMsgPack(nullptr, 0));
}

}  // namespace
}  // namespace vyn::formats
