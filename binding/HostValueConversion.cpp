// Host value records to and from generic values. All three walks keep their own stack of open
// containers instead of recursing, so the depth of a tree never reaches the native stack.
#include "binding/HostValueConversion.h"

#include <cstddef>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingRegistry.h"
#include "diagnostics/FormatText.h"
#include "plugin/PluginAllocator.h"

namespace vyn::binding {
namespace {

using diagnostics::FormatText;
using plugin::PluginAlloc;
using plugin::PluginFree;

constexpr const char* kHostKindNames[] = {"",      "bool",       "signed",   "unsigned",
                                          "float", "string",     "string",   "blob",
                                          "blob",  "collection", "structure"};

HostValue EmptyHostValue() noexcept {
  HostValue value;
  std::memset(&value, 0, sizeof value);
  return value;
}

HostValue RefHostValue(uint32_t kind, const void* ptr, uint32_t count) noexcept {
  HostValue value = EmptyHostValue();
  value.kind = kind;
  value.payload.ref.ptr = ptr;
  value.payload.ref.count = count;
  return value;
}

uint32_t ClampCount(std::size_t count) noexcept {
  return count > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                      : static_cast<uint32_t>(count);
}

// A NUL-terminated copy of the bytes (which may themselves contain NULs), or null.
char* DuplicateText(std::string_view text) noexcept {
  auto* copy = static_cast<char*>(PluginAlloc(text.size() + 1));
  if (copy == nullptr) return nullptr;
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

// ---------------------------------------------------------------------------------------------
// ToHostValue

// A container whose array has been allocated and whose children are being converted.
struct ToHostFrame {
  const BindingProperty* node;
  void* array;  // HostValue[] or HostMember[]
  uint32_t count;
  uint32_t index;
  MemberRange::iterator member;  // next member, for structures
  bool structure;
};

// Converts one node. A container gets its (zeroed) array, and a frame is pushed for its children
// when it has any; the caller fills the array as the frame is worked off.
HostValue ConvertNode(const BindingProperty& node, const BindingRegistry* registry,
                      std::vector<ToHostFrame>& stack) {
  HostValue out = EmptyHostValue();
  switch (node.kind()) {
    case BindingPropertyKind::Bool:
      out.kind = kHostValueBool;
      out.payload.b = node.asBool() ? 1 : 0;
      break;
    case BindingPropertyKind::Signed:
      out.kind = kHostValueSigned;
      out.payload.i = node.asSigned();
      break;
    case BindingPropertyKind::Unsigned:
      out.kind = kHostValueUnsigned;
      out.payload.u = node.asUnsigned();
      break;
    case BindingPropertyKind::Float:
      out.kind = kHostValueFloat;
      out.payload.f = node.asFloat();
      break;
    case BindingPropertyKind::String: {
      const std::string_view text = node.asString();
      if (char* copy = DuplicateText(text)) {
        out = RefHostValue(kHostValueStringOwned, copy, ClampCount(text.size()));
      }
      break;
    }
    case BindingPropertyKind::Blob: {
      const std::span<const uint8_t> bytes = node.asBlob();
      const uint32_t count = ClampCount(bytes.size());
      if (void* copy = PluginAlloc(count)) {
        if (count != 0) std::memcpy(copy, bytes.data(), count);
        out = RefHostValue(kHostValueBlobOwned, copy, count);
      }
      break;
    }
    case BindingPropertyKind::Enum: {
      const BindingEnum value = node.asEnum();
      const char* name = registry != nullptr && value.type != nullptr
                             ? registry->EnumeratorName(value.type, value.number)
                             : nullptr;
      char* copy = name != nullptr ? DuplicateText(name) : nullptr;
      if (copy != nullptr) {
        out = RefHostValue(kHostValueStringOwned, copy, ClampCount(std::strlen(copy)));
      } else {
        out.kind = kHostValueSigned;
        out.payload.i = value.number;
      }
      break;
    }
    case BindingPropertyKind::Collection: {
      const uint32_t count = node.size();
      void* array = PluginAlloc(std::size_t{count} * sizeof(HostValue));
      if (array == nullptr) break;
      std::memset(array, 0, std::size_t{count} * sizeof(HostValue));
      out = RefHostValue(kHostValueCollection, array, count);
      if (count != 0) stack.push_back({&node, array, count, 0, {}, false});
      break;
    }
    case BindingPropertyKind::Structure: {
      const MemberRange members = node.members();
      const uint32_t count = ClampCount(members.size());
      void* array = PluginAlloc(std::size_t{count} * sizeof(HostMember));
      if (array == nullptr) break;
      std::memset(array, 0, std::size_t{count} * sizeof(HostMember));
      out = RefHostValue(kHostValueStructure, array, count);
      if (count != 0) stack.push_back({&node, array, count, 0, members.begin(), true});
      break;
    }
    default:
      break;
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// FromHostValue

// A container whose host array is being assigned into `target`, one child per step.
struct FromHostFrame {
  const void* array;  // const HostValue[] or const HostMember[]
  uint32_t count;
  uint32_t index;
  bool structure;
  BindingProperty* target;
};

class HostValueReader {
 public:
  HostValueReader(HostError& error, const char* path)
      : error_(error), path_(path != nullptr ? path : "") {}

  bool Read(BindingProperty& node, const HostValue& value) {
    if (!Assign(node, value)) return false;
    while (!stack_.empty()) {
      FromHostFrame& frame = stack_.back();
      if (frame.index == frame.count) {
        stack_.pop_back();
        continue;
      }
      const uint32_t i = frame.index++;
      BindingProperty& target = *frame.target;
      if (!frame.structure) {
        // Capacity for every element was reserved when the frame was pushed, so neither this
        // element nor the targets of deeper frames move while the collection fills.
        const HostValue element = static_cast<const HostValue*>(frame.array)[i];
        if (!Assign(target.elementAt(i), element)) return false;
      } else {
        const HostMember member = static_cast<const HostMember*>(frame.array)[i];
        if (member.name == nullptr) {
          return Fail(
              FormatText("Couldn't assign value to '%1' of type object because member %2 "
                         "of the input has no name.",
                         path_, i));
        }
        if (!Assign(target.memberAt(member.name), member.value)) return false;
      }
    }
    return true;
  }

 private:
  // Assigns one record; a non-empty container pushes a frame for its children.
  bool Assign(BindingProperty& node, const HostValue& value) {
    const uint32_t kind = value.kind;
    switch (kind) {
      case kHostValueEmpty:
        node.reset();
        return true;
      case kHostValueBool:
        node.setBool(value.payload.b != 0);
        return true;
      case kHostValueSigned:
        node.setSigned(value.payload.i);
        return true;
      case kHostValueUnsigned:
        node.setUnsigned(value.payload.u);
        return true;
      case kHostValueFloat:
        node.setFloat(value.payload.f);
        return true;
      default:
        break;
    }
    if (kind > kHostValueStructure) {
      return Fail(
          FormatText("Couldn't assign value to '%1' of type object because the input is "
                     "of an incompatible type '%2'.",
                     path_, HostValueKindName(kind)));
    }
    const HostValueRef ref = value.payload.ref;
    if (ref.ptr == nullptr && ref.count != 0) {
      return Fail(
          FormatText("Couldn't assign value to '%1' of type object because the input of "
                     "type '%2' has no data for its count of %3.",
                     path_, HostValueKindName(kind), ref.count));
    }
    switch (kind) {
      case kHostValueStringBorrowed:
      case kHostValueStringOwned:
        node.setString(static_cast<const char*>(ref.ptr));  // null reads as ""
        return true;
      case kHostValueBlobBorrowed:
      case kHostValueBlobOwned:
        node.setBlob(std::span<const uint8_t>(static_cast<const uint8_t*>(ref.ptr), ref.count));
        return true;
      default:
        break;
    }
    // A collection or structure: one level deeper than the containers now open.
    if (stack_.size() >= kMaxHostValueDepth) {
      return Fail(
          FormatText("Couldn't assign value to '%1' of type object because the input is "
                     "nested deeper than %2 levels.",
                     path_, kMaxHostValueDepth));
    }
    node.reset();
    if (kind == kHostValueCollection) {
      if (ref.count > BindingProperty::kMaxElements) {
        return Fail(
            FormatText("Couldn't assign value to '%1' of type object because the input "
                       "collection has %2 elements, more than %3.",
                       path_, ref.count, BindingProperty::kMaxElements));
      }
      node.makeCollection();
      node.reserve(ref.count);
    } else {
      node.makeStructure();
    }
    if (ref.count != 0) {
      stack_.push_back({ref.ptr, ref.count, 0, kind == kHostValueStructure, &node});
    }
    return true;
  }

  bool Fail(const std::string& message) {
    if (error_.message == nullptr) error_.message = plugin::PluginStrDup(message.c_str());
    error_.failed = 1;
    return false;
  }

  HostError& error_;
  const char* path_;
  std::vector<FromHostFrame> stack_;
};

// ---------------------------------------------------------------------------------------------
// ReleaseHostValue

struct ReleaseFrame {
  void* array;  // HostValue[] or HostMember[]
  uint32_t count;
  uint32_t index;
  bool structure;
};

// Frees an owned buffer now; an array is pushed and freed once its children are released.
void ReleaseOne(const HostValue& value, std::vector<ReleaseFrame>& stack) {
  const HostValueRef ref = value.payload.ref;
  void* block = const_cast<void*>(ref.ptr);
  switch (value.kind) {
    case kHostValueStringOwned:
    case kHostValueBlobOwned:
      PluginFree(block);
      break;
    case kHostValueCollection:
    case kHostValueStructure:
      if (block == nullptr) break;
      if (ref.count == 0) {
        PluginFree(block);
      } else {
        stack.push_back({block, ref.count, 0, value.kind == kHostValueStructure});
      }
      break;
    default:
      break;
  }
}

}  // namespace

const char* HostValueKindName(uint32_t kind) noexcept {
  return kind < std::size(kHostKindNames) ? kHostKindNames[kind] : "";
}

HostValue ToHostValue(const BindingProperty& node, const BindingRegistry* registry) {
  std::vector<ToHostFrame> stack;
  const HostValue root = ConvertNode(node, registry, stack);
  while (!stack.empty()) {
    ToHostFrame& frame = stack.back();
    if (frame.index == frame.count) {
      stack.pop_back();
      continue;
    }
    // Everything needed from the frame is taken before ConvertNode may push (and move) frames.
    const uint32_t i = frame.index++;
    if (!frame.structure) {
      HostValue* slot = static_cast<HostValue*>(frame.array) + i;
      const BindingProperty& element = frame.node->elements()[i];
      *slot = ConvertNode(element, registry, stack);
    } else {
      HostMember* slot = static_cast<HostMember*>(frame.array) + i;
      const MemberView member = *frame.member;
      ++frame.member;
      HostMember out;
      std::memset(&out, 0, sizeof out);
      char* name = DuplicateText(member.name);
      out.name = name != nullptr ? name : "";
      out.ownsName = name != nullptr ? 1 : 0;
      out.value = ConvertNode(member.value, registry, stack);
      *slot = out;
    }
  }
  return root;
}

bool FromHostValue(HostError& error, BindingProperty& node, const HostValue& value,
                   const char* path) {
  HostValueReader reader(error, path);
  return reader.Read(node, value);
}

void ReleaseHostValue(HostValue& value) {
  std::vector<ReleaseFrame> stack;
  ReleaseOne(value, stack);
  while (!stack.empty()) {
    ReleaseFrame& frame = stack.back();
    if (frame.index == frame.count) {
      PluginFree(frame.array);
      stack.pop_back();
      continue;
    }
    const uint32_t i = frame.index++;
    if (!frame.structure) {
      const HostValue element = static_cast<const HostValue*>(frame.array)[i];
      ReleaseOne(element, stack);
    } else {
      const HostMember member = static_cast<const HostMember*>(frame.array)[i];
      if (member.ownsName != 0) PluginFree(const_cast<char*>(member.name));
      ReleaseOne(member.value, stack);
    }
  }
  value = EmptyHostValue();
}

}  // namespace vyn::binding
