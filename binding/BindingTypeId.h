// Process-wide identities of native types: one fixed, distinct 32-bit number and a display name
// per type, created on first use and never changed or freed while the process runs.
#pragma once

#include <concepts>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace vyn::binding {

// The identity of one native type. Compared by address: there is exactly one record per type.
struct BindingTypeId {
  uint32_t number = 0;
  // The signature text of StaticType::Name<T>, or null when the identity has none.
  const char* signature = nullptr;
  // "#%08X" of the number; the display name when there is no signature.
  char numberText[12] = {};

  // For log and error messages only.
  const char* name() const noexcept { return signature != nullptr ? signature : numberText; }
};

// The naming function whose signature text names a type; its text is also what unpinned identity
// numbers are derived from, so it must not change between builds of the same code.
struct StaticType {
  template <typename T>
  static constexpr const char* Name() noexcept {
    return __PRETTY_FUNCTION__;
  }
};

// Argument type of the pinning hook below; found by argument-dependent lookup in T's namespace.
template <typename T>
struct BindingTypeTag {};

// Types whose identity numbers are fixed by the host-facing API pin them with a constexpr
// function declared in the type's own namespace, right beside the type's definition (so that
// every translation unit that sees the type sees its number too):
//
//   struct PFTSurvey { ... };
//   constexpr uint32_t BindingTypeNumber(vyn::binding::BindingTypeTag<PFTSurvey>) noexcept {
//     return 0x958D81F0;
//   }
//
// Enumerations pin the same way. Other types get the FNV-1a hash of their signature text.
template <typename T>
concept PinnedBindingType = requires {
  { BindingTypeNumber(BindingTypeTag<T>{}) } -> std::convertible_to<uint32_t>;
};

namespace type_id_internal {

// Creates the identity record of a type. A pinned number is kept as it is (two types pinned to
// one number, or a pinned number that an earlier identity already took, is a programmer error
// and asserts). An unpinned number is the FNV-1a hash of the signature, re-hashed with a salt in
// the unlikely case that it is 0 or already taken, so that numbers stay distinct. The signature
// is kept by pointer and must live for the process. Thread-safe.
const BindingTypeId& CreateTypeId(const char* signature, bool pinned, uint32_t number);

}  // namespace type_id_internal

// FNV-1a 32-bit (standard basis and prime) of the bytes of a text.
constexpr uint32_t Fnv1a32(std::string_view text) noexcept {
  uint32_t hash = 2166136261u;
  for (const char c : text) {
    hash ^= static_cast<uint8_t>(c);
    hash *= 16777619u;
  }
  return hash;
}

// The identity of T (cv-qualifiers ignored). The first call creates it; concurrent first calls
// are safe and see the same record.
template <typename T>
const BindingTypeId* TypeIdOf() {
  using U = std::remove_cv_t<T>;
  if constexpr (!std::is_same_v<T, U>) {
    return TypeIdOf<U>();
  } else {
    static const BindingTypeId& id = []() -> const BindingTypeId& {
      if constexpr (PinnedBindingType<U>) {
        const uint32_t pinned = static_cast<uint32_t>(BindingTypeNumber(BindingTypeTag<U>{}));
        return type_id_internal::CreateTypeId(StaticType::Name<U>(), true, pinned);
      } else {
        return type_id_internal::CreateTypeId(StaticType::Name<U>(), false, 0);
      }
    }();
    return &id;
  }
}

// The identity of `void`, the return type of a function that returns nothing. A type registered
// under it is not indexed by identity.
inline const BindingTypeId* VoidTypeId() { return TypeIdOf<void>(); }

}  // namespace vyn::binding
