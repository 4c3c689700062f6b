// Members of open structures kept aside, and each structure made once when it closes.
#include "binding/MemberCollector.h"

#include <algorithm>
#include <cassert>

namespace vyn::binding {

MemberCollector::~MemberCollector() {
  for (std::size_t i = 0; i < memberCount_; ++i) BindingProperty::DiscardMember(members_[i]);
}

void MemberCollector::Open(BindingProperty& node) {
  node.makeStructure();
  open_.Push({&node, memberCount_, true});
}

void MemberCollector::Grow() {
  const std::size_t capacity = memberCapacity_ * 2;
  auto grown = std::make_unique<MemberEntry[]>(capacity);
  std::copy(members_, members_ + memberCount_, grown.get());
  spilled_ = std::move(grown);
  members_ = spilled_.get();
  memberCapacity_ = capacity;
}

BindingProperty& MemberCollector::Add(std::string_view name) {
  assert(!open_.Empty());
  OpenStructure& structure = open_.Top();
  if (memberCount_ == memberCapacity_) Grow();  // room first, so that a member made is never lost
  members_[memberCount_] = BindingProperty::NewMember(*structure.node->arena(), MemberProbe(name));
  const MemberEntry& added = members_[memberCount_++];
  if (structure.ordered && memberCount_ - structure.first > 1 &&
      !MemberKeyLess(members_[memberCount_ - 2].key, added.key)) {
    structure.ordered = false;
  }
  return *added.node;
}

void MemberCollector::Close() {
  assert(!open_.Empty());
  const OpenStructure structure = open_.Top();
  open_.Pop();
  const std::size_t count = memberCount_ - structure.first;
  if (count != 0) {
    structure.node->adoptMembers(members_ + structure.first, count, structure.ordered);
  }
  memberCount_ = structure.first;
}

}  // namespace vyn::binding
