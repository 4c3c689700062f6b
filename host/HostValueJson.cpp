// JSON text of a HostValue tree lent by the plugin.
#include "host/HostValueJson.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstring>

namespace vyn::host {
namespace {

constexpr int kMaxDepth = 256;

// Validating the encoding keeps a plugin text that is not UTF-8 from producing broken JSON.
using JsonWriter =
    rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>,
                      rapidjson::CrtAllocator, rapidjson::kWriteValidateEncodingFlag>;

std::string Base64(const unsigned char* bytes, size_t count) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((count + 2) / 3 * 4);
  for (size_t i = 0; i < count; i += 3) {
    const uint32_t b0 = bytes[i];
    const uint32_t b1 = i + 1 < count ? bytes[i + 1] : 0u;
    const uint32_t b2 = i + 2 < count ? bytes[i + 2] : 0u;
    const uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
    out += kDigits[(triple >> 18) & 63];
    out += kDigits[(triple >> 12) & 63];
    out += i + 1 < count ? kDigits[(triple >> 6) & 63] : '=';
    out += i + 2 < count ? kDigits[triple & 63] : '=';
  }
  return out;
}

class TreeWriter {
 public:
  explicit TreeWriter(JsonWriter& writer) : writer_(writer) {}

  bool Write(const HostValue& value, int depth) {
    if (depth > kMaxDepth) return Fail("the value is nested more than 256 levels deep");
    const HostValueRef ref = value.payload.ref;
    switch (value.kind) {
      case kHostValueEmpty:
        return writer_.Null();
      case kHostValueBool:
        return writer_.Bool(value.payload.b != 0);
      case kHostValueSigned:
        return writer_.Int64(value.payload.i);
      case kHostValueUnsigned:
        return writer_.Uint64(value.payload.u);
      case kHostValueFloat: {
        const double number = value.payload.f;
        return std::isfinite(number) ? writer_.Double(number) : writer_.Null();
      }
      case kHostValueStringBorrowed:
      case kHostValueStringOwned:
        if (ref.ptr == nullptr) return ref.count == 0 ? writer_.String("", 0) : NullArray();
        return writer_.String(static_cast<const char*>(ref.ptr), ref.count, true);
      case kHostValueBlobBorrowed:
      case kHostValueBlobOwned: {
        if (ref.ptr == nullptr && ref.count != 0) return NullArray();
        const std::string text = Base64(static_cast<const unsigned char*>(ref.ptr), ref.count);
        return writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()), true);
      }
      case kHostValueCollection: {
        if (ref.ptr == nullptr && ref.count != 0) return NullArray();
        writer_.StartArray();
        const auto* elements = static_cast<const HostValue*>(ref.ptr);
        for (uint32_t i = 0; i < ref.count; ++i) {
          HostValue element;
          std::memcpy(&element, &elements[i], sizeof element);
          if (!Write(element, depth + 1)) return false;
        }
        return writer_.EndArray();
      }
      case kHostValueStructure: {
        if (ref.ptr == nullptr && ref.count != 0) return NullArray();
        writer_.StartObject();
        const auto* members = static_cast<const HostMember*>(ref.ptr);
        for (uint32_t i = 0; i < ref.count; ++i) {
          HostMember member;
          std::memcpy(&member, &members[i], sizeof member);
          const char* name = member.name != nullptr ? member.name : "";
          writer_.Key(name, static_cast<rapidjson::SizeType>(std::strlen(name)), true);
          if (!Write(member.value, depth + 1)) return false;
        }
        return writer_.EndObject();
      }
      default:
        return Fail("the value has the unknown kind " + std::to_string(value.kind));
    }
  }

  const std::string& error() const { return error_; }

 private:
  bool NullArray() { return Fail("the value points to no data but counts some"); }
  bool Fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  JsonWriter& writer_;
  std::string error_;
};

}  // namespace

bool HostValueToJson(const HostValue& value, std::string& json, std::string& error) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  TreeWriter tree(writer);
  if (!tree.Write(value, 0)) {
    error = tree.error().empty() ? "the value holds a text that is not UTF-8" : tree.error();
    return false;
  }
  json.assign(buffer.GetString(), buffer.GetSize());
  return true;
}

}  // namespace vyn::host
