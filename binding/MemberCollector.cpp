// Members of open structures kept aside, and each structure made once when it closes.
#include "binding/MemberCollector.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <iterator>

namespace vyn::binding {

MemberCollector::~MemberCollector() {
  for (std::size_t i = 0; i < memberCount_; ++i) BindingProperty::DiscardMember(members_[i]);
  ForgetNames();
}

void MemberCollector::ForgetNames() noexcept {
  for (std::size_t word = 0; word < std::size(namesHeld_); ++word) {
    for (uint64_t held = namesHeld_[word]; held != 0; held &= held - 1) {
      namesArena_->Release(names_[word * 64 + std::countr_zero(held)].record);
    }
    namesHeld_[word] = 0;
  }
  for (std::size_t k = 0; k < ordersHeld_; ++k) {
    for (std::size_t i = 0; i < orders_[k].count; ++i) namesArena_->Release(orders_[k].names[i]);
  }
  ordersHeld_ = lastOrder_ = oldestOrder_ = 0;
}

const MemberCollector::KnownOrder* MemberCollector::FindOrder(const MemberEntry* first,
                                                              std::size_t count) noexcept {
  std::size_t k = lastOrder_;
  for (std::size_t tried = 0; tried < ordersHeld_; ++tried, k = k + 1 == ordersHeld_ ? 0 : k + 1) {
    const KnownOrder& known = orders_[k];
    if (known.count != count || known.names[0] != first[0].key.name) continue;
    std::size_t i = 1;
    while (i < count && known.names[i] == first[i].key.name) ++i;
    if (i == count) {
      lastOrder_ = k;
      return &known;
    }
  }
  return nullptr;
}

void MemberCollector::LearnOrder(const InternedString* const* given, std::size_t count,
                                 const MemberEntry* ordered) noexcept {
  std::size_t k = ordersHeld_;
  if (k < kKnownOrders) {
    ++ordersHeld_;
  } else {
    k = oldestOrder_;
    oldestOrder_ = (k + 1) % kKnownOrders;
    for (std::size_t i = 0; i < orders_[k].count; ++i) namesArena_->Release(orders_[k].names[i]);
  }
  KnownOrder& known = orders_[k];
  for (std::size_t i = 0; i < count; ++i) {
    namesArena_->AddRef(given[i]);
    known.names[i] = given[i];
  }
  // The names are distinct, so each one's place in the order given is found by its record.
  for (std::size_t j = 0; j < count; ++j) {
    known.order[j] =
        static_cast<uint8_t>(std::find(given, given + count, ordered[j].key.name) - given);
  }
  known.count = count;
  lastOrder_ = k;
}

inline bool MemberCollector::Knows(std::size_t index, const MemberProbe& probe) const noexcept {
  const KnownName& known = names_[index];
  const std::size_t length = probe.name.size();
  return (namesHeld_[index / 64] >> index % 64 & 1) != 0 && known.prefix == probe.prefix &&
         known.length == length &&
         (length <= 8 || TextEqual(known.record->Text() + 8, probe.name.data() + 8, length - 8));
}

inline const InternedString* MemberCollector::InternName(BindingArena& arena,
                                                         const MemberProbe& probe) {
  const auto index = static_cast<std::size_t>(
      ((probe.prefix ^ probe.name.size()) * 0x9E3779B97F4A7C15ull) >> (64 - kKnownNameBits));
  if (&arena == namesArena_) {
    std::size_t way = index;
    if (Knows(way, probe) || Knows(way ^= 1, probe)) {
      arena.AddRef(names_[way].record);
      return names_[way].record;
    }
  }
  return LearnName(arena, probe, index);
}

const InternedString* MemberCollector::LearnName(BindingArena& arena, const MemberProbe& probe,
                                                 std::size_t index) {
  if (&arena != namesArena_) {
    ForgetNames();
    namesArena_ = &arena;
  }
  const InternedString* record = arena.Intern(probe.name);
  arena.AddRef(record);  // the table's own
  // The name learnt last takes its own entry, and the one it displaces the pair's other, whose
  // name goes: of three names that meet there, the two learnt last stay.
  const std::size_t other = index ^ 1;
  const uint64_t bit = uint64_t{1} << index % 64;
  const uint64_t otherBit = uint64_t{1} << other % 64;
  if ((namesHeld_[other / 64] & otherBit) != 0) arena.Release(names_[other].record);
  names_[other] = names_[index];
  namesHeld_[other / 64] =
      (namesHeld_[other / 64] & ~otherBit) | ((namesHeld_[index / 64] & bit) != 0 ? otherBit : 0);
  names_[index] = {probe.prefix, probe.name.size(), record};
  namesHeld_[index / 64] |= bit;
  return record;
}

void MemberCollector::Open(BindingProperty& node) {
  node.makeStructure();
  open_.Push({&node, memberCount_, 0, true});
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
  BindingArena& arena = *structure.node->arena();
  const MemberProbe probe(name);
  const InternedString* record = ++membersAdded_ > kMembersBeforeKnownNames
                                     ? InternName(arena, probe)
                                     : arena.Intern(probe.name);
  members_[memberCount_] = BindingProperty::NewMember(arena, record);
  const MemberEntry& added = members_[memberCount_++];
  if (structure.ordered && memberCount_ - structure.first > 1 &&
      (probe.prefix < structure.lastPrefix ||
       (probe.prefix == structure.lastPrefix &&
        !MemberKeyLess(members_[memberCount_ - 2].key, added.key)))) {
    structure.ordered = false;
  }
  structure.lastPrefix = probe.prefix;
  return *added.node;
}

void MemberCollector::Close() {
  assert(!open_.Empty());
  const OpenStructure structure = open_.Top();
  open_.Pop();
  const std::size_t count = memberCount_ - structure.first;
  MemberEntry* first = members_ + structure.first;
  if (structure.ordered || count > kMaxKnownOrderCount ||
      membersAdded_ <= kMembersBeforeKnownNames || structure.node->arena() != namesArena_) {
    if (count != 0) structure.node->adoptMembers(first, count, structure.ordered);
  } else if (const KnownOrder* known = FindOrder(first, count)) {
    structure.node->adoptMembersInOrder(first, count, known->order);
  } else {
    const InternedString* given[kMaxKnownOrderCount];
    for (std::size_t i = 0; i < count; ++i) given[i] = first[i].key.name;
    structure.node->adoptMembers(first, count, false);
    if (structure.node->size() == count) LearnOrder(given, count, first);
  }
  memberCount_ = structure.first;
}

}  // namespace vyn::binding
