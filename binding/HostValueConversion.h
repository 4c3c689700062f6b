// Conversion between the host's value records (HostValue) and generic values, borrowing views of
// trees for the length of a call, and release of the records that the plugin allocates for the
// host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "binding/BindingProperty.h"
#include "base/HostAbi.h"

namespace vyn::binding {

class BindingRegistry;

// The deepest nesting of collections and structures that FromHostValue accepts (a root container
// is level 1), the same as the JSON reader's. Value trees are released, copied and converted
// recursively elsewhere, so a deeper input is refused here rather than handed on; the walks in
// this file use no native recursion themselves.
inline constexpr uint32_t kMaxHostValueDepth = 1000;

// The name of a host value kind in messages: "bool", "signed", "unsigned", "float", "string"
// (5, 6), "blob" (7, 8), "collection", "structure"; the empty text for 0 and unknown kinds.
const char* HostValueKindName(uint32_t kind) noexcept;

// Converts a tree into host records. Strings and blobs become owned copies (kinds 6 and 8),
// structures list their members in name order with owned names, and an enum becomes its
// enumerator's name (kind 6) when the registry knows one, else its number (kind 2). Every buffer
// comes from the plugin's counting allocator; release the result with ReleaseHostValue. Never
// fails for any value; a buffer that cannot be allocated leaves its record empty (kind 0).
[[nodiscard]] HostValue ToHostValue(const BindingProperty& node, const BindingRegistry* registry);

// Assigns a host record tree to `node`, which is reset first. The host's records are only read.
// On failure returns false, sets error.failed and, unless the record already holds a message
// (the first error wins), stores a duplicate of the message (from the counting allocator) in
// error.message; the conversion stops at the failing element, so `node` may hold the part
// converted so far. Fails for:
//  - a kind outside 0..10 (the incompatible-type message, with the kind's empty name);
//  - a null data pointer with a non-zero count (strings, blobs, collections, structures; a null
//    pointer with a zero count reads as an empty string, blob, collection or structure);
//  - a structure member without a name, or a collection longer than a value can hold;
//  - a string or member name that is not well-formed UTF-8, so that every text in a tree is (the
//    message names the offset of the first bad byte, and for a name its member's index);
//  - nesting deeper than kMaxHostValueDepth (this also ends cycles in hostile input).
// A string is read up to its NUL terminator. `path` names the target in messages (null: "").
[[nodiscard]] bool FromHostValue(HostError& error, BindingProperty& node, const HostValue& value,
                                 const char* path);

// Frees, through the counting allocator, what a record made by ToHostValue holds: owned strings
// and blobs, element and member arrays, and member names marked as owned. Borrowed strings and
// blobs (kinds 5 and 7) are not freed. The record is zeroed afterwards (kind 0). Never fails.
void ReleaseHostValue(HostValue& value);

// Where a view shows another tree's node in place of one of its own: the placeholder, an empty
// node, is replaced wherever the walk meets it by `value` (converted in its stead, with its own
// placeholders honoured in turn). A record that holds a free value is thus shown without copying
// that value into the record's tree first. A graft whose placeholder is not empty is never used.
// Placeholders are known by their address, which a member keeps only while its structure gains
// no member and is not put in order: take them once their structures are complete and closed.
struct HostValueGraft {
  const BindingProperty* placeholder;
  const BindingProperty* value;
};

// A list of grafts of a known length, the first few inline: a view of a small record costs no
// heap block for its list.
class HostValueGraftList {
 public:
  explicit HostValueGraftList(std::size_t size) : size_(size) {
    if (size > kInline) spilled_.resize(size);
  }
  HostValueGraft& operator[](std::size_t index) noexcept {
    return size_ > kInline ? spilled_[index] : inline_[index];
  }
  std::span<const HostValueGraft> View() const noexcept {
    return size_ > kInline ? std::span<const HostValueGraft>(spilled_)
                           : std::span<const HostValueGraft>(inline_, size_);
  }

 private:
  static constexpr std::size_t kInline = 8;
  std::size_t size_;
  HostValueGraft inline_[kInline];
  std::vector<HostValueGraft> spilled_;
};

// The host records of a tree, as ToHostValue makes them, except that texts, member names and blob
// bytes are the tree's own (borrowed kinds 5 and 7, names not owned) rather than copies: only the
// element and member arrays are allocated, carved from a few large blocks of the counting
// allocator, and all of them go with the view. Events are sent this way, since the host may read
// what it is given only during the call, while the trees outlive it.
//
// The trees (the grafted ones included) must stay alive and unchanged while the view lives, and
// no graft's value may contain its own placeholder. Never fails: an array that cannot be
// allocated leaves its record empty (kind 0), as ToHostValue does.
class HostValueView {
 public:
  HostValueView(const BindingProperty& node, const BindingRegistry* registry,
                std::span<const HostValueGraft> grafts = {});
  ~HostValueView();
  HostValueView(const HostValueView&) = delete;
  HostValueView& operator=(const HostValueView&) = delete;

  const HostValue& value() const noexcept { return root_; }

 private:
  struct Block;
  struct Storage;

  void* TakeArray(std::size_t bytes) noexcept;

  HostValue root_;
  Block* blocks_ = nullptr;
  unsigned char* cursor_;
  std::size_t left_;
  std::size_t nextBlockBytes_;
  // The arrays of a small view, such as most events, cost no heap block.
  alignas(16) unsigned char firstArrays_[512];
};

}  // namespace vyn::binding
