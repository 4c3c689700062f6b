// Assigning value trees to native values: the rules per target kind and the record walk.
#include "binding/AssignValue.h"

#include <cstring>
#include <limits>
#include <string_view>

#include "base/Base64.h"
#include "binding/NumberText.h"
#include "diagnostics/FormatText.h"

namespace vyn::binding {

using diagnostics::FormatText;

namespace {

constexpr const char* kRequired = "A value for '%1' is required.";
constexpr const char* kOutOfRange = "Value %1 for '%2' of type %3 is out of range";
constexpr const char* kIncorrectFormat = "Value %1 for '%2' of type %3 is in an incorrect format";
constexpr const char* kBoolFormat =
    "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", "
    "\"1\", \"0\".";
constexpr const char* kBoolInvalidType =
    "Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.";
constexpr const char* kInvalidType =
    "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.";
constexpr const char* kNoSuchEnumerator = "%1 is not a valid enumeration value for '%2'.";
constexpr const char* kNotString =
    "Couldn't assign value to '%1' because the input is not a string.";
constexpr const char* kBadBase64 =
    "Couldn't assign string value to '%1' of type blob because the input has invalid base64 "
    "characters.";
constexpr const char* kNotBlob =
    "Couldn't assign value to '%1' of type blob because the input is not a blob.";
constexpr const char* kNotEnumerator = "%1 is not a valid %2 enumeration value for '%3'.";
constexpr const char* kEnumInvalidType =
    "Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.";
constexpr const char* kUnregistered =
    "Couldn't assign value to '%1' because the input is an unregistered structure or not a "
    "structure at all.";
constexpr const char* kNotStructure =
    "Couldn't assign value to '%1' of type %2 because the input not a structure.";
constexpr const char* kMissingRequired =
    "Couldn't assign value to '%1' of type %2 because the input structure doesn't have required "
    "field '%3'.";
constexpr const char* kVectorInput =
    "Couldn't assign value to '%1' of type vector because the input not a collection.";
constexpr const char* kMapInput =
    "Couldn't assign value to '%1' of type map because the input not a structure.";

// Records of up to this many members match them against the input in one pass (on the stack).
constexpr std::size_t kMatchedAtOnce = 32;

const char* KindName(const BindingProperty& input) noexcept {
  return BindingPropertyKindName(input.kind());
}

// Sets a message whose %1 is the input value printed by its own kind (a text as itself); %2 and
// %3 are the texts given.
void FailWithInput(BindingResult& result, const char* message, const BindingProperty& input,
                   const char* second, const char* third) {
  switch (input.kind()) {
    case BindingPropertyKind::Signed:
      result.SetError(FormatText(message, input.asSigned(), second, third));
      return;
    case BindingPropertyKind::Unsigned:
      result.SetError(FormatText(message, input.asUnsigned(), second, third));
      return;
    case BindingPropertyKind::Float:
      result.SetError(FormatText(message, input.asFloat(), second, third));
      return;
    case BindingPropertyKind::Enum:
      result.SetError(FormatText(message, input.asEnum().number, second, third));
      return;
    default:
      result.SetError(FormatText(message, input.asString(), second, third));
      return;
  }
}

// 2^63 and 2^64 as doubles. The largest 64-bit values round up to these, so a float input must
// stay below them: the truncating conversion of a value at or above them is undefined.
constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

template <typename T>
bool SignedFits(double value) {
  if constexpr (sizeof(T) == 8) {
    return value >= -kTwoTo63 && value < kTwoTo63;
  } else {
    return value >= static_cast<double>(std::numeric_limits<T>::min()) &&
           value <= static_cast<double>(std::numeric_limits<T>::max());
  }
}

template <typename T>
bool UnsignedFits(double value) {
  if constexpr (sizeof(T) == 8) {
    return value >= 0.0 && value < kTwoTo64;
  } else {
    return value >= 0.0 && value <= static_cast<double>(std::numeric_limits<T>::max());
  }
}

template <typename T>
void AssignSigned(BindingResult& result, T& out, const BindingProperty& input, const char* path,
                  const char* typeName) {
  if (!result.ok()) return;
  constexpr int64_t kMin = std::numeric_limits<T>::min();
  constexpr int64_t kMax = std::numeric_limits<T>::max();
  out = 0;
  switch (input.kind()) {
    case BindingPropertyKind::Signed: {
      const int64_t value = input.asSigned();
      if (value < kMin || value > kMax) break;
      out = static_cast<T>(value);
      return;
    }
    case BindingPropertyKind::Unsigned: {
      const uint64_t value = input.asUnsigned();
      if (value > static_cast<uint64_t>(kMax)) break;
      out = static_cast<T>(value);
      return;
    }
    case BindingPropertyKind::Float: {
      const double value = input.asFloat();
      if (!SignedFits<T>(value)) break;
      out = static_cast<T>(value);
      return;
    }
    case BindingPropertyKind::String: {
      int64_t value = 0;
      switch (ParseSignedText(input.asString(), kMin, kMax, value)) {
        case NumberTextStatus::Ok:
          out = static_cast<T>(value);
          return;
        case NumberTextStatus::IncorrectFormat:
          FailWithInput(result, kIncorrectFormat, input, path, typeName);
          return;
        case NumberTextStatus::OutOfRange:
          break;
      }
      break;
    }
    case BindingPropertyKind::Enum: {
      const int32_t value = input.asEnum().number;
      if (value < kMin || value > kMax) break;
      out = static_cast<T>(value);
      return;
    }
    case BindingPropertyKind::Empty:
      assign_internal::FailRequired(result, path);
      return;
    default:
      result.SetError(FormatText(kInvalidType, path, typeName, KindName(input)));
      return;
  }
  FailWithInput(result, kOutOfRange, input, path, typeName);
}

template <typename T>
void AssignUnsigned(BindingResult& result, T& out, const BindingProperty& input, const char* path,
                    const char* typeName) {
  if (!result.ok()) return;
  constexpr uint64_t kMax = std::numeric_limits<T>::max();
  out = 0;
  switch (input.kind()) {
    case BindingPropertyKind::Signed: {
      const int64_t value = input.asSigned();
      if (value < 0 || static_cast<uint64_t>(value) > kMax) break;
      out = static_cast<T>(value);
      return;
    }
    case BindingPropertyKind::Unsigned: {
      const uint64_t value = input.asUnsigned();
      if (value > kMax) break;
      out = static_cast<T>(value);
      return;
    }
    case BindingPropertyKind::Float: {
      const double value = input.asFloat();
      if (!UnsignedFits<T>(value)) break;
      out = static_cast<T>(value);
      return;
    }
    case BindingPropertyKind::String: {
      uint64_t value = 0;
      switch (ParseUnsignedText(input.asString(), kMax, value)) {
        case NumberTextStatus::Ok:
          out = static_cast<T>(value);
          return;
        case NumberTextStatus::IncorrectFormat:
          FailWithInput(result, kIncorrectFormat, input, path, typeName);
          return;
        case NumberTextStatus::OutOfRange:
          break;
      }
      break;
    }
    case BindingPropertyKind::Enum: {
      const int32_t value = input.asEnum().number;
      if (value < 0 || static_cast<uint64_t>(value) > kMax) break;
      out = static_cast<T>(value);
      return;
    }
    case BindingPropertyKind::Empty:
      assign_internal::FailRequired(result, path);
      return;
    default:
      result.SetError(FormatText(kInvalidType, path, typeName, KindName(input)));
      return;
  }
  FailWithInput(result, kOutOfRange, input, path, typeName);
}

template <typename T>
void AssignReal(BindingResult& result, T& out, const BindingProperty& input, const char* path,
                const char* typeName) {
  if (!result.ok()) return;
  constexpr double kMax = std::numeric_limits<T>::max();
  out = 0;
  double value = 0.0;
  switch (input.kind()) {
    case BindingPropertyKind::Signed:
      value = static_cast<double>(input.asSigned());
      break;
    case BindingPropertyKind::Unsigned:
      value = static_cast<double>(input.asUnsigned());
      break;
    case BindingPropertyKind::Float:
      value = input.asFloat();
      if (value < -kMax || value > kMax) {  // a NaN passes
        FailWithInput(result, kOutOfRange, input, path, typeName);
        return;
      }
      break;
    case BindingPropertyKind::String:
      switch (ParseDoubleText(input.asString(), -kMax, kMax, value)) {
        case NumberTextStatus::Ok:
          break;
        case NumberTextStatus::IncorrectFormat:
          FailWithInput(result, kIncorrectFormat, input, path, typeName);
          return;
        case NumberTextStatus::OutOfRange:
          FailWithInput(result, kOutOfRange, input, path, typeName);
          return;
      }
      break;
    case BindingPropertyKind::Enum:
      value = static_cast<double>(input.asEnum().number);
      break;
    case BindingPropertyKind::Empty:
      assign_internal::FailRequired(result, path);
      return;
    default:
      result.SetError(FormatText(kInvalidType, path, typeName, KindName(input)));
      return;
  }
  out = static_cast<T>(value);
}

bool IsBase64Text(std::string_view text) noexcept {
  for (const char c : text) {
    const bool valid = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '+' || c == '/' || c == '=';
    if (!valid) return false;
  }
  return true;
}

// Reads the number of an enumeration value from an input; false when the input names no
// enumerator of the type.
bool EnumNumberOf(const BindingProperty& input, const BindingType& type, int32_t& number) {
  switch (input.kind()) {
    case BindingPropertyKind::Signed:
      number = static_cast<int32_t>(static_cast<uint32_t>(input.asSigned()));
      break;
    case BindingPropertyKind::Unsigned:
      number = static_cast<int32_t>(static_cast<uint32_t>(input.asUnsigned()));
      break;
    case BindingPropertyKind::Enum:
      number = input.asEnum().number;
      break;
    case BindingPropertyKind::String: {
      const std::string_view text = input.asString();
      if (const auto found = type.values.find(text); found != type.values.end()) {
        number = found->second.number;
        return true;
      }
      int64_t parsed = 0;
      if (ParseSignedText(text, std::numeric_limits<int32_t>::min(),
                          std::numeric_limits<int32_t>::max(), parsed) != NumberTextStatus::Ok) {
        return false;
      }
      number = static_cast<int32_t>(parsed);
      break;
    }
    default:
      return false;
  }
  return type.HasValue(number);
}

// Stores the number in the enumeration's size; false for a size no enumeration has.
bool StoreEnumNumber(void* out, uint32_t size, int32_t number) noexcept {
  switch (size) {
    case 1: {
      const int8_t value = static_cast<int8_t>(number);
      std::memcpy(out, &value, sizeof(value));
      return true;
    }
    case 2: {
      const int16_t value = static_cast<int16_t>(number);
      std::memcpy(out, &value, sizeof(value));
      return true;
    }
    case 4:
      std::memcpy(out, &number, sizeof(number));
      return true;
    case 8: {
      const int64_t value = number;
      std::memcpy(out, &value, sizeof(value));
      return true;
    }
    default:
      return false;
  }
}

// Whether a value has at most kSmallValueNodes nodes (itself included), found without looking at
// more of them than that.
constexpr std::size_t kSmallValueNodes = 64;
bool IsSmallValue(const BindingProperty& value) noexcept {
  const BindingProperty* pending[kSmallValueNodes];
  std::size_t depth = 0;
  std::size_t count = 1;
  const auto see = [&](const BindingProperty& child) {
    if (++count > kSmallValueNodes) return false;
    pending[depth++] = &child;
    return true;
  };
  const BindingProperty* node = &value;
  for (;;) {
    if (node->kind() == BindingPropertyKind::Collection) {
      for (const BindingProperty& element : node->elements()) {
        if (!see(element)) return false;
      }
    } else if (node->kind() == BindingPropertyKind::Structure) {
      for (const MemberView member : node->members()) {
        if (!see(member.value)) return false;
      }
    }
    if (depth == 0) return true;
    node = pending[--depth];
  }
}

}  // namespace

namespace assign_internal {

void FailRequired(BindingResult& result, const char* path) {
  result.SetError(FormatText(kRequired, path));
}

void FailVectorInput(BindingResult& result, const char* path) {
  result.SetError(FormatText(kVectorInput, path));
}

void FailMapInput(BindingResult& result, const char* path) {
  result.SetError(FormatText(kMapInput, path));
}

void AssignSharedObject(BindingResult& result, BindingProperty& out, const BindingProperty& input,
                        BindingProperty*& sharedWith) {
  if (!result.ok()) return;
  if (TakesFrom(input)) {
    // Taken whole, the value joins its input's arena alone: once the input is gone it is that
    // arena's only root, which is freed at once instead of record by record.
    TakeOrCopy(out, input);
    return;
  }
  // Scalars need no arena, so they neither join one nor start one. A large value keeps an arena
  // of its own: sharing saves it next to nothing, and alone it is freed at once when it goes
  // rather than record by record.
  const bool shares = input.kind() > BindingPropertyKind::Float && IsSmallValue(input);
  if (shares && sharedWith != nullptr) out.shareArenaWith(*sharedWith);
  AssignObject(result, out, input);
  if (shares && sharedWith == nullptr) sharedWith = &out;
}

}  // namespace assign_internal

void AssignBool(BindingResult& result, bool& out, const BindingProperty& input, const char* path) {
  if (!result.ok()) return;
  out = false;
  switch (input.kind()) {
    case BindingPropertyKind::Bool:
      out = input.asBool();
      return;
    case BindingPropertyKind::String: {
      const std::string_view text = input.asString();
      if (text == "1" || text == "true") {
        out = true;
      } else if (text != "0" && text != "false") {
        result.SetError(FormatText(kBoolFormat, text, path));
      }
      return;
    }
    case BindingPropertyKind::Empty:
      assign_internal::FailRequired(result, path);
      return;
    default:
      result.SetError(FormatText(kBoolInvalidType, path, KindName(input)));
      return;
  }
}

void AssignInteger(BindingResult& result, int8_t& out, const BindingProperty& input,
                   const char* path) {
  AssignSigned(result, out, input, path, "int8");
}
void AssignInteger(BindingResult& result, int16_t& out, const BindingProperty& input,
                   const char* path) {
  AssignSigned(result, out, input, path, "int16");
}
void AssignInteger(BindingResult& result, int32_t& out, const BindingProperty& input,
                   const char* path) {
  AssignSigned(result, out, input, path, "int32");
}
void AssignInteger(BindingResult& result, int64_t& out, const BindingProperty& input,
                   const char* path) {
  AssignSigned(result, out, input, path, "int64");
}
void AssignInteger(BindingResult& result, uint8_t& out, const BindingProperty& input,
                   const char* path) {
  AssignUnsigned(result, out, input, path, "uint8");
}
void AssignInteger(BindingResult& result, uint16_t& out, const BindingProperty& input,
                   const char* path) {
  AssignUnsigned(result, out, input, path, "uint16");
}
void AssignInteger(BindingResult& result, uint32_t& out, const BindingProperty& input,
                   const char* path) {
  AssignUnsigned(result, out, input, path, "uint32");
}
void AssignInteger(BindingResult& result, uint64_t& out, const BindingProperty& input,
                   const char* path) {
  AssignUnsigned(result, out, input, path, "uint64");
}

void AssignFloating(BindingResult& result, float& out, const BindingProperty& input,
                    const char* path) {
  AssignReal(result, out, input, path, "float");
}
void AssignFloating(BindingResult& result, double& out, const BindingProperty& input,
                    const char* path) {
  AssignReal(result, out, input, path, "double");
}

void AssignString(const BindingRegistry& registry, BindingResult& result, std::string& out,
                  const BindingProperty& input, const char* path) {
  if (!result.ok()) return;
  switch (input.kind()) {
    case BindingPropertyKind::String:
      out.assign(input.asString());
      return;
    case BindingPropertyKind::Enum: {
      const BindingEnum value = input.asEnum();
      if (const char* name = registry.EnumeratorName(value.type, value.number)) {
        out.assign(name);
        return;
      }
      out.clear();
      result.SetError(FormatText(kNoSuchEnumerator, value.number, path));
      return;
    }
    case BindingPropertyKind::Empty:
      out.clear();
      assign_internal::FailRequired(result, path);
      return;
    default:
      out.clear();
      result.SetError(FormatText(kNotString, path));
      return;
  }
}

void AssignBlob(BindingResult& result, std::vector<uint8_t>& out, const BindingProperty& input,
                const char* path) {
  if (!result.ok()) return;
  switch (input.kind()) {
    case BindingPropertyKind::Blob: {
      const std::span<const uint8_t> bytes = input.asBlob();
      out.assign(bytes.begin(), bytes.end());
      return;
    }
    case BindingPropertyKind::String: {
      const std::string_view text = input.asString();
      if (!IsBase64Text(text)) {
        out.clear();
        result.SetError(FormatText(kBadBase64, path));
        return;
      }
      out = base::Base64Decode(text);
      return;
    }
    case BindingPropertyKind::Empty:
      out.clear();
      assign_internal::FailRequired(result, path);
      return;
    default:
      out.clear();
      result.SetError(FormatText(kNotBlob, path));
      return;
  }
}

void AssignObject(BindingResult& result, BindingProperty& out, const BindingProperty& input) {
  if (!result.ok()) return;
  TakeOrCopy(out, input);
}

void AssignEnum(const BindingRegistry& registry, BindingResult& result, void* out,
                const BindingProperty& input, const char* path, const BindingType* type) {
  (void)registry;  // the described type carries the enumerators
  if (!result.ok()) return;
  if (input.kind() == BindingPropertyKind::Empty) {
    if (type != nullptr) StoreEnumNumber(out, type->size, 0);
    assign_internal::FailRequired(result, path);
    return;
  }
  if (type == nullptr) {
    result.SetError(FormatText(kUnregistered, path));
    return;
  }
  int32_t number = 0;
  switch (input.kind()) {
    case BindingPropertyKind::Signed:
    case BindingPropertyKind::Unsigned:
    case BindingPropertyKind::String:
    case BindingPropertyKind::Enum:
      if (EnumNumberOf(input, *type, number)) {
        StoreEnumNumber(out, type->size, number);
        return;
      }
      StoreEnumNumber(out, type->size, 0);
      FailWithInput(result, kNotEnumerator, input, type->name.c_str(), path);
      return;
    default:
      StoreEnumNumber(out, type->size, 0);
      result.SetError(FormatText(kEnumInvalidType, path, KindName(input)));
      return;
  }
}

void AssignRecord(const BindingRegistry& registry, BindingResult& result, void* record,
                  const BindingProperty& input, const char* path, const BindingType* type) {
  if (!result.ok()) return;
  if (input.kind() == BindingPropertyKind::Empty) {
    assign_internal::FailRequired(result, path);
    return;
  }
  if (type == nullptr) {
    result.SetError(FormatText(kUnregistered, path));
    return;
  }
  if (input.kind() != BindingPropertyKind::Structure) {
    result.SetError(FormatText(kNotStructure, path, type->name));
    return;
  }
  // A record whose members are always the same finds them all in one pass over the input.
  const BindingProperty* matched[kMatchedAtOnce];
  const bool atOnce = !type->memberKeys.empty() && type->memberKeys.size() <= kMatchedAtOnce;
  if (atOnce) input.matchMembers(type->memberKeys, matched);
  for (const BindingField& field : type->fields) {
    const BindingProperty* found = atOnce ? matched[field.rank] : &input.member(field.name);
    const BindingProperty& member = found != nullptr ? *found : BindingProperty::EmptyNode();
    if (member.kind() != BindingPropertyKind::Empty) {
      AssignMember(registry, result, record, member, field);
      if (!result.ok()) return;
    } else if ((field.flags & kFieldRequired) != 0) {
      result.SetError(FormatText(kMissingRequired, path, type->name, field.name));
      return;
    }
  }
}

void AssignMember(const BindingRegistry& registry, BindingResult& result, void* record,
                  const BindingProperty& input, const BindingField& field) {
  if (!result.ok()) return;
  void* member = static_cast<char*>(record) + field.offset;
  const char* path = field.name.c_str();
  const BindingTypeKind kind = field.type.kind;
  const BindingType* described = field.type.type;
  if (field.converter != nullptr &&
      (field.optional || kind == BindingTypeKind::Blob || kind == BindingTypeKind::Callback ||
       kind < BindingTypeKind::Bool || kind > BindingTypeKind::Map)) {
    field.converter->FromValue(result, member, input, path, described, registry);
    return;
  }
  bool handled = true;
  switch (kind) {
    case BindingTypeKind::Enum:
      AssignEnum(registry, result, member, input, path, described);
      break;
    case BindingTypeKind::Struct:
      AssignRecord(registry, result, member, input, path, described);
      break;
    case BindingTypeKind::Vector:
      handled = VisitLeafKind(field.type.elementKind, [&](auto tag) {
        using Element = typename decltype(tag)::type;
        auto& target = *static_cast<std::vector<Element>*>(member);
        AssignVector(registry, result, target, input, path, nullptr);
      });
      break;
    case BindingTypeKind::Map:
      handled = VisitLeafKind(field.type.elementKind, [&](auto tag) {
        using Element = typename decltype(tag)::type;
        auto& target = *static_cast<std::unordered_map<std::string, Element>*>(member);
        AssignMap(registry, result, target, input, path, nullptr);
      });
      break;
    default:
      handled = VisitLeafKind(kind, [&](auto tag) {
        using Leaf = typename decltype(tag)::type;
        AssignNative(registry, result, *static_cast<Leaf*>(member), input, path, nullptr);
      });
      break;
  }
  // Vectors and maps of records or enumerations convert only through their converter; a member
  // that needs one and was registered without it is left untouched.
  if (!handled && field.converter != nullptr) {
    field.converter->FromValue(result, member, input, path, described, registry);
  }
}

}  // namespace vyn::binding
