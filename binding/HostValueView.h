// A host record tree that borrows from value trees, for handing them to the host for one call.
#pragma once

#include <cstddef>
#include <span>

#include "binding/BindingProperty.h"
#include "plugin/HostAbi.h"

namespace vyn::binding {

class BindingRegistry;

// Where a view shows another tree's node in place of one of its own: the placeholder, an empty
// node, is replaced wherever the walk meets it by `value` (converted in its stead, with its own
// placeholders honoured in turn). A graft whose placeholder is not empty is never used. A record that holds a free value is thus shown without copying
// that value into the record's tree first.
struct HostValueGraft {
  const BindingProperty* placeholder;
  const BindingProperty* value;
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

  void* TakeArray(std::size_t bytes) noexcept;

  HostValue root_;
  Block* blocks_ = nullptr;
  unsigned char* cursor_ = nullptr;
  std::size_t left_ = 0;
  std::size_t nextBlockBytes_;
};

}  // namespace vyn::binding
