// Members of open structures kept aside, and each structure made once when it closes.
#include "binding/MemberCollector.h"

#include <cassert>

namespace vyn::binding {

MemberCollector::~MemberCollector() {
  for (const MemberEntry& member : members_) BindingProperty::DiscardMember(member);
}

void MemberCollector::Open(BindingProperty& node) {
  node.makeStructure();
  // Room for a small document's structures at once, rather than growing through 1, 2, 4, ...: a
  // small call reads one.
  if (open_.capacity() == 0) {
    open_.reserve(kFirstOpenCapacity);
    members_.reserve(kFirstMemberCapacity);
  }
  open_.push_back({&node, members_.size(), true});
}

BindingProperty& MemberCollector::Add(std::string_view name) {
  assert(!open_.empty());
  OpenStructure& structure = open_.back();
  const MemberProbe probe(name);
  members_.emplace_back();  // room first, so that a member made is never lost
  try {
    members_.back() = BindingProperty::NewMember(*structure.node->arena(), probe);
  } catch (...) {
    members_.pop_back();
    throw;
  }
  const std::size_t count = members_.size() - structure.first;
  if (structure.ordered && count > 1 &&
      !MemberKeyLess(members_[members_.size() - 2].key, members_.back().key)) {
    structure.ordered = false;
  }
  return *members_.back().node;
}

void MemberCollector::Close() {
  assert(!open_.empty());
  const OpenStructure structure = open_.back();
  open_.pop_back();
  const std::size_t count = members_.size() - structure.first;
  if (count != 0) {
    structure.node->adoptMembers(members_.data() + structure.first, count, structure.ordered);
  }
  members_.resize(structure.first);
}

}  // namespace vyn::binding
