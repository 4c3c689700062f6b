// Descriptors of the type registry: the native kinds of members, registered records and
// enumerations with their members and enumerators, functions, events, and the per-member
// converters. Descriptors are owned by their BindingRegistry and never change after registration
// (except when the registry is cleared), so readers use them without a lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingTypeId.h"

namespace vyn::binding {

class BindingRegistry;
struct BindingType;
struct BindingFunction;

// The native type of a member, argument, return value or element. The numbers cross the host
// boundary in the API description.
enum class BindingTypeKind : uint32_t {
  None = 0,
  Bool = 1,
  Int8 = 2,
  UInt8 = 3,
  Int16 = 4,
  UInt16 = 5,
  Int32 = 6,
  UInt32 = 7,
  Int64 = 8,
  UInt64 = 9,
  Float = 10,
  Double = 11,
  String = 12,
  Object = 13,    // a BindingProperty held by value
  Blob = 14,      // std::vector<uint8_t>
  Vector = 15,    // std::vector of the element kind
  Enum = 16,      // an integer of the enumeration's size (1, 2, 4 or 8 bytes)
  Struct = 17,    // a registered record
  Callback = 18,  // converted only by the member's converter
  Map = 19,       // std::unordered_map<std::string, element kind>
};

// "bool" .. "map"; the empty text for any other number (0 included).
const char* BindingTypeKindName(uint32_t kind) noexcept;
inline const char* BindingTypeKindName(BindingTypeKind kind) noexcept {
  return BindingTypeKindName(static_cast<uint32_t>(kind));
}

// The type of a member, argument, return value or element.
struct BindingTypeRef {
  BindingTypeKind kind = BindingTypeKind::None;
  BindingTypeKind elementKind = BindingTypeKind::None;  // for Vector and Map only
  // The described record or enumeration, for Enum and Struct and for vectors and maps of them;
  // null when there is none, or when it was not registered yet when the member was added.
  const BindingType* type = nullptr;
};

// Member flags.
inline constexpr uint32_t kFieldOmitEmpty = 1u << 0;  // values leave out empty or zero members
inline constexpr uint32_t kFieldRequired = 1u << 1;   // assignment fails when the member is absent

// Converts one member whose native type only its registration knows (vectors and maps of records
// and enumerations, callbacks, optional members). Created by the typed registration helpers, owned
// by the field, stateless and shared by every thread.
class BindingFieldConverter {
 public:
  BindingFieldConverter() = default;
  BindingFieldConverter(const BindingFieldConverter&) = delete;
  BindingFieldConverter& operator=(const BindingFieldConverter&) = delete;
  virtual ~BindingFieldConverter() = default;

  // Assigns `input` to the member at `member` by the assignment rules; does nothing when `result`
  // has already failed. `type` is the member's described record or enumeration (or null).
  virtual void FromValue(BindingResult& result, void* member, const BindingProperty& input,
                         const char* path, const BindingType* type,
                         const BindingRegistry& registry) const = 0;
  // Resets `result` (value and ok flag) and sets it to the member's value.
  virtual void ToValue(BindingResult& result, const void* member, const BindingType* type,
                       const BindingRegistry& registry) const = 0;
  // Writes the member's value into `out`, a fresh empty node that may live inside `status`'s own
  // tree. On failure calls status.SetError and returns false; `out` must not be touched after
  // that. The default converts through ToValue into a temporary and copies it over; the typed
  // converters write in place, which spares the temporary its arena.
  virtual bool WriteValue(BindingProperty& out, BindingResult& status, const void* member,
                          const BindingType* type, const BindingRegistry& registry) const;
};

// One member of a registered record.
struct BindingField {
  std::string name;
  uint32_t nameHash = 0;  // FNV-1a of the name
  // The name as every value written from a record names the member (BindingArena::SharedText).
  MemberKey key{nullptr};
  std::string description;
  const BindingTypeId* identity = nullptr;  // of the member's native type
  uint32_t offset = 0;                      // bytes from the start of the record
  BindingTypeRef type;
  uint32_t flags = 0;  // kFieldOmitEmpty, kFieldRequired
  std::unique_ptr<const BindingFieldConverter> converter;
  const BindingType* owner = nullptr;
  // Every conversion goes through the converter; the host description marks it optional.
  bool optional = false;
  // The member's place among the record's members in name order (see BindingType::memberKeys).
  uint32_t rank = 0;
};

// One enumerator.
struct BindingEnumValue {
  int32_t number = 0;
  std::string name;
  std::string description;
  const BindingType* owner = nullptr;
};

// Orders names by their bytes as unsigned values (std::string's own comparison).
using BindingEnumValueMap = std::map<std::string, BindingEnumValue, std::less<>>;

// A registered record or enumeration.
struct BindingType {
  uint32_t size = 0;  // native size in bytes
  bool isEnum = false;
  std::string name;  // the registry key
  uint32_t identityNumber = 0;
  const BindingTypeId* identity = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
  std::vector<BindingField> fields;  // records: registration order
  // The fields' names in ascending order, when every field has a name of its own and none is left
  // out when empty: a record's structure then always has these members, and is laid out at once.
  // Empty otherwise.
  std::vector<MemberKey> memberKeys;
  BindingEnumValueMap values;        // enumerations: by name
  const BindingRegistry* registry = nullptr;

