// Generated inputs for a plugin under validation.
#include "host/ValidateInputs.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <vector>

namespace vyn::host {
namespace {

// Records nest deeper than this only through optional fields, which are then left out.
constexpr int kMaxDepth = 5;

constexpr const char* kTexts[] = {"",
                                  "a",
                                  "survey",
                                  "Ünïcödé ✓",
                                  "日本語",
                                  "😀 emoji",
                                  "quote \" and \\ backslash",
                                  "line\nbreak\ttab",
                                  "   ",
                                  "0",
                                  "-1",
                                  "true",
                                  "null",
                                  "{}",
                                  "[1]",
                                  "%20?&=#"};

constexpr const char* kHugeNumbers[] = {"1e400",
                                        "-1e400",
                                        "18446744073709551616",
                                        "-9223372036854775809",
                                        "123456789012345678901234567890",
                                        "1e-400"};

std::string JsonText(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

void BigEndian(std::string& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

// A head byte, then the length in the smallest of the three widths that holds it.
void SizedHead(std::string& out, size_t size, unsigned fixBase, size_t fixLimit, unsigned wide8,
               unsigned wide16, unsigned wide32) {
  if (size < fixLimit) {
    out += static_cast<char>(fixBase | size);
  } else if (wide8 != 0 && size <= 0xff) {
    out += static_cast<char>(wide8);
    BigEndian(out, size, 1);
  } else if (size <= 0xffff) {
    out += static_cast<char>(wide16);
    BigEndian(out, size, 2);
  } else {
    out += static_cast<char>(wide32);
    BigEndian(out, size, 4);
  }
}

void MsgPack(const rapidjson::Value& value, std::string& out) {
  if (value.IsNull()) {
    out += '\xc0';
  } else if (value.IsBool()) {
    out += value.GetBool() ? '\xc3' : '\xc2';
  } else if (value.IsUint64()) {
    const uint64_t n = value.GetUint64();
    if (n < 128) {
      out += static_cast<char>(n);
    } else {
      const int bytes = n <= 0xff ? 1 : n <= 0xffff ? 2 : n <= 0xffffffff ? 4 : 8;
      out += static_cast<char>(bytes == 1 ? 0xcc : bytes == 2 ? 0xcd : bytes == 4 ? 0xce : 0xcf);
      BigEndian(out, n, bytes);
    }
  } else if (value.IsInt64()) {
    const int64_t n = value.GetInt64();
    if (n >= -32) {
      out += static_cast<char>(n);
    } else {
      out += '\xd3';
      BigEndian(out, static_cast<uint64_t>(n), 8);
    }
  } else if (value.IsNumber()) {
    const double d = value.GetDouble();
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    out += '\xcb';
    BigEndian(out, bits, 8);
  } else if (value.IsString()) {
    SizedHead(out, value.GetStringLength(), 0xa0, 32, 0xd9, 0xda, 0xdb);
    out.append(value.GetString(), value.GetStringLength());
  } else if (value.IsArray()) {
    SizedHead(out, value.Size(), 0x90, 16, 0, 0xdc, 0xdd);
    for (const auto& element : value.GetArray()) MsgPack(element, out);
  } else {
    SizedHead(out, value.MemberCount(), 0x80, 16, 0, 0xde, 0xdf);
    for (const auto& member : value.GetObject()) {
      MsgPack(member.name, out);
      MsgPack(member.value, out);
    }
  }
}

std::string YamlScalar(const rapidjson::Value& value) {
  if (value.IsNull()) return "~";
  if (value.IsNumber() && !value.IsInt64() && !value.IsUint64()) {
    // A plain YAML float needs its dot.
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value.GetDouble());
    std::string number = text;
    if (number.find_first_of(".ni") == std::string::npos) {
      const size_t e = number.find('e');
      number.insert(e == std::string::npos ? number.size() : e, ".0");
    }
    return number;
  }
  return JsonText(value);  // JSON's strings are YAML's double-quoted scalars
}

bool IsNonEmptyContainer(const rapidjson::Value& value) {
  return (value.IsArray() && !value.Empty()) || (value.IsObject() && value.MemberCount() > 0);
}

// Block style: one member or element a line, nested ones indented under their key or dash.
void Yaml(const rapidjson::Value& value, int indent, std::string& out) {
  const std::string pad(static_cast<size_t>(indent), ' ');
  auto item = [&](const std::string& head, const rapidjson::Value& inner) {
    out += pad + head;
    if (IsNonEmptyContainer(inner)) {
      out += "\n";
      Yaml(inner, indent + 2, out);
    } else {
      out += " " + (inner.IsArray() ? "[]" : inner.IsObject() ? "{}" : YamlScalar(inner)) + "\n";
    }
  };
  if (value.IsArray() && !value.Empty()) {
    for (const auto& element : value.GetArray()) item("-", element);
  } else if (value.IsObject() && value.MemberCount() > 0) {
    for (const auto& member : value.GetObject()) item(JsonText(member.name) + ":", member.value);
  } else {
    out += pad + (value.IsArray() ? "[]" : value.IsObject() ? "{}" : YamlScalar(value)) + "\n";
  }
}

}  // namespace

const char* ContentTypeOf(BodyFormat format) {
  switch (format) {
    case BodyFormat::MsgPack:
      return "application/x-msgpack";
    case BodyFormat::Yaml:
      return "application/x-yaml";
    case BodyFormat::Json:
      break;
  }
  return "application/json";
}

std::string Encode(const rapidjson::Value& value, BodyFormat format) {
  std::string out;
  if (format == BodyFormat::Json) return JsonText(value);
  if (format == BodyFormat::MsgPack) {
    MsgPack(value, out);
  } else {
    Yaml(value, 0, out);
  }
  return out;
}

std::string InputGenerator::Text() {
  if (Below(4) != 0) return kTexts[Below(std::size(kTexts))];
  std::string text;
  const size_t length = Below(48);
  for (size_t i = 0; i < length; ++i) text += static_cast<char>(' ' + Below(95));
  return text;
}

const TypeInfo* InputGenerator::FindType(const std::string& name) const {
  for (const TypeInfo& type : api_.types) {
    if (type.name == name) return &type;
  }
  return nullptr;
}

const TypeInfo* InputGenerator::AnyRecord() {
  std::vector<const TypeInfo*> records;
  for (const TypeInfo& type : api_.types) {
    if (!type.isEnumeration) records.push_back(&type);
  }
  return records.empty() ? nullptr : records[Below(records.size())];
}

void InputGenerator::AnyValue(rapidjson::Value& out, Allocator& allocator, int depth) {
  switch (Below(depth >= 3 ? 5 : 7)) {
    case 0:
      out.SetNull();
      break;
    case 1:
      out.SetBool(Below(2) == 0);
      break;
    case 2:
      out.SetInt64(static_cast<int64_t>(Below(2000)) - 1000);
      break;
    case 3:
      out.SetDouble(static_cast<double>(Below(100000)) / 8.0);
      break;
    case 4:
      out.SetString(Text().c_str(), allocator);
      break;
    case 5:
      out.SetArray();
      for (uint64_t i = Below(4); i > 0; --i) {
        rapidjson::Value element;
        AnyValue(element, allocator, depth + 1);
        out.PushBack(element, allocator);
      }
      break;
    default:
      out.SetObject();
      for (uint64_t i = Below(4); i > 0; --i) {
        rapidjson::Value element;
        AnyValue(element, allocator, depth + 1);
        out.AddMember(rapidjson::Value(Text().c_str(), allocator), element, allocator);
      }
  }
}

void InputGenerator::Generate(const TypeRef& type, rapidjson::Value& out, Allocator& allocator,
                              int depth) {
  // Bounds are the interesting values of an integer type; the rest are anywhere in its range.
  auto integer = [&](int64_t low, uint64_t high) {
    const uint64_t pick = Below(5);
    if (pick == 0 && low < 0) return out.SetInt64(low), void();
    if (pick == 0 || pick == 1) return out.SetUint64(pick == 1 ? high : 0), void();
    const uint64_t span = high - static_cast<uint64_t>(low);
    const uint64_t offset =
        span == std::numeric_limits<uint64_t>::max() ? random_() : Below(span + 1);
    const uint64_t raw = static_cast<uint64_t>(low) + offset;
    if (low < 0) {
      out.SetInt64(static_cast<int64_t>(raw));
    } else {
      out.SetUint64(raw);
    }
  };
  switch (type.code) {
    case 1:
      return out.SetBool(Below(2) == 0), void();
    case 2:
      return integer(-128, 127);
    case 3:
      return integer(0, 255);
    case 4:
      return integer(-32768, 32767);
    case 5:
      return integer(0, 65535);
    case 6:
      return integer(std::numeric_limits<int32_t>::min(), 2147483647u);
    case 7:
      return integer(0, 4294967295u);
    case 8:
      return integer(std::numeric_limits<int64_t>::min(),
                     uint64_t{std::numeric_limits<int64_t>::max()});
    case 9:
      return integer(0, std::numeric_limits<uint64_t>::max());
    case 10:
    case 11: {
      constexpr double kDoubles[] = {0.0, -1.5, 3.25, 1e300, -2.5e-300, 123456.789};
      const double value = type.code == 10 ? static_cast<double>(static_cast<float>(
                                                 kDoubles[Below(std::size(kDoubles) - 2) + 1]))
                                           : kDoubles[Below(std::size(kDoubles))];
      return out.SetDouble(value), void();
    }
    case 12:
      return out.SetString(Text().c_str(), allocator), void();
    case 13:
      return AnyValue(out, allocator, depth);
    case 14: {
      static constexpr char kDigits[] =
          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
      std::string text;
      for (uint64_t i = 4 * Below(6); i > 0; --i) text += kDigits[Below(64)];
      return out.SetString(text.c_str(), allocator), void();
    }
    case 15:
    case 19: {
      const TypeRef element{type.elementCode, 0, type.typeName};
      const uint64_t count = depth >= kMaxDepth ? 0 : Below(4);
      type.code == 15 ? out.SetArray() : out.SetObject();
      for (uint64_t i = 0; i < count; ++i) {
        rapidjson::Value inner;
        Generate(element, inner, allocator, depth + 1);
        if (type.code == 15) {
          out.PushBack(inner, allocator);
        } else {
          out.AddMember(rapidjson::Value(("key" + std::to_string(i)).c_str(), allocator), inner,
                        allocator);
        }
      }
      return;
    }
    case 16: {
      const TypeInfo* found = FindType(type.typeName);
      if (found == nullptr || found->enumerators.empty()) return integer(0, 3);
      const EnumeratorInfo& pick = found->enumerators[Below(found->enumerators.size())];
      if (Below(4) == 0) return out.SetInt(pick.number), void();
      return out.SetString(pick.name.c_str(), allocator), void();
    }
    case 17: {
      out.SetObject();
      const TypeInfo* found = FindType(type.typeName);
      if (found == nullptr) return;
      for (const FieldInfo& field : found->fields) {
        if (field.optional && (depth >= kMaxDepth || Below(3) == 0)) continue;
        rapidjson::Value inner;
        Generate(field.type, inner, allocator, depth + 1);
        out.AddMember(rapidjson::Value(field.name.c_str(), allocator), inner, allocator);
      }
      return;
    }
    default:
      out.SetNull();
  }
}

void InputGenerator::WrongKind(const rapidjson::Value& right, rapidjson::Value& out,
                               Allocator& allocator) {
  if (right.IsString()) {
    out.SetInt64(static_cast<int64_t>(Below(1000)));
  } else if (right.IsNumber() || right.IsBool()) {
    out.SetString(Below(2) == 0 ? "not a number" : "", allocator);
  } else if (right.IsObject()) {
    out.SetArray();
    out.PushBack(1, allocator).PushBack(rapidjson::Value("x", allocator), allocator);
  } else {
    out.SetObject();
    out.AddMember("unexpected", true, allocator);
  }
}

Body InputGenerator::Malformed(const rapidjson::Value& wellFormed, size_t index) {
  const auto format = static_cast<BodyFormat>(Below(3));
  Body body;
  body.contentType = ContentTypeOf(format);
  // A member to spoil: the first of a random object's members, or a made-up one.
  std::string member = "value";
  if (wellFormed.IsObject() && wellFormed.MemberCount() > 0) {
    member = (wellFormed.MemberBegin() + static_cast<long>(Below(wellFormed.MemberCount())))
                 ->name.GetString();
  }
  const std::string quoted = "\"" + member + "\"";
  switch (index % 8) {
    case 0: {
      const std::string whole = Encode(wellFormed, format);
      body.bytes = whole.substr(0, whole.empty() ? 0 : Below(whole.size()));
      body.label = "truncated";
      break;
    }
    case 1: {
      rapidjson::Document spoiled;
      spoiled.CopyFrom(wellFormed, spoiled.GetAllocator());
      if (spoiled.IsObject() && spoiled.MemberCount() > 0) {
        rapidjson::Value& target = spoiled[member.c_str()];
        rapidjson::Value wrong;
        WrongKind(target, wrong, spoiled.GetAllocator());
        target = wrong;
      } else {
        rapidjson::Value wrong;
        WrongKind(spoiled, wrong, spoiled.GetAllocator());
        spoiled.CopyFrom(wrong, spoiled.GetAllocator());
      }
      body.bytes = Encode(spoiled, format);
      body.label = "a member of the wrong type";
      break;
    }
    case 2: {
      constexpr size_t kDepths[] = {64, 1000, 100000};
      const size_t depth = kDepths[Below(std::size(kDepths))];
      if (format == BodyFormat::MsgPack) {
        body.bytes = std::string(depth, '\x91') + '\xc0';
      } else {
        body.bytes = std::string(depth, '[') + std::string(Below(2) == 0 ? depth : 0, ']');
      }
      body.label = "nested " + std::to_string(depth) + " deep";
      break;
    }
    case 3: {
      const std::string huge = kHugeNumbers[Below(std::size(kHugeNumbers))];
      if (format == BodyFormat::MsgPack) {
        // A key, then a double that is infinite or not a number, or the largest unsigned.
        body.bytes = '\x81' +
                     std::string(1, static_cast<char>(0xa0 | std::min<size_t>(member.size(), 31))) +
                     member.substr(0, 31);
        const uint64_t bits[] = {0x7ff0000000000000u, 0xfff8000000000000u, ~uint64_t{0}};
        const uint64_t pick = Below(3);
        body.bytes += pick == 2 ? '\xcf' : '\xcb';
        BigEndian(body.bytes, bits[pick], 8);
      } else if (format == BodyFormat::Yaml) {
        body.bytes = quoted + ": " + (Below(3) == 0 ? std::string(".inf") : huge) + "\n";
      } else {
        body.bytes = "{" + quoted + ": " + huge + "}";
      }
      body.label = "a huge number";
      break;
    }
    case 4: {
      constexpr const char* kBroken[] = {"\xff\xfe", "\xc0\xaf", "\xed\xa0\x80", "a\xe2\x82",
                                         "\xf8\x88\x80\x80\x80"};
      const std::string broken = kBroken[Below(std::size(kBroken))];
      if (format == BodyFormat::MsgPack) {
        body.bytes =
            "\x81" + std::string(1, static_cast<char>(0xa0 | broken.size())) + broken + '\xc0';
      } else if (format == BodyFormat::Yaml) {
        body.bytes = quoted + ": \"" + broken + "\"\n";
      } else {
        body.bytes = "{" + quoted + ": \"" + broken + "\"}";
      }
      body.label = "text that is not UTF-8";
      break;
    }
    case 5:
      body.present = Below(2) == 0;
      body.label = body.present ? "an empty body" : "no body with a content type";
      break;
    case 6:
      body.bytes = Encode(wellFormed, format);
      body.contentType = Below(2) == 0 ? "text/plain" : "";
      body.label = "a content type no reader takes";
      break;
    default:
      body.bytes = Encode(wellFormed, format) + (Below(2) == 0 ? "\xc1 trailing" : "}}");
      body.label = "trailing bytes";
  }
  body.label +=
      " (" + std::string(body.contentType.empty() ? "no content type" : body.contentType) + ")";
  return body;
}

}  // namespace vyn::host
