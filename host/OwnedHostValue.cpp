// A HostValue tree built from JSON and kept by the host.
#include "host/OwnedHostValue.h"

#include <cstring>

namespace vyn::host {

bool OwnedHostValue::Assign(const rapidjson::Value& json, std::string& error) {
  root_ = HostValue{};
  texts_.clear();
  elements_.clear();
  members_.clear();
  HostValue root{};
  if (!Convert(json, root, 0, error)) return false;
  root_ = root;
  return true;
}

void OwnedHostValue::AssignStructure(
    const std::vector<std::pair<std::string, HostValue>>& members) {
  auto array = std::make_unique<HostMember[]>(members.size());
  for (size_t i = 0; i < members.size(); ++i) {
    HostMember member{};
    member.name = CopyText(members[i].first.data(), members[i].first.size());
    member.value = members[i].second;
    member.ownsName = 0;
    std::memcpy(&array[i], &member, sizeof member);
  }
  HostValue root{};
  root.kind = kHostValueStructure;
  root.payload.ref.ptr = array.get();
  root.payload.ref.count = static_cast<uint32_t>(members.size());
  members_.push_back(std::move(array));
  root_ = root;
}

void OwnedHostValue::AssignString(const std::string& text) {
  HostValue root{};
  root.kind = kHostValueStringBorrowed;
  root.payload.ref.ptr = CopyText(text.data(), text.size());
  root.payload.ref.count = static_cast<uint32_t>(text.size());
  root_ = root;
}

const char* OwnedHostValue::CopyText(const char* text, size_t length) {
  auto copy = std::make_unique<char[]>(length + 1);
  if (length > 0) std::memcpy(copy.get(), text, length);
  copy[length] = '\0';
  texts_.push_back(std::move(copy));
  return texts_.back().get();
}

bool OwnedHostValue::Convert(const rapidjson::Value& json, HostValue& out, int depth,
                             std::string& error) {
  if (depth > kMaxDepth) {
    error = "the value is nested more than " + std::to_string(kMaxDepth) + " levels deep";
    return false;
  }
  out = HostValue{};
  switch (json.GetType()) {
    case rapidjson::kNullType:
      out.kind = kHostValueEmpty;
      return true;
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
      out.kind = kHostValueBool;
      out.payload.b = json.GetBool() ? 1 : 0;
      return true;
    case rapidjson::kNumberType:
      if (json.IsUint64()) {
        out.kind = kHostValueUnsigned;
        out.payload.u = json.GetUint64();
      } else if (json.IsInt64()) {
        out.kind = kHostValueSigned;
        out.payload.i = json.GetInt64();
      } else {
        out.kind = kHostValueFloat;
        out.payload.f = json.GetDouble();
      }
      return true;
    case rapidjson::kStringType:
      out.kind = kHostValueStringBorrowed;
      out.payload.ref.ptr = CopyText(json.GetString(), json.GetStringLength());
      out.payload.ref.count = json.GetStringLength();
      return true;
    case rapidjson::kArrayType: {
      const rapidjson::SizeType count = json.Size();
      auto array = std::make_unique<HostValue[]>(count);
      HostValue* elements = array.get();
      elements_.push_back(std::move(array));
      for (rapidjson::SizeType i = 0; i < count; ++i) {
        HostValue element{};
        if (!Convert(json[i], element, depth + 1, error)) return false;
        std::memcpy(&elements[i], &element, sizeof element);
      }
      out.kind = kHostValueCollection;
      out.payload.ref.ptr = elements;
      out.payload.ref.count = count;
      return true;
    }
    case rapidjson::kObjectType: {
      const rapidjson::SizeType count = json.MemberCount();
      auto array = std::make_unique<HostMember[]>(count);
      HostMember* members = array.get();
      members_.push_back(std::move(array));
      rapidjson::SizeType i = 0;
      for (auto it = json.MemberBegin(); it != json.MemberEnd(); ++it, ++i) {
        HostMember member{};
        member.name = CopyText(it->name.GetString(), it->name.GetStringLength());
        HostValue value{};
        if (!Convert(it->value, value, depth + 1, error)) return false;
        member.value = value;
        member.ownsName = 0;
        std::memcpy(&members[i], &member, sizeof member);
      }
      out.kind = kHostValueStructure;
      out.payload.ref.ptr = members;
      out.payload.ref.count = count;
      return true;
    }
  }
  error = "the value has an unknown JSON type";
  return false;
}

}  // namespace vyn::host
