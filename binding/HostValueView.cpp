// Borrowing host records: one walk with its own stack, arrays carved from growing blocks.
#include "binding/HostValueView.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "binding/BindingRegistry.h"
#include "plugin/PluginAllocator.h"

namespace vyn::binding {
namespace {

constexpr std::size_t kFirstBlockBytes = 4096;
constexpr std::size_t kLargestBlockBytes = std::size_t{1} << 20;
constexpr std::size_t kArrayAlignment = 8;

HostValue Record(uint32_t kind, const void* ptr, std::size_t count) noexcept {
  HostValue value;
  std::memset(&value, 0, sizeof value);
  value.kind = kind;
  value.payload.ref.ptr = ptr;
  value.payload.ref.count = count > std::numeric_limits<uint32_t>::max()
                                ? std::numeric_limits<uint32_t>::max()
                                : static_cast<uint32_t>(count);
  return value;
}

struct Frame {
  const BindingProperty* node;
  void* array;  // HostValue[] or HostMember[]
  uint32_t count;
  uint32_t index;
  MemberRange::iterator member;  // next member, for structures
  bool structure;
};

}  // namespace

struct HostValueView::Block {
  Block* next;
  std::size_t bytes;  // usable bytes after the header
};

HostValueView::HostValueView(const BindingProperty& node, const BindingRegistry* registry,
                             std::span<const HostValueGraft> grafts)
    : nextBlockBytes_(kFirstBlockBytes) {
  // A placeholder stands for its graft's value, which may be a placeholder itself; the bound on
  // the steps keeps a graft table that points in a circle from looping. Only empty nodes are
  // looked up, so that the other nodes of a large tree cost no search.
  auto resolve = [grafts](const BindingProperty* shown) {
    for (std::size_t step = 0; step < grafts.size(); ++step) {
      const auto found = std::find_if(grafts.begin(), grafts.end(), [shown](const auto& graft) {
        return graft.placeholder == shown;
      });
      if (found == grafts.end()) break;
      shown = found->value;
      if (shown->kind() != BindingPropertyKind::Empty) break;
    }
    return shown;
  };

  std::vector<Frame> stack;
  auto convert = [&](const BindingProperty* shown) {
    const BindingProperty& source =
        grafts.empty() || shown->kind() != BindingPropertyKind::Empty ? *shown : *resolve(shown);
    HostValue out = Record(kHostValueEmpty, nullptr, 0);
    switch (source.kind()) {
      case BindingPropertyKind::Bool:
        out.kind = kHostValueBool;
        out.payload.b = source.asBool() ? 1 : 0;
        break;
      case BindingPropertyKind::Signed:
        out.kind = kHostValueSigned;
        out.payload.i = source.asSigned();
        break;
      case BindingPropertyKind::Unsigned:
        out.kind = kHostValueUnsigned;
        out.payload.u = source.asUnsigned();
        break;
      case BindingPropertyKind::Float:
        out.kind = kHostValueFloat;
        out.payload.f = source.asFloat();
        break;
      case BindingPropertyKind::String: {
        const std::string_view text = source.asString();  // NUL-terminated in the arena
        out = Record(kHostValueStringBorrowed, text.data(), text.size());
        break;
      }
      case BindingPropertyKind::Blob: {
        const std::span<const uint8_t> bytes = source.asBlob();
        out = Record(kHostValueBlobBorrowed, bytes.data(), bytes.size());
        break;
      }
      case BindingPropertyKind::Enum: {
        const BindingEnum value = source.asEnum();
        const char* name = registry != nullptr && value.type != nullptr
                               ? registry->EnumeratorName(value.type, value.number)
                               : nullptr;
        if (name != nullptr) {
          out = Record(kHostValueStringBorrowed, name, std::strlen(name));
        } else {
          out.kind = kHostValueSigned;
          out.payload.i = value.number;
        }
        break;
      }
      case BindingPropertyKind::Collection: {
        const uint32_t count = source.size();
        void* array = TakeArray(std::size_t{count} * sizeof(HostValue));
        if (array == nullptr) break;
        out = Record(kHostValueCollection, array, count);
        if (count != 0) stack.push_back({&source, array, count, 0, {}, false});
        break;
      }
      case BindingPropertyKind::Structure: {
        const MemberRange members = source.members();
        const auto count = static_cast<uint32_t>(
            std::min<std::size_t>(members.size(), std::numeric_limits<uint32_t>::max()));
        void* array = TakeArray(std::size_t{count} * sizeof(HostMember));
        if (array == nullptr) break;
        out = Record(kHostValueStructure, array, count);
        if (count != 0) stack.push_back({&source, array, count, 0, members.begin(), true});
        break;
      }
      default:
        break;
    }
    return out;
  };

  root_ = convert(&node);
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.index == frame.count) {
      stack.pop_back();
      continue;
    }
    // Everything needed from the frame is taken before convert may push (and move) frames.
    const uint32_t i = frame.index++;
    if (!frame.structure) {
      HostValue* slot = static_cast<HostValue*>(frame.array) + i;
      const BindingProperty* element = &frame.node->elements()[i];
      *slot = convert(element);
    } else {
      HostMember* slot = static_cast<HostMember*>(frame.array) + i;
      const MemberView member = *frame.member;
      ++frame.member;
      HostMember out;
      std::memset(&out, 0, sizeof out);
      out.name = member.name.data();
      out.value = convert(&member.value);
      *slot = out;
    }
  }
}

HostValueView::~HostValueView() {
  for (Block* block = blocks_; block != nullptr;) {
    Block* next = block->next;
    plugin::PluginFree(block);
    block = next;
  }
}

void* HostValueView::TakeArray(std::size_t bytes) noexcept {
  bytes = (bytes + kArrayAlignment - 1) & ~(kArrayAlignment - 1);
  if (bytes == 0) bytes = kArrayAlignment;  // an empty container still points somewhere
  if (bytes > left_) {
    // An array larger than a fresh block gets a block of its own, behind the current one, so
    // that the rest of the current block stays in use.
    const bool ownBlock = bytes > nextBlockBytes_ / 2;
    const std::size_t usable = ownBlock ? bytes : nextBlockBytes_;
    auto* block = static_cast<Block*>(plugin::PluginAlloc(sizeof(Block) + usable));
    if (block == nullptr) return nullptr;
    block->bytes = usable;
    auto* data = reinterpret_cast<unsigned char*>(block + 1);
    if (ownBlock && blocks_ != nullptr) {
      block->next = blocks_->next;
      blocks_->next = block;
      return data;
    }
    block->next = blocks_;
    blocks_ = block;
    cursor_ = data;
    left_ = usable;
    nextBlockBytes_ = std::min(nextBlockBytes_ * 2, kLargestBlockBytes);
  }
  void* array = cursor_;
  cursor_ += bytes;
  left_ -= bytes;
  return array;
}

}  // namespace vyn::binding
