// Host value records to and from generic values. All the walks keep their own stack of open
// containers instead of recursing, so the depth of a tree never reaches the native stack.
#include "binding/HostValueConversion.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/PluginAllocator.h"
#include "binding/BindingRegistry.h"
#include "binding/WalkStack.h"
#include "diagnostics/FormatText.h"
#include "diagnostics/Utf8Text.h"

namespace vyn::binding {
namespace {

using base::PluginAlloc;
using base::PluginFree;
using diagnostics::FormatText;

constexpr const char* kHostKindNames[] = {"",      "bool",       "signed",   "unsigned",
                                          "float", "string",     "string",   "blob",
                                          "blob",  "collection", "structure"};

HostValue EmptyHostValue() noexcept {
  HostValue value;
  std::memset(&value, 0, sizeof value);
  return value;
}

// Fills a record in place (a record built on the stack and copied whole is read back across
// stores of other widths, which stalls): every byte is written.
void SetRef(HostValue& out, uint32_t kind, const void* ptr, uint32_t count) noexcept {
  out.kind = kind;
  out.payload.ref.ptr = ptr;
  out.payload.ref.count = count;
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
// ToHostValue and HostValueView: one walk; a storage policy decides whether texts, bytes and names
// are copied or borrowed, where arrays come from, and which node is shown for a node met.

// A container whose array has been allocated and whose children are being converted.
struct ToHostFrame {
  const BindingProperty* node;
  void* array;  // HostValue[] or HostMember[]
  uint32_t count;
  uint32_t index;
  MemberRange::iterator member;  // next member, for structures
  bool structure;
};

template <class Storage>
class ToHostWalk {
 public:
  ToHostWalk(const BindingRegistry* registry, Storage& storage)
      : registry_(registry), storage_(storage) {}

  HostValue Run(const BindingProperty& root) {
    HostValue converted;
    Convert(root, converted);
    while (!stack_.Empty()) {
      ToHostFrame& frame = stack_.Top();
      if (!(frame.structure ? ConvertMembers(frame) : ConvertElements(frame))) stack_.Pop();
    }
    return converted;
  }

 private:
  // Converts the frame's children left, in one loop over locals, until one of them pushes a frame
  // (true: the walk goes on with that one). The frame's place is kept up before each conversion,
  // since a push may move the frame.
  bool ConvertElements(ToHostFrame& frame) {
    auto* slots = static_cast<HostValue*>(frame.array);
    const BindingProperty* elements = frame.node->elements().data();
    for (uint32_t i = frame.index, count = frame.count; i < count; ++i) {
      frame.index = i + 1;
      if (Convert(elements[i], slots[i])) return true;
    }
    return false;
  }
  bool ConvertMembers(ToHostFrame& frame) {
    auto* slots = static_cast<HostMember*>(frame.array);
    MemberRange::iterator member = frame.member;
    for (uint32_t i = frame.index, count = frame.count; i < count; ++i) {
      const MemberView view = *member;
      frame.index = i + 1;
      frame.member = ++member;
      storage_.Name(slots[i], view.name);
      if (Convert(view.value, slots[i].value)) return true;
    }
    return false;
  }

  // Converts one node into `out`, in place. A container gets its array, and a frame is pushed for
  // its children when it has any (true); Run fills the array as the frame is worked off.
  bool Convert(const BindingProperty& met, HostValue& out) {
    const BindingProperty& node = storage_.Shown(met);
    SetRef(out, kHostValueEmpty, nullptr, 0);
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
      case BindingPropertyKind::String:
        storage_.Text(out, node.asString());
        break;
      case BindingPropertyKind::Blob:
        storage_.Bytes(out, node.asBlob());
        break;
      case BindingPropertyKind::Enum: {
        const BindingEnum value = node.asEnum();
        const char* name = registry_ != nullptr && value.type != nullptr
                               ? registry_->EnumeratorName(value.type, value.number)
                               : nullptr;
        if (name != nullptr) storage_.Text(out, name);
        if (out.kind == kHostValueEmpty) {
          out.kind = kHostValueSigned;
          out.payload.i = value.number;
        }
        break;
      }
      case BindingPropertyKind::Collection: {
        const uint32_t count = node.size();
        void* array = storage_.Array(std::size_t{count} * sizeof(HostValue));
        if (array == nullptr) break;
        SetRef(out, kHostValueCollection, array, count);
        if (count == 0) break;
        stack_.Emplace(&node, array, count, 0u, MemberRange::iterator{}, false);
        return true;
      }
      case BindingPropertyKind::Structure: {
        const MemberRange members = node.members();
        const uint32_t count = ClampCount(members.size());
        void* array = storage_.Array(std::size_t{count} * sizeof(HostMember));
        if (array == nullptr) break;
        SetRef(out, kHostValueStructure, array, count);
        if (count == 0) break;
        stack_.Emplace(&node, array, count, 0u, members.begin(), true);
        return true;
      }
      default:
        break;
    }
    return false;
  }

  const BindingRegistry* registry_;
  Storage& storage_;
  WalkStack<ToHostFrame> stack_;
};

// ToHostValue's storage: owned copies from the counting allocator, each freed on its own by
// ReleaseHostValue. A copy that cannot be allocated leaves its record empty.
struct CopyingStorage {
  static const BindingProperty& Shown(const BindingProperty& node) noexcept { return node; }
  static void Text(HostValue& out, std::string_view text) noexcept {
    if (char* copy = DuplicateText(text)) {
      SetRef(out, kHostValueStringOwned, copy, ClampCount(text.size()));
    }
  }
  static void Bytes(HostValue& out, std::span<const uint8_t> bytes) noexcept {
    const uint32_t count = ClampCount(bytes.size());
    void* copy = PluginAlloc(count);
    if (copy == nullptr) return;
    if (count != 0) std::memcpy(copy, bytes.data(), count);
    SetRef(out, kHostValueBlobOwned, copy, count);
  }
  static void* Array(std::size_t bytes) noexcept {
    void* array = PluginAlloc(bytes);
    if (array != nullptr) std::memset(array, 0, bytes);
    return array;
  }
  static void Name(HostMember& member, std::string_view name) noexcept {
    char* copy = DuplicateText(name);
    member.name = copy != nullptr ? copy : "";
    member.ownsName = copy != nullptr ? 1 : 0;
  }
};

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
    while (!stack_.Empty()) {
      FromHostFrame& frame = stack_.Top();
      if (frame.index == frame.count) {
        // Closed now, so that no later reading of the tree reorders it.
        if (frame.structure) frame.target->closeMembers();
        stack_.Pop();
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
        const std::string_view name(member.name);
        const std::size_t bad = diagnostics::FindInvalidUtf8(name);
        if (bad != std::string_view::npos) {
          return Fail(
              FormatText("Couldn't assign value to '%1' of type object because the name of "
                         "member %2 of the input is not valid UTF-8 at byte %3.",
                         path_, i, bad));
        }
        if (!Assign(target.memberAt(name), member.value)) return false;
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
      case kHostValueStringOwned: {
        const std::string_view text =
            ref.ptr != nullptr ? std::string_view(static_cast<const char*>(ref.ptr)) : "";
        const std::size_t bad = diagnostics::FindInvalidUtf8(text);
        if (bad != std::string_view::npos) {
          return Fail(
              FormatText("Couldn't assign value to '%1' of type object because the input "
                         "string is not valid UTF-8 at byte %2.",
                         path_, bad));
        }
        node.setString(text);
        return true;
      }
      case kHostValueBlobBorrowed:
      case kHostValueBlobOwned:
        node.setBlob(std::span<const uint8_t>(static_cast<const uint8_t*>(ref.ptr), ref.count));
        return true;
      default:
        break;
    }
    // A collection or structure: one level deeper than the containers now open.
    if (stack_.Size() >= kMaxHostValueDepth) {
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
      stack_.Emplace(ref.ptr, ref.count, 0u, kind == kHostValueStructure, &node);
    }
    return true;
  }

