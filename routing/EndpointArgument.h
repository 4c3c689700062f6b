// The arguments of an endpoint as registration takes them: name, description, where a value may
// come from, and the native type.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "binding/BindingType.h"
#include "binding/BindingTypeId.h"

namespace vyn::routing {

// Where an argument may come from. The numbers cross the host boundary.
enum class ArgumentLocation : uint32_t {
  Any = 0,
  Query = 1,
  Path = 2,
  Header = 4,
  Body = 5,
};

// The native type of an argument or a return value as registration needs it.
struct NativeTypeInfo {
  const binding::BindingTypeId* identity = nullptr;  // null for void
  binding::BindingTypeKind kind = binding::BindingTypeKind::None;
  binding::BindingTypeKind elementKind = binding::BindingTypeKind::None;
  // The record or enumeration the type refers to (itself, or its elements); looked up in the
  // registry at registration, so it must be registered before the endpoint.
  const binding::BindingTypeId* described = nullptr;
};

template <typename T>
NativeTypeInfo NativeTypeOf() {
  NativeTypeInfo info;
  if constexpr (!std::is_void_v<T>) {
    info.identity = binding::TypeIdOf<T>();
    info.kind = binding::NativeKindOf<T>();
    info.elementKind = binding::NativeElementKindOf<T>();
    using Described = typename binding::DescribedTypeOf<T>::type;
    if constexpr (!std::is_void_v<Described>) info.described = binding::TypeIdOf<Described>();
  }
  return info;
}

// One argument of an endpoint, as registration takes it.
struct EndpointArgument {
  std::string name;
  std::string description;
  ArgumentLocation location = ArgumentLocation::Any;
  // An optional argument that receives no value keeps its native default; any other argument
  // without a value fails as the assignment rules say ("A value for '%1' is required.").
  bool optional = false;
  NativeTypeInfo type;
};

// An argument taken from headers, path, query or typed values.
template <typename T>
EndpointArgument Argument(std::string_view name, std::string_view description = {}) {
  return EndpointArgument{std::string(name), std::string(description), ArgumentLocation::Any, false,
                          NativeTypeOf<T>()};
}
template <typename T>
EndpointArgument OptionalArgument(std::string_view name, std::string_view description = {}) {
  return EndpointArgument{std::string(name), std::string(description), ArgumentLocation::Any, true,
                          NativeTypeOf<T>()};
}
// The argument that receives the request body (at most one per endpoint).
template <typename T>
EndpointArgument BodyArgument(std::string_view name, std::string_view description = {}) {
  return EndpointArgument{std::string(name), std::string(description), ArgumentLocation::Body,
                          false, NativeTypeOf<T>()};
}

}  // namespace vyn::routing
