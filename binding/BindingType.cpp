// Names of the native kinds and the default in-place write of member converters.
#include "binding/BindingType.h"

#include <iterator>

namespace vyn::binding {

const char* BindingTypeKindName(uint32_t kind) noexcept {
  static constexpr const char* kNames[] = {"",       "bool",   "int8",   "uint8",    "int16",
                                           "uint16", "int32",  "uint32", "int64",    "uint64",
                                           "float",  "double", "string", "object",   "blob",
                                           "vector", "enum",   "struct", "callback", "map"};
  return kind < std::size(kNames) ? kNames[kind] : "";
}

bool BindingFieldConverter::WriteValue(BindingProperty& out, BindingResult& status,
                                       const void* member, const BindingType* type,
                                       const BindingRegistry& registry) const {
  BindingResult value;
  ToValue(value, member, type, registry);
  if (!value.ok()) {
    status.SetError(value.ErrorText());
    return false;
  }
  out.moveFrom(value);
  return true;
}

}  // namespace vyn::binding