  bool Fail(const std::string& message) {
    if (error_.message == nullptr) error_.message = base::PluginStrDup(message.c_str());
    error_.failed = 1;
    return false;
  }

  HostError& error_;
  const char* path_;
  WalkStack<FromHostFrame> stack_;
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
  CopyingStorage storage;
  return ToHostWalk<CopyingStorage>(registry, storage).Run(node);
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

// ---------------------------------------------------------------------------------------------
// HostValueView

namespace {

// Blocks double from the first up to the largest. The unused end of the last block is the view's
// waste, so the largest stays small next to a large view: a view of a megabyte body is megabytes.
constexpr std::size_t kFirstViewBlockBytes = 4096;
constexpr std::size_t kLargestViewBlockBytes = std::size_t{1} << 16;
constexpr std::size_t kViewArrayAlignment = 8;

}  // namespace

struct HostValueView::Block {
  Block* next;
  std::size_t bytes;  // usable bytes after the header, which keeps them 16-byte aligned
};

// The view's storage: texts, bytes and names borrowed from the trees, arrays from the view's
// blocks, and grafted trees shown for their placeholders.
struct HostValueView::Storage {
  HostValueView& view;
  std::span<const HostValueGraft> grafts;

  // A placeholder stands for its graft's value, which may be a placeholder itself; the bound on
  // the steps keeps a graft table that points in a circle from looping. Only empty nodes are
  // looked up, so that the other nodes of a large tree cost no search.
  const BindingProperty& Shown(const BindingProperty& node) const noexcept {
    const BindingProperty* shown = &node;
    for (std::size_t step = 0; step < grafts.size(); ++step) {
      if (shown->kind() != BindingPropertyKind::Empty) break;
      const auto found = std::find_if(grafts.begin(), grafts.end(), [shown](const auto& graft) {
        return graft.placeholder == shown;
      });
      if (found == grafts.end()) break;
      shown = found->value;
    }
    return *shown;
  }
  // Interned texts and enumerator names are NUL-terminated, as borrowed texts must be.
  static void Text(HostValue& out, std::string_view text) noexcept {
    SetRef(out, kHostValueStringBorrowed, text.data(), ClampCount(text.size()));
  }
  static void Bytes(HostValue& out, std::span<const uint8_t> bytes) noexcept {
    SetRef(out, kHostValueBlobBorrowed, bytes.data(), ClampCount(bytes.size()));
  }
  void* Array(std::size_t bytes) noexcept { return view.TakeArray(bytes); }
  static void Name(HostMember& member, std::string_view name) noexcept {
    member.name = name.data();
    member.ownsName = 0;
  }
};

HostValueView::HostValueView(const BindingProperty& node, const BindingRegistry* registry,
                             std::span<const HostValueGraft> grafts)
    : cursor_(firstArrays_), left_(sizeof firstArrays_), nextBlockBytes_(kFirstViewBlockBytes) {
  Storage storage{*this, grafts};
  root_ = ToHostWalk<Storage>(registry, storage).Run(node);
}

HostValueView::~HostValueView() {
  for (Block* block = blocks_; block != nullptr;) {
    Block* next = block->next;
    PluginFree(block);
    block = next;
  }
}

void* HostValueView::TakeArray(std::size_t bytes) noexcept {
  bytes = (bytes + kViewArrayAlignment - 1) & ~(kViewArrayAlignment - 1);
  if (bytes == 0) bytes = kViewArrayAlignment;  // an empty container still points somewhere
  if (bytes > left_) {
    // An array larger than half a fresh block gets a block of its own, so that the rest of the
    // current one stays in use.
    const bool ownBlock = bytes > nextBlockBytes_ / 2;
    const std::size_t usable = ownBlock ? bytes : nextBlockBytes_;
    auto* block = static_cast<Block*>(PluginAlloc(sizeof(Block) + usable));
    if (block == nullptr) return nullptr;
    block->bytes = usable;
    block->next = blocks_;
    blocks_ = block;
    auto* data = reinterpret_cast<unsigned char*>(block + 1);
    if (ownBlock) return data;
    cursor_ = data;
    left_ = usable;
    nextBlockBytes_ = std::min(nextBlockBytes_ * 2, kLargestViewBlockBytes);
  }
  void* array = cursor_;
  cursor_ += bytes;
  left_ -= bytes;
  return array;
}

}  // namespace vyn::binding
