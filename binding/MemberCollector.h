// Gathers the members of the structures a reader is filling and makes each structure at once when
// it closes.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "binding/BindingProperty.h"
#include "binding/WalkStack.h"

namespace vyn::binding {

// For readers of documents whose structures close before they are read (JSON): a structure's
// members are kept aside while it is open, then its array is allocated once at its final size,
// sorted only when the names came out of order, and of names given twice only the last is kept
// (the same value as memberAt gives, member by member). Until it closes the structure reads as
// empty. Structures nest: Open and Close pair like brackets. Members of structures still open when
// the collector dies are released with it, so a reader that stops at an error leaves nothing
// behind. One collector serves one tree at a time.
class MemberCollector {
 public:
  MemberCollector() = default;
  ~MemberCollector();
  MemberCollector(const MemberCollector&) = delete;
  MemberCollector& operator=(const MemberCollector&) = delete;

  // Makes `node` an empty structure whose members are collected until the matching Close.
  void Open(BindingProperty& node);
  // A new empty member of the innermost open structure. It stays put until the collector dies.
  BindingProperty& Add(std::string_view name);
  // Makes the innermost open structure with its members.
  void Close();

 private:
  // A small document's members fit inline: a small call's reading takes no heap block for them.
  static constexpr std::size_t kInlineMembers = 32;

  struct OpenStructure {
    BindingProperty* node;
    std::size_t first;  // its first member in the member array
    bool ordered;       // names so far ascending, each once
  };
  // Moves the full member array to the heap at twice its size.
  void Grow();

  WalkStack<OpenStructure> open_;
  MemberEntry* members_ = inlineMembers_;
  std::size_t memberCount_ = 0;
  std::size_t memberCapacity_ = kInlineMembers;
  std::unique_ptr<MemberEntry[]> spilled_;
  MemberEntry inlineMembers_[kInlineMembers];
};

}  // namespace vyn::binding
