// Typed registration: members are described from their native types, so registering a record is
// one line per member:
//
//   RecordBuilder<EoGStats> stats(registry, prefix + "PFTEndOfGameStats");
//   stats.AddTags(tags);
//   stats.Field("gameId", &EoGStats::gameId);
//   stats.Field("teams", &EoGStats::teams);  // std::vector<PFTEndOfGameTeam>
//
//   EnumBuilder<GameflowPhase> phase(registry, prefix + "GameflowPhase");
//   phase.Value("None", GameflowPhase::None);
//
// Offset, kind, element kind, identity and converter all follow from the member pointer. A
// member that refers to a record or enumeration finds its type by identity when it is added, so
// that type must be registered first; otherwise conversions of the member fail as unregistered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "binding/AssignValue.h"
#include "binding/BindingRegistry.h"
#include "binding/BindingType.h"
#include "binding/BindingTypeId.h"
#include "binding/RecordToValue.h"

namespace vyn::binding {

// The converter of a member of native type T: the generic rules for T in both directions.
template <typename T>
class TypedFieldConverter final : public BindingFieldConverter {
 public:
  void FromValue(BindingResult& result, void* member, const BindingProperty& input,
                 const char* path, const BindingType* type,
                 const BindingRegistry& registry) const override {
    AssignNative(registry, result, *static_cast<T*>(member), input, path, type);
  }
  void ToValue(BindingResult& result, const void* member, const BindingType* type,
               const BindingRegistry& registry) const override {
    result = BindingResult();
    (void)WriteNative(registry, result, result, *static_cast<const T*>(member), type);
  }
  bool WriteValue(BindingProperty& out, BindingResult& status, const void* member,
                  const BindingType* type, const BindingRegistry& registry) const override {
    return WriteNative(registry, out, status, *static_cast<const T*>(member), type);
  }
};

// The type reference of a native type T, with its described record or enumeration looked up in
// the registry now.
template <typename T>
BindingTypeRef TypeRefOf(const BindingRegistry& registry) {
  BindingTypeRef ref;
  ref.kind = NativeKindOf<T>();
  ref.elementKind = NativeElementKindOf<T>();
  ref.type = DescribedTypeIn<T>(registry);
  return ref;
}

// Adds a member of native type T at `offset`: the typed helper behind RecordBuilder::Field.
template <typename T>
void AddTypedField(TypeBuilder& builder, std::string_view name, uint32_t offset,
                   std::string_view description = {}, uint32_t flags = 0) {
  if (builder.alreadyRegistered()) return;
  builder.AddField(name, description, offset, TypeIdOf<T>(), TypeRefOf<T>(builder.registry()),
                   flags, std::make_unique<TypedFieldConverter<T>>(), false);
}

// The byte offset of a data member. Computed on storage that holds no object, so that records
// need no default constructor here and no object is built just to measure it.
template <typename R, typename M>
uint32_t MemberOffset(M R::*member) noexcept {
  alignas(R) unsigned char storage[sizeof(R)];
  const R* object = reinterpret_cast<const R*>(storage);
  const auto* field = reinterpret_cast<const unsigned char*>(&(object->*member));
  return static_cast<uint32_t>(field - storage);
}

// Registers record R under a name, with R's size and identity.
template <typename R>
class RecordBuilder {
 public:
  static_assert(std::is_class_v<R>, "a record is a class type");

  RecordBuilder(BindingRegistry& registry, std::string_view name)
      : builder_(registry.BeginType(static_cast<uint32_t>(sizeof(R)), name, TypeIdOf<R>(), false)) {
  }

  bool alreadyRegistered() const noexcept { return builder_.alreadyRegistered(); }
  const BindingType* type() const noexcept { return builder_.type(); }
  TypeBuilder& builder() noexcept { return builder_; }

  template <typename M>
  RecordBuilder& Field(std::string_view name, M R::*member, std::string_view description = {},
                       uint32_t flags = 0) {
    static_assert(!std::is_function_v<M>, "members are data members");
    if (!builder_.alreadyRegistered()) {
      AddTypedField<M>(builder_, name, MemberOffset(member), description, flags);
    }
    return *this;
  }

  RecordBuilder& SetDescription(std::string_view description) {
    builder_.SetDescription(description);
    return *this;
  }
  RecordBuilder& AddTag(std::string_view tag) {
    builder_.AddTag(tag);
    return *this;
  }
  RecordBuilder& AddTags(std::span<const std::string> tags) {
    builder_.AddTags(tags);
    return *this;
  }
  RecordBuilder& AddTags(std::initializer_list<std::string_view> tags) {
    builder_.AddTags(tags);
    return *this;
  }

 private:
  TypeBuilder builder_;
};

// Registers enumeration E under a name, with E's size and identity.
template <typename E>
class EnumBuilder {
 public:
  static_assert(std::is_enum_v<E>, "an enumeration is an enum type");

  EnumBuilder(BindingRegistry& registry, std::string_view name)
      : builder_(registry.BeginType(static_cast<uint32_t>(sizeof(E)), name, TypeIdOf<E>(), true)) {}

  bool alreadyRegistered() const noexcept { return builder_.alreadyRegistered(); }
  const BindingType* type() const noexcept { return builder_.type(); }
  TypeBuilder& builder() noexcept { return builder_; }

  EnumBuilder& Value(std::string_view name, E value, std::string_view description = {}) {
    builder_.AddEnumValue(name, static_cast<int32_t>(value), description);
    return *this;
  }

  EnumBuilder& SetDescription(std::string_view description) {
    builder_.SetDescription(description);
    return *this;
  }
  EnumBuilder& AddTag(std::string_view tag) {
    builder_.AddTag(tag);
    return *this;
  }
  EnumBuilder& AddTags(std::span<const std::string> tags) {
    builder_.AddTags(tags);
    return *this;
  }
  EnumBuilder& AddTags(std::initializer_list<std::string_view> tags) {
    builder_.AddTags(tags);
    return *this;
  }

 private:
  TypeBuilder builder_;
};

// Registers an event whose payload is record T.
template <typename T>
EventBuilder BeginEventOf(BindingRegistry& registry, std::string_view name) {
  return registry.BeginEvent(name, registry.LookupTypeById(TypeIdOf<T>()));
}

}  // namespace vyn::binding
