// Turning native values into value trees: records by their registered descriptions, and
// scalars, strings, blobs, values, enumerations, vectors and maps by their native types.
//
// The one failure produced here is a record or enumeration that is not registered; a failure
// anywhere below ends the walk and becomes the result's error. Values are written in place into
// the result's tree (members, elements), so a conversion needs no temporary tree of its own
// except for members that are left out when empty.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingRegistry.h"
#include "binding/BindingType.h"
#include "binding/BindingTypeId.h"

namespace vyn::binding {

// A whole record; a null type is an unregistered record. Does nothing when the result has
// already failed; otherwise the result is reset and becomes the record's structure, members
// named by their fields (so they come out in name order).
void RecordToValue(const BindingRegistry& registry, BindingResult& result, const void* record,
                   const BindingType* type);
// One member at `member` (the record's address plus the field's offset), by its field. Does
// nothing when the result has already failed; otherwise the result is reset and becomes the
// member's value.
void MemberToValue(const BindingRegistry& registry, BindingResult& result, const void* member,
                   const BindingField& field);

// Whether a member with omit-empty set is left out: "empty"; false; 0; a float equal to 0.0 (a
// NaN is kept); a string, blob, collection or structure of size 0; an enumerator number 0.
bool IsEmptyOrZero(const BindingProperty& value) noexcept;

// In-place writers. Each writes into `out`, an empty node that may lie inside `status`'s tree; on
// failure it calls status.SetError and returns false, and neither it nor its caller may touch
// `out` afterwards (the error reset the tree holding it).
namespace to_value_internal {
bool WriteRecord(const BindingRegistry& registry, BindingProperty& out, BindingResult& status,
                 const void* record, const BindingType* type);
// Reads the number in the enumeration's registered size; a null type is unregistered.
bool WriteEnum(BindingProperty& out, BindingResult& status, const void* member,
               const BindingType* type);
bool WriteMember(const BindingRegistry& registry, BindingProperty& out, BindingResult& status,
                 const void* member, const BindingField& field);
}  // namespace to_value_internal

// Writes any native value by its kind. `described` is the registered record or enumeration for
// records and enumerations, or for the elements of vectors and maps of them.
template <typename T>
bool WriteNative(const BindingRegistry& registry, BindingProperty& out, BindingResult& status,
                 const T& in, const BindingType* described) {
  constexpr BindingTypeKind kind = NativeKindOf<T>();
  if constexpr (kind == BindingTypeKind::Bool) {
    out.setBool(in);
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    out.setSigned(static_cast<int64_t>(in));
  } else if constexpr (std::is_integral_v<T>) {
    out.setUnsigned(static_cast<uint64_t>(in));
  } else if constexpr (kind == BindingTypeKind::Float || kind == BindingTypeKind::Double) {
    out.setFloat(static_cast<double>(in));
  } else if constexpr (kind == BindingTypeKind::String) {
    out.setString(std::string_view(in));
  } else if constexpr (kind == BindingTypeKind::Object) {
    out.copyFrom(in);
  } else if constexpr (kind == BindingTypeKind::Blob) {
    out.setBlob(std::span<const uint8_t>(in.data(), in.size()));
  } else if constexpr (kind == BindingTypeKind::Vector) {
    // An empty vector is an empty collection, not an empty value.
    out.makeCollection();
    out.reserve(in.size());
    if constexpr (std::is_same_v<typename T::value_type, bool>) {
      for (const bool element : in) out.appendElement().setBool(element);
    } else {
      for (const auto& element : in) {
        if (!WriteNative(registry, out.appendElement(), status, element, described)) return false;
      }
    }
  } else if constexpr (kind == BindingTypeKind::Map) {
    out.makeStructure();
    for (const auto& [key, value] : in) {
      if (!WriteNative(registry, out.memberAt(key), status, value, described)) return false;
    }
    out.closeMembers();  // see WriteRecord
  } else if constexpr (kind == BindingTypeKind::Enum) {
    return to_value_internal::WriteEnum(out, status, &in, described);
  } else {
    static_assert(kind == BindingTypeKind::Struct);
    return to_value_internal::WriteRecord(registry, out, status, &in, described);
  }
  return true;
}

// Converts a native value into a value tree (records and enumerations by their registered types).
template <typename T>
[[nodiscard]] BindingResult NativeToValue(const BindingRegistry& registry, const T& in) {
  BindingResult result;
  (void)WriteNative(registry, result, result, in, DescribedTypeIn<T>(registry));
  return result;
}

}  // namespace vyn::binding
