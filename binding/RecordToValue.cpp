// Turning native records into value trees: the record walk, enumerations and members by kind.
#include "binding/RecordToValue.h"

#include <cstring>

namespace vyn::binding {
namespace {

constexpr const char* kUnregistered =
    "Couldn't convert native value because it's an unregistered structure.";

bool NeedsConverter(const BindingField& field) noexcept {
  const BindingTypeKind kind = field.type.kind;
  return field.optional || kind == BindingTypeKind::Callback || kind < BindingTypeKind::Bool ||
         kind > BindingTypeKind::Map;
}

// A member whose value is dropped when empty goes through a tree of its own first, so that a
// dropped member leaves no trace in the record's structure.
bool WriteOmittable(const BindingRegistry& registry, BindingProperty& record, BindingResult& status,
                    const void* member, const BindingField& field) {
  BindingResult value;
  if (!to_value_internal::WriteMember(registry, value, value, member, field)) {
    status.SetError(value.ErrorText());
    return false;
  }
  if (!IsEmptyOrZero(value)) record.memberAt(field.key).moveFrom(value);
  return true;
}

}  // namespace

bool IsEmptyOrZero(const BindingProperty& value) noexcept {
  switch (value.kind()) {
    case BindingPropertyKind::Empty:
      return true;
    case BindingPropertyKind::Bool:
      return !value.asBool();
    case BindingPropertyKind::Signed:
      return value.asSigned() == 0;
    case BindingPropertyKind::Unsigned:
      return value.asUnsigned() == 0;
    case BindingPropertyKind::Float:
      return value.asFloat() == 0.0;
    case BindingPropertyKind::String:
    case BindingPropertyKind::Blob:
    case BindingPropertyKind::Collection:
    case BindingPropertyKind::Structure:
      return value.size() == 0;
    case BindingPropertyKind::Enum:
      return value.asEnum().number == 0;
  }
  return false;
}

namespace to_value_internal {

bool WriteRecord(const BindingRegistry& registry, BindingProperty& out, BindingResult& status,
                 const void* record, const BindingType* type) {
  if (type == nullptr) {
    status.SetError(kUnregistered);
    return false;
  }
  const char* base = static_cast<const char*>(record);
  if (!type->memberKeys.empty() &&
      (out.kind() != BindingPropertyKind::Structure || out.size() == 0)) {
    // Every member is known: all are laid out in name order at once, then written in the order
    // of registration, as below.
    MemberEntry* members = out.layMembers(type->memberKeys);
    for (const BindingField& field : type->fields) {
      if (!WriteMember(registry, members[field.rank].node(), status, base + field.offset, field)) {
        return false;
      }
    }
    return true;
  }
  out.makeStructure(type->fields.size());
  for (const BindingField& field : type->fields) {
    const void* member = base + field.offset;
    const bool written =
        (field.flags & kFieldOmitEmpty) != 0
            ? WriteOmittable(registry, out, status, member, field)
            : WriteMember(registry, out.memberAt(field.key), status, member, field);
    if (!written) return false;
  }
  // Closed like the readers' structures: reading the tree then never moves its members, whose
  // addresses callers may hold (a view's placeholders).
  out.closeMembers();
  return true;
}

bool WriteEnum(BindingProperty& out, BindingResult& status, const void* member,
               const BindingType* type) {
  if (type == nullptr) {
    status.SetError(kUnregistered);
    return false;
  }
  int32_t number = 0;
  switch (type->size) {
    case 1: {
      int8_t value;
      std::memcpy(&value, member, sizeof(value));
      number = value;
      break;
    }
    case 2: {
      int16_t value;
      std::memcpy(&value, member, sizeof(value));
      number = value;
      break;
    }
    case 4:
      std::memcpy(&number, member, sizeof(number));
      break;
    case 8: {
      uint64_t value;
      std::memcpy(&value, member, sizeof(value));
      number = static_cast<int32_t>(static_cast<uint32_t>(value));
      break;
    }
    default:
      break;
  }
  out.setEnum(BindingEnum{number, type->identity});
  return true;
}

bool WriteMember(const BindingRegistry& registry, BindingProperty& out, BindingResult& status,
                 const void* member, const BindingField& field) {
  const BindingType* described = field.type.type;
  if (field.converter != nullptr && NeedsConverter(field)) {
    return field.converter->WriteValue(out, status, member, described, registry);
  }
  bool written = true;
  bool handled = true;
  switch (field.type.kind) {
    case BindingTypeKind::Enum:
      return WriteEnum(out, status, member, described);
    case BindingTypeKind::Struct:
      return WriteRecord(registry, out, status, member, described);
    case BindingTypeKind::Vector:
      handled = VisitLeafKind(field.type.elementKind, [&](auto tag) {
        using Element = typename decltype(tag)::type;
        const auto& source = *static_cast<const std::vector<Element>*>(member);
        written = WriteNative(registry, out, status, source, nullptr);
      });
      break;
    case BindingTypeKind::Map:
      handled = VisitLeafKind(field.type.elementKind, [&](auto tag) {
        using Element = typename decltype(tag)::type;
        const auto& source = *static_cast<const std::unordered_map<std::string, Element>*>(member);
        written = WriteNative(registry, out, status, source, nullptr);
      });
      break;
    default:
      handled = VisitLeafKind(field.type.kind, [&](auto tag) {
        using Leaf = typename decltype(tag)::type;
        written = WriteNative(registry, out, status, *static_cast<const Leaf*>(member), nullptr);
      });
      break;
  }
  // Vectors and maps of records or enumerations convert only through their converter; a member
  // that needs one and was registered without it stays an empty value.
  if (!handled && field.converter != nullptr) {
    return field.converter->WriteValue(out, status, member, described, registry);
  }
  return written;
}

}  // namespace to_value_internal

void RecordToValue(const BindingRegistry& registry, BindingResult& result, const void* record,
                   const BindingType* type) {
  if (!result.ok()) return;
  result.reset();
  (void)to_value_internal::WriteRecord(registry, result, result, record, type);
}

void MemberToValue(const BindingRegistry& registry, BindingResult& result, const void* member,
                   const BindingField& field) {
  if (!result.ok()) return;
  result.reset();
  (void)to_value_internal::WriteMember(registry, result, result, member, field);
}

}  // namespace vyn::binding
