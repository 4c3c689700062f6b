// Members of open structures kept aside, and each structure made once when it closes.
#include "binding/MemberCollector.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "binding/ValueArrays.h"

namespace vyn::binding {

MemberCollector::~MemberCollector() {
  for (std::size_t i = 0; i < memberCount_; ++i) BindingProperty::DiscardMember(At(i));
  for (; !open_.Empty(); open_.Pop()) {
    const OpenStructure& structure = open_.Top();
    if (structure.placed == nullptr) continue;
    for (std::size_t at = 0; at < kMaxKnownOrderCount; ++at) {
      if ((structure.placedMask >> at & 1) != 0) {
        BindingProperty::DiscardMember(structure.placed[at]);
      }
    }
    // The node may be gone with the tree an error released; its arena is the one of the names.
    BindingProperty::FreeMembers(*names_.arena(), structure.placed);
  }
  ForgetOrders();
}

void MemberCollector::ForgetOrders() noexcept {
  for (std::size_t k = 0; k < ordersHeld_; ++k) {
    for (std::size_t i = 0; i < orders_[k].count; ++i) names_.arena()->Release(orders_[k].names[i]);
  }
  ordersHeld_ = lastOrder_ = oldestOrder_ = 0;
  ++ordersEpoch_;
  std::memset(orderByFirstName_, 0, sizeof orderByFirstName_);
  std::memset(orderByPlace_, 0, sizeof orderByPlace_);
}

void MemberCollector::NoteFirstName(const KnownOrder& known) noexcept {
  orderByFirstName_[FirstNameSlot(known.names[0])] = static_cast<uint8_t>(&known - orders_ + 1);
}

const MemberCollector::KnownOrder* MemberCollector::FindOrder(std::size_t first, std::size_t count,
                                                              const InternedString* next) noexcept {
  std::size_t k = lastOrder_;
  for (std::size_t tried = 0; tried < ordersHeld_; ++tried, k = k + 1 == ordersHeld_ ? 0 : k + 1) {
    const KnownOrder& known = orders_[k];
    if (next == nullptr ? known.count != count
                        : known.count <= count || known.names[count] != next) {
      continue;
    }
    std::size_t i = 0;
    while (i < count && known.names[i] == At(first + i).key.name) ++i;
    if (i == count) {
      lastOrder_ = k;
      NoteFirstName(known);
      return &known;
    }
  }
  return nullptr;
}

void MemberCollector::LeaveExpectedOrder(OpenStructure& structure) noexcept {
  structure.expected = nullptr;
  bool ordered = true;
  for (std::size_t i = structure.first + 1; ordered && i < memberCount_; ++i) {
    ordered = MemberKeyLess(At(i - 1).key, At(i).key);
  }
  structure.ordered = ordered;
  structure.lastPrefix = memberCount_ > structure.first ? At(memberCount_ - 1).key.name->prefix : 0;
}

void MemberCollector::LearnOrder(const InternedString* const* given, std::size_t count,
                                 const MemberEntry* ordered) noexcept {
  std::size_t k = ordersHeld_;
  if (k < kKnownOrders) {
    ++ordersHeld_;
  } else {
    k = oldestOrder_;
    oldestOrder_ = (k + 1) % kKnownOrders;
    ++ordersEpoch_;
    for (std::size_t i = 0; i < orders_[k].count; ++i) names_.arena()->Release(orders_[k].names[i]);
  }
  KnownOrder& known = orders_[k];
  for (std::size_t i = 0; i < count; ++i) {
    names_.arena()->AddRef(given[i]);
    known.names[i] = given[i];
  }
  // The names are distinct, so each one's place in the order given is found by its record.
  for (std::size_t j = 0; j < count; ++j) {
    known.order[j] =
        static_cast<uint8_t>(std::find(given, given + count, ordered[j].key.name) - given);
    known.place[known.order[j]] = static_cast<uint8_t>(j);
  }
  known.count = count;
  lastOrder_ = k;
  NoteFirstName(known);
}

inline const InternedString* MemberCollector::InternName(BindingArena& arena,
                                                         const MemberProbe& probe) {
  // The orders kept hold names of the arena kept, which a name of another makes go.
  if (&arena != names_.arena()) ForgetOrders();
  const InternedString* record = names_.Find(arena, probe);
  arena.AddRef(record);
  return record;
}

inline MemberCollector::OpenStructure& MemberCollector::Begin(BindingProperty& node) {
  node.makeStructure();
  uint8_t* guess = GuessFor(node);
  const KnownOrder* expected = nullptr;
  // The orders hold names of the arena kept, which only its own structures may take.
  if (guess != nullptr && *guess != 0 && node.arena() == names_.arena()) {
    expected = &orders_[*guess - 1];
  }
  return open_.Emplace(&node, memberCount_, uint64_t{0}, expected, guess, nullptr, ordersEpoch_,
                       uint16_t{0}, uint8_t{0}, uint8_t{0}, true);
}

void MemberCollector::Open(BindingProperty& node) { (void)Begin(node); }

void MemberCollector::Open(BindingProperty& node, std::size_t count) {
  OpenStructure& structure = Begin(node);
  if (structure.expected != nullptr && structure.expected->count == count) {
    structure.placed = BindingProperty::AllocateMembers(*node.arena(), count);
  }
}

const MemberEntry* MemberCollector::LastMember() noexcept {
  if (open_.Empty()) return nullptr;
  const OpenStructure& top = open_.Top();
  if (top.placed != nullptr) return top.placedCount != 0 ? &top.placed[top.lastPlace] : nullptr;
  return memberCount_ > top.first ? &At(memberCount_ - 1) : nullptr;
}

uint8_t* MemberCollector::GuessFor(const BindingProperty& node) noexcept {
  const MemberEntry* last = LastMember();
  if (last != nullptr && &last->node() == &node) {
    return &orderByPlace_[FirstNameSlot(last->key.name)];
  }
  const std::size_t depth = open_.Size();
  return depth < kGuessedDepths ? &orderByPlace_[kMemberNamePlaces + depth] : nullptr;
}

bool MemberCollector::RepeatsInPlace(const OpenStructure& structure, std::size_t first) noexcept {
  if (structure.guess == nullptr) return false;
  uint8_t& last = orderedFirstByPlace_[structure.guess - orderByPlace_];
  const auto slot = static_cast<uint8_t>(FirstNameSlot(At(first).key.name) + 1);
  const bool repeats = last == slot;
  last = slot;
  return repeats;
}

void MemberCollector::Grow() {
  spilled_.push_back(std::unique_ptr<Chunk>(new Chunk));  // left uninitialised
  memberCapacity_ += kChunkMembers;
}

void MemberCollector::MoveOut(std::size_t first, std::size_t count, MemberEntry* to) noexcept {
  while (count != 0) {
    const std::size_t run = std::min(count, kChunkMembers - first % kChunkMembers);
    MoveWrittenItems(to, &At(first), run);
    to += run;
    first += run;
    count -= run;
  }
}

inline bool MemberCollector::Names(const InternedString* record, std::string_view name) noexcept {
  return record->length == name.size() && TextEqual(record->Text(), name.data(), name.size());
}

// An order replaced since still holds the records it names, so a name is safely checked against
// it; only Close, which moves the members by its permutation, must know it is the same.
inline const InternedString* MemberCollector::ExpectedRecord(const OpenStructure& structure,
                                                             std::string_view name) const noexcept {
  const KnownOrder* known = structure.expected;
  const std::size_t position = memberCount_ - structure.first;
  if (known == nullptr || position >= known->count) return nullptr;
  const InternedString* record = known->names[position];
  return Names(record, name) ? record : nullptr;
}

inline BindingProperty& MemberCollector::AddNamed(OpenStructure& structure,
                                                  const InternedString* record) {
  BindingArena& arena = *structure.node->arena();
  ++membersAdded_;
  arena.AddRef(record);
  MemberEntry& added = At(memberCount_++);
  BindingProperty::InitMember(added, arena, record);
  return added.node();
}

inline BindingProperty& MemberCollector::AddOther(OpenStructure& structure, std::string_view name) {
  if (structure.expected == nullptr) {
    return AddLookedUp(structure, name, memberCount_ == structure.first);
  }
  // Another kind may begin like the one expected: the order is looked for again.
  LeaveExpectedOrder(structure);
  return AddLookedUp(structure, name, true);
}

// Each takes room first, so that a name interned is never lost. The chunks taken stay for reuse.
BindingProperty& MemberCollector::Add(std::string_view name) {
  assert(!open_.Empty());
  OpenStructure& structure = open_.Top();
  if (memberCount_ == memberCapacity_) Grow();
  if (const InternedString* record = ExpectedRecord(structure, name)) {
    return AddNamed(structure, record);
  }
  return AddOther(structure, name);
}

BindingProperty* MemberCollector::AddExpected(std::string_view name) {
  assert(!open_.Empty());
  OpenStructure& structure = open_.Top();
  if (structure.placed != nullptr) return AddPlaced(structure, name);
  const InternedString* record = ExpectedRecord(structure, name);
  if (record == nullptr) return nullptr;
  if (memberCount_ == memberCapacity_) Grow();
  return &AddNamed(structure, record);
}

BindingProperty* MemberCollector::AddPlaced(OpenStructure& structure, std::string_view name) {
  const KnownOrder& known = *structure.expected;
  const std::size_t position = structure.placedCount;
  assert(structure.epoch != ordersEpoch_ || position < known.count);
  // The places are the order's only while it is the same one.
  if (structure.epoch != ordersEpoch_ || !Names(known.names[position], name)) {
    CollectPlaced(structure);
    return nullptr;
  }
  const InternedString* record = known.names[position];
  const std::size_t at = known.place[position];
  BindingArena& arena = *structure.node->arena();
  ++membersAdded_;
  arena.AddRef(record);
  MemberEntry& added = structure.placed[at];
  BindingProperty::InitMember(added, arena, record);
  structure.placedMask = static_cast<uint16_t>(structure.placedMask | 1u << at);
  structure.placedCount = static_cast<uint8_t>(position + 1);
  structure.lastPlace = static_cast<uint8_t>(at);
  return &added.node();
}

// The members placed are collected in the order given while the order that placed them holds,
// so that the order learnt at Close is the one given; else in name order, which makes the same
// structure. No member is nested in them any more, so they go where the structure's first would.
void MemberCollector::CollectPlaced(OpenStructure& structure) {
  assert(memberCount_ == structure.first);
  // Room first, so that no member is lost should a chunk fail to come.
  while (memberCapacity_ - memberCount_ < structure.placedCount) Grow();
  const KnownOrder& known = *structure.expected;
  if (structure.epoch == ordersEpoch_) {
    for (std::size_t i = 0; i < structure.placedCount; ++i) {
      MoveWrittenItems(&At(memberCount_++), &structure.placed[known.place[i]], 1);
    }
  } else {
    for (std::size_t at = 0; at < kMaxKnownOrderCount; ++at) {
      if ((structure.placedMask >> at & 1) != 0) {
        MoveWrittenItems(&At(memberCount_++), &structure.placed[at], 1);
      }
    }
  }
  BindingProperty::FreeMembers(*structure.node->arena(), structure.placed);
  structure.placed = nullptr;
  structure.placedMask = 0;
  structure.placedCount = 0;
}

BindingProperty& MemberCollector::AddUnexpected(std::string_view name) {
  assert(!open_.Empty());
  OpenStructure& structure = open_.Top();
  if (memberCount_ == memberCapacity_) Grow();
  return AddOther(structure, name);
}

BindingProperty& MemberCollector::AddLookedUp(OpenStructure& structure, std::string_view name,
                                              bool search) {
  BindingArena& arena = *structure.node->arena();
  const std::size_t position = memberCount_ - structure.first;
  const MemberProbe probe(name);
  const InternedString* record = ++membersAdded_ > kMembersBeforeKnownNames
                                     ? InternName(arena, probe)
                                     : arena.Intern(probe.name);
  MemberEntry& added = At(memberCount_++);
  BindingProperty::InitMember(added, arena, record);
  if (structure.ordered && position != 0 &&
      (probe.prefix < structure.lastPrefix ||
       (probe.prefix == structure.lastPrefix &&
        !MemberKeyLess(At(memberCount_ - 2).key, added.key)))) {
    structure.ordered = false;
  }
  structure.lastPrefix = probe.prefix;
  if (search && ordersHeld_ != 0 && &arena == names_.arena()) {
    if (position == 0) {
      const std::size_t k = orderByFirstName_[FirstNameSlot(record)];
      if (k != 0 && orders_[k - 1].names[0] == record) {
        structure.expected = &orders_[k - 1];
      }
    } else {
      structure.expected = FindOrder(structure.first, position, record);
    }
    structure.epoch = ordersEpoch_;
  }
  return added.node();
}

void MemberCollector::PutInOrder(const KnownOrder& known, std::size_t first,
                                 BindingProperty& node) {
  MemberEntry* to = node.takeMembers(known.count, true);
  for (std::size_t j = 0; j < known.count; ++j) {
    MoveWrittenItems(&to[j], &At(first + known.order[j]), 1);
  }
  memberCount_ = first;
}

void MemberCollector::Close() {
  assert(!open_.Empty());
  OpenStructure& top = open_.Top();
  if (top.placed != nullptr) {
    assert((top.epoch != ordersEpoch_ || top.placedCount == top.expected->count) &&
           "as many as announced");
    top.node->adoptMembers(top.placed, top.placedCount);
    if (top.epoch == ordersEpoch_) NoteGuess(top, *top.expected);
    open_.Pop();
    return;
  }
  OpenStructure structure = top;
  open_.Pop();
  BindingProperty& node = *structure.node;
  const std::size_t first = structure.first;
  const std::size_t count = memberCount_ - first;
  if (count == 0) return;
  // Each branch takes the array before it moves a member: should that fail, the members are still
  // the collector's to release.
  if (structure.expected != nullptr) {
    if (structure.epoch == ordersEpoch_ && count == structure.expected->count) {
      PutInOrder(*structure.expected, first, node);
      NoteGuess(structure, *structure.expected);
      return;
    }
    LeaveExpectedOrder(structure);
  }
  if (count > kMaxKnownOrderCount || membersAdded_ <= kMembersBeforeKnownNames ||
      node.arena() != names_.arena() || (structure.ordered && !RepeatsInPlace(structure, first))) {
    MoveOut(first, count, node.takeMembers(count, structure.ordered));
    memberCount_ = first;
    if (!structure.ordered) node.settleMembers();
  } else if (const KnownOrder* known = FindOrder(first, count)) {
    PutInOrder(*known, first, node);
    NoteGuess(structure, *known);
  } else {
    // An order already ascending is kept too, once its kind repeats: the next structure of the
    // kind then checks each name against it instead of looking it up.
    const InternedString* given[kMaxKnownOrderCount];
    for (std::size_t i = 0; i < count; ++i) given[i] = At(first + i).key.name;
    MemberEntry* to = node.takeMembers(count, structure.ordered);
    MoveOut(first, count, to);
    memberCount_ = first;
    if (!structure.ordered) node.settleMembers();
    if (node.size() == count) {
      LearnOrder(given, count, to);
      NoteGuess(structure, orders_[lastOrder_]);
    }
  }
}

}  // namespace vyn::binding
