// Assigning value trees to native values: records by their registered descriptions, and
// scalars, strings, blobs, values, enumerations, vectors and maps by their native types.
//
// Every operation does nothing when the result has already failed (vectors and maps empty their
// target before that test), and on failure stores the one message through SetError, so the first
// failure is the one reported and the walk stops there. The native target is written even when
// the operation fails (a scalar gets 0, a string the empty text, a blob no bytes; records, vectors
// and maps may be left partly assigned): callers discard it when the result is not ok.
//
// `path` names what is assigned in the messages: the caller's label at the top, a member's own
// name inside a record, and the vector's or map's own path for its elements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingRegistry.h"
#include "binding/BindingType.h"
#include "binding/BindingTypeId.h"
#include "binding/ValueTaking.h"

namespace vyn::binding {

// A whole record: an "empty" input is a missing value; a null type is an unregistered record.
void AssignRecord(const BindingRegistry& registry, BindingResult& result, void* record,
                  const BindingProperty& input, const char* path, const BindingType* type);
// One member of a record from a non-empty input, at record + field offset, with the member's
// name as path.
void AssignMember(const BindingRegistry& registry, BindingResult& result, void* record,
                  const BindingProperty& input, const BindingField& field);

// One operation per leaf kind.
void AssignBool(BindingResult& result, bool& out, const BindingProperty& input, const char* path);
void AssignInteger(BindingResult& result, int8_t& out, const BindingProperty& input,
                   const char* path);
void AssignInteger(BindingResult& result, int16_t& out, const BindingProperty& input,
                   const char* path);
void AssignInteger(BindingResult& result, int32_t& out, const BindingProperty& input,
                   const char* path);
void AssignInteger(BindingResult& result, int64_t& out, const BindingProperty& input,
                   const char* path);
void AssignInteger(BindingResult& result, uint8_t& out, const BindingProperty& input,
                   const char* path);
void AssignInteger(BindingResult& result, uint16_t& out, const BindingProperty& input,
                   const char* path);
void AssignInteger(BindingResult& result, uint32_t& out, const BindingProperty& input,
                   const char* path);
void AssignInteger(BindingResult& result, uint64_t& out, const BindingProperty& input,
                   const char* path);
void AssignFloating(BindingResult& result, float& out, const BindingProperty& input,
                    const char* path);
void AssignFloating(BindingResult& result, double& out, const BindingProperty& input,
                    const char* path);
// An "enum" input becomes its enumerator's name, looked up in the registry.
void AssignString(const BindingRegistry& registry, BindingResult& result, std::string& out,
                  const BindingProperty& input, const char* path);
// A "string" input must be Base64 text.
void AssignBlob(BindingResult& result, std::vector<uint8_t>& out, const BindingProperty& input,
                const char* path);
// A deep copy of any input, "empty" included (within AssignNativeTaking, a take); never fails.
void AssignObject(BindingResult& result, BindingProperty& out, const BindingProperty& input);
// The enumerator's number, stored in the enumeration's registered size (1, 2, 4 or 8 bytes; any
// other size leaves the target unchanged). A null type is an unregistered enumeration.
void AssignEnum(const BindingRegistry& registry, BindingResult& result, void* out,
                const BindingProperty& input, const char* path, const BindingType* type);

namespace assign_internal {
void FailRequired(BindingResult& result, const char* path);
void FailVectorInput(BindingResult& result, const char* path);
void FailMapInput(BindingResult& result, const char* path);
// One value of a vector or map of values, as AssignObject. The values that need storage share the
// arena of the first one that did (`sharedWith`, null until then): a record holding many small
// trees would otherwise pay for an arena per tree. The elements stay apart from each other in
// every other respect; only their thread rule is shared (see BindingProperty::shareArenaWith).
void AssignSharedObject(BindingResult& result, BindingProperty& out, const BindingProperty& input,
                        BindingProperty*& sharedWith);
}  // namespace assign_internal

template <typename T>
void AssignNative(const BindingRegistry& registry, BindingResult& result, T& out,
                  const BindingProperty& input, const char* path, const BindingType* described);

// The fixed-width integer type of an integer type's size and signedness. Only the 64-bit types
// come in two spellings (long and long long); narrower ones are their fixed-width types already.
template <typename T>
using FixedWidthOf =
    std::conditional_t<sizeof(T) == 8, std::conditional_t<std::is_signed_v<T>, int64_t, uint64_t>,
                       T>;

// A vector: emptied, then sized to the input collection; "empty" elements keep their default.
// `elementType` describes records and enumerations. Values (BindingProperty) share one arena.
template <typename T, typename A>
void AssignVector(const BindingRegistry& registry, BindingResult& result, std::vector<T, A>& out,
                  const BindingProperty& input, const char* path, const BindingType* elementType) {
  out.clear();
  if (!result.ok()) return;
  if (input.kind() != BindingPropertyKind::Collection) {
    if (std::is_same_v<T, bool> && input.kind() == BindingPropertyKind::Empty) {
      assign_internal::FailRequired(result, path);
    } else {
      assign_internal::FailVectorInput(result, path);
    }
    return;
  }
  const std::span<const BindingProperty> elements = input.elements();
  out.resize(elements.size());
  [[maybe_unused]] BindingProperty* sharedWith = nullptr;
  for (std::size_t i = 0; i < elements.size() && result.ok(); ++i) {
    if (elements[i].kind() == BindingPropertyKind::Empty) continue;
    if constexpr (std::is_same_v<T, bool>) {
      bool value = false;
      AssignBool(result, value, elements[i], path);
      out[i] = value;
    } else if constexpr (std::is_same_v<T, BindingProperty>) {
      assign_internal::AssignSharedObject(result, out[i], elements[i], sharedWith);
    } else {
      AssignNative(registry, result, out[i], elements[i], path, elementType);
    }
  }
}

// A map from text: cleared, then one key per non-empty member of the input structure, in name
// order. Values (BindingProperty) share one arena.
template <typename T>
void AssignMap(const BindingRegistry& registry, BindingResult& result,
               std::unordered_map<std::string, T>& out, const BindingProperty& input,
               const char* path, const BindingType* elementType) {
  out.clear();
  if (!result.ok()) return;
  if (input.kind() != BindingPropertyKind::Structure) {
    assign_internal::FailMapInput(result, path);
    return;
  }
  out.reserve(input.size());
  [[maybe_unused]] BindingProperty* sharedWith = nullptr;  // map nodes stay put
  for (const MemberView member : input.members()) {
    if (!result.ok()) return;
    if (member.value.kind() == BindingPropertyKind::Empty) continue;
    T& slot = out.try_emplace(std::string(member.name)).first->second;
    if constexpr (std::is_same_v<T, BindingProperty>) {
      assign_internal::AssignSharedObject(result, slot, member.value, sharedWith);
    } else {
      AssignNative(registry, result, slot, member.value, path, elementType);
    }
  }
}

// Assigns to any native type by its kind. `described` is the registered record or enumeration
// for records and enumerations, or for the elements of vectors and maps of them.
template <typename T>
void AssignNative(const BindingRegistry& registry, BindingResult& result, T& out,
                  const BindingProperty& input, const char* path, const BindingType* described) {
  constexpr BindingTypeKind kind = NativeKindOf<T>();
  if constexpr (kind == BindingTypeKind::Bool) {
    AssignBool(result, out, input, path);
  } else if constexpr (std::is_integral_v<T>) {
    using Fixed = FixedWidthOf<T>;
    if constexpr (std::is_same_v<T, Fixed>) {
      AssignInteger(result, out, input, path);
    } else {
      Fixed value = static_cast<Fixed>(out);
      AssignInteger(result, value, input, path);
      out = static_cast<T>(value);
    }
  } else if constexpr (kind == BindingTypeKind::Float || kind == BindingTypeKind::Double) {
    AssignFloating(result, out, input, path);
  } else if constexpr (kind == BindingTypeKind::String) {
    AssignString(registry, result, out, input, path);
  } else if constexpr (kind == BindingTypeKind::Object) {
    AssignObject(result, out, input);
  } else if constexpr (kind == BindingTypeKind::Blob) {
    AssignBlob(result, out, input, path);
  } else if constexpr (kind == BindingTypeKind::Vector) {
    AssignVector(registry, result, out, input, path, described);
  } else if constexpr (kind == BindingTypeKind::Map) {
    AssignMap(registry, result, out, input, path, described);
  } else if constexpr (kind == BindingTypeKind::Enum) {
    AssignEnum(registry, result, &out, input, path, described);
  } else {
    static_assert(kind == BindingTypeKind::Struct);
    AssignRecord(registry, result, &out, input, path, described);
  }
}

// AssignNative from a temporary that may be taken apart: each value (a BindingProperty target)
// takes its input's collection or structure (BindingProperty::takeFrom) instead of copying it,
// leaving that node of `input` empty. Everything else is assigned, and fails, as by AssignNative.
template <typename T>
void AssignNativeTaking(const BindingRegistry& registry, BindingResult& result, T& out,
                        BindingProperty& input, const char* path, const BindingType* described) {
  const TakingScope taking;
  AssignNative(registry, result, out, input, path, described);
}

// Assigns a value tree to a native value (records and enumerations by their registered types).
// On success the result is ok and empty.
template <typename T>
[[nodiscard]] BindingResult ValueToNative(const BindingRegistry& registry,
                                          const BindingProperty& input, T& out, const char* path) {
  BindingResult result;
  AssignNative(registry, result, out, input, path, DescribedTypeIn<T>(registry));
  return result;
}

}  // namespace vyn::binding