  // The first enumerator in name order with that number, or null.
  const BindingEnumValue* FindValue(int32_t number) const noexcept {
    for (const auto& entry : values) {
      if (entry.second.number == number) return &entry.second;
    }
    return nullptr;
  }
  bool HasValue(int32_t number) const noexcept { return FindValue(number) != nullptr; }
};

// One parameter of a function.
struct BindingArgument {
  std::string name;
  uint32_t nameHash = 0;
  std::string description;
  bool optional = false;
  BindingTypeRef type;
  const BindingFunction* owner = nullptr;
};

// What the function dispatcher attaches to a function to call it; destroyed with the function.
class BindingInvocationData {
 public:
  BindingInvocationData() = default;
  BindingInvocationData(const BindingInvocationData&) = delete;
  BindingInvocationData& operator=(const BindingInvocationData&) = delete;
  virtual ~BindingInvocationData() = default;
};

// One callable function (an endpoint).
struct BindingFunction {
  std::string name;
  std::vector<BindingArgument> arguments;
  BindingTypeRef returnType;  // kind None when nothing is returned
  std::vector<std::string> tags;
  std::unique_ptr<BindingInvocationData> invocation;
  std::string nameSpace;
  std::string description;
  std::string help;
  bool threadSafe = false;
  bool async = false;  // completes later; the return type's record is its asynchronous result
  const BindingRegistry* registry = nullptr;
};

// One event the plugin can emit.
struct BindingEvent {
  std::string name;
  const BindingType* payloadType = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
};

// ---------------------------------------------------------------------------------------------
// Native kinds of C++ types, as the typed registration helpers and conversions derive them.

template <typename T>
struct IsStdVector : std::false_type {};
template <typename T, typename A>
struct IsStdVector<std::vector<T, A>> : std::true_type {};

template <typename T>
struct IsStringMap : std::false_type {};
template <typename T>
struct IsStringMap<std::unordered_map<std::string, T>> : std::true_type {};

// Kinds 1 to 17 and 19 (callbacks have no native type of their own).
template <typename T>
constexpr BindingTypeKind NativeKindOf() {
  using U = std::remove_cv_t<T>;
  if constexpr (std::is_same_v<U, bool>) {
    return BindingTypeKind::Bool;
  } else if constexpr (std::is_same_v<U, char> || std::is_same_v<U, wchar_t> ||
                       std::is_same_v<U, char8_t> || std::is_same_v<U, char16_t> ||
                       std::is_same_v<U, char32_t>) {
    static_assert(!std::is_same_v<U, U>, "characters have no native kind: use int8_t or uint8_t");
    return BindingTypeKind::None;
  } else if constexpr (std::is_integral_v<U>) {
    constexpr BindingTypeKind kSigned[] = {BindingTypeKind::Int8, BindingTypeKind::Int16,
                                           BindingTypeKind::Int32, BindingTypeKind::Int64};
    constexpr BindingTypeKind kUnsigned[] = {BindingTypeKind::UInt8, BindingTypeKind::UInt16,
                                             BindingTypeKind::UInt32, BindingTypeKind::UInt64};
    constexpr std::size_t kIndex = sizeof(U) == 1 ? 0 : sizeof(U) == 2 ? 1 : sizeof(U) == 4 ? 2 : 3;
    return std::is_signed_v<U> ? kSigned[kIndex] : kUnsigned[kIndex];
  } else if constexpr (std::is_same_v<U, float>) {
    return BindingTypeKind::Float;
  } else if constexpr (std::is_same_v<U, double>) {
    return BindingTypeKind::Double;
  } else if constexpr (std::is_same_v<U, std::string>) {
    return BindingTypeKind::String;
  } else if constexpr (std::is_same_v<U, BindingProperty>) {
    return BindingTypeKind::Object;
  } else if constexpr (std::is_same_v<U, std::vector<uint8_t>>) {
    return BindingTypeKind::Blob;
  } else if constexpr (IsStdVector<U>::value) {
    return BindingTypeKind::Vector;
  } else if constexpr (IsStringMap<U>::value) {
    return BindingTypeKind::Map;
  } else if constexpr (std::is_enum_v<U>) {
    static_assert(sizeof(U) == 1 || sizeof(U) == 2 || sizeof(U) == 4 || sizeof(U) == 8);
    return BindingTypeKind::Enum;
  } else if constexpr (std::is_class_v<U>) {
    return BindingTypeKind::Struct;
  } else {
    static_assert(!std::is_same_v<U, U>, "this type has no native kind");
    return BindingTypeKind::None;
  }
}

// The element kind of vectors and maps, else None.
template <typename T>
constexpr BindingTypeKind NativeElementKindOf() {
  using U = std::remove_cv_t<T>;
  constexpr BindingTypeKind kind = NativeKindOf<U>();
  if constexpr (kind == BindingTypeKind::Vector) {
    return NativeKindOf<typename U::value_type>();
  } else if constexpr (kind == BindingTypeKind::Map) {
    return NativeKindOf<typename U::mapped_type>();
  } else {
    return BindingTypeKind::None;
  }
}

// The element type of a vector or map.
template <typename T>
struct ElementTypeOf {
  using type = void;
};
template <typename T, typename A>
struct ElementTypeOf<std::vector<T, A>> {
  using type = T;
};
template <typename T>
struct ElementTypeOf<std::unordered_map<std::string, T>> {
  using type = T;
};

// T itself when T is a record or enumeration, else void.
template <typename T, BindingTypeKind Kind = NativeKindOf<T>()>
struct RecordOrEnumOf {
  using type = void;
};
template <typename T>
struct RecordOrEnumOf<T, BindingTypeKind::Enum> {
  using type = std::remove_cv_t<T>;
};
template <typename T>
struct RecordOrEnumOf<T, BindingTypeKind::Struct> {
  using type = std::remove_cv_t<T>;
};

// The type whose BindingType a member of type T refers to (the record or enumeration itself, or
// the element of a vector or map when that is one), or void when there is none.
template <typename T, BindingTypeKind Kind = NativeKindOf<T>()>
struct DescribedTypeOf : RecordOrEnumOf<T> {};
template <typename T>
struct DescribedTypeOf<T, BindingTypeKind::Vector>
    : RecordOrEnumOf<typename ElementTypeOf<std::remove_cv_t<T>>::type> {};
template <typename T>
struct DescribedTypeOf<T, BindingTypeKind::Map>
    : RecordOrEnumOf<typename ElementTypeOf<std::remove_cv_t<T>>::type> {};

// Calls f(std::type_identity<N>{}) with the native type N of a leaf kind (1 to 14); false, and
// no call, for any other kind. The generic conversions of members and of vector and map
// elements go through it.
template <typename F>
bool VisitLeafKind(BindingTypeKind kind, F&& f) {
  switch (kind) {
    case BindingTypeKind::Bool:
      f(std::type_identity<bool>{});
      return true;
    case BindingTypeKind::Int8:
      f(std::type_identity<int8_t>{});
      return true;
    case BindingTypeKind::UInt8:
      f(std::type_identity<uint8_t>{});
      return true;
    case BindingTypeKind::Int16:
      f(std::type_identity<int16_t>{});
      return true;
    case BindingTypeKind::UInt16:
      f(std::type_identity<uint16_t>{});
      return true;
    case BindingTypeKind::Int32:
      f(std::type_identity<int32_t>{});
      return true;
    case BindingTypeKind::UInt32:
      f(std::type_identity<uint32_t>{});
      return true;
    case BindingTypeKind::Int64:
      f(std::type_identity<int64_t>{});
      return true;
    case BindingTypeKind::UInt64:
      f(std::type_identity<uint64_t>{});
      return true;
    case BindingTypeKind::Float:
      f(std::type_identity<float>{});
      return true;
    case BindingTypeKind::Double:
      f(std::type_identity<double>{});
      return true;
    case BindingTypeKind::String:
      f(std::type_identity<std::string>{});
      return true;
    case BindingTypeKind::Object:
      f(std::type_identity<BindingProperty>{});
      return true;
    case BindingTypeKind::Blob:
      f(std::type_identity<std::vector<uint8_t>>{});
      return true;
    default:
      return false;
  }
}

}  // namespace vyn::binding
