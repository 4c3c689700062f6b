// The members of a structure: lookup, insertion in order or aside, the arrays a reader makes at
// once, and the ordering of members added out of order.
#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>

#include "binding/BindingProperty.h"
#include "binding/ValueArrays.h"

namespace vyn::binding {
namespace {

// The capacity to grow a member array to: one, a slot's worth, then doubling.
std::size_t GrownEntries(std::size_t capacity, std::size_t header) noexcept {
  const std::size_t slotEntries = (BindingArena::kMaxSlotSize - header) / sizeof(MemberEntry);
  if (capacity == 0) return 1;
  if (capacity < slotEntries) return slotEntries;
  return capacity * 2;
}

// Up to this size a structure takes a name out of order by moving the later members up; past it,
// such names wait unordered at the end, so that building a structure in any order stays well
// under quadratic time.
constexpr uint32_t kInsertInPlaceLimit = 16;
// The unordered members are merged in once there are more than this many and their square
// exceeds the size: a lookup scans at most about the square root of the size of them.
constexpr uint32_t kMinUnordered = 8;

// Structures of up to this many members, given out of order, are sorted by insertion.
constexpr std::size_t kInsertionSortLimit = 32;

// The first member not ordered before `probe`.
template <class Entry>
Entry* LowerBound(Entry* first, std::size_t size, const MemberProbe& probe) noexcept {
  return std::lower_bound(first, first + size, probe,
                          [](const MemberEntry& entry, const MemberProbe& name) {
                            return MemberKeyLess(entry.key, name);
                          });
}

// The prefix holds a name's first eight bytes, so equal prefixes and lengths settle a name of up
// to eight bytes; only the rest of a longer one is compared.
bool IsNamed(const MemberEntry& entry, const MemberProbe& probe) noexcept {
  const InternedString& name = *entry.key.name;
  if (name.prefix != probe.prefix || name.length != probe.name.size()) return false;
  return name.length <= 8 || TextEqual(name.Text() + 8, probe.name.data() + 8, name.length - 8);
}

// The member named `probe` among the unordered ones, or null.
template <class Entry>
Entry* FindUnordered(Entry* first, Entry* last, const MemberProbe& probe) noexcept {
  for (; first != last; ++first) {
    if (IsNamed(*first, probe)) return first;
  }
  return nullptr;
}

}  // namespace

BindingProperty::StructureRecord BindingProperty::noMembers_{0};

std::size_t BindingProperty::StructureRecord::capacity() const noexcept {
  if (sizeClass() == 0) return 0;  // the shared header
  const uint64_t entries =
      (ArrayClassBytes(sizeClass()) - sizeof(StructureRecord)) / sizeof(MemberEntry);
  return static_cast<std::size_t>(std::min<uint64_t>(entries, kMaxElements));
}

BindingProperty::StructureRecord* BindingProperty::AllocateStructure(BindingArena& arena,
                                                                     std::size_t capacity) {
  if (capacity == 0) return &noMembers_;
  const unsigned sizeClass =
      ArrayClass(sizeof(StructureRecord) + uint64_t{capacity} * sizeof(MemberEntry));
  void* block = AllocateArrayOfClass(arena, sizeClass);
  return new (block) StructureRecord{uint64_t{sizeClass} << StructureRecord::kClassShift};
}

void BindingProperty::FreeStructure(BindingArena& arena, StructureRecord* record) noexcept {
  if (record->sizeClass() == 0) return;  // the shared header
  FreeArrayOfClass(arena, record, record->sizeClass());
}

const BindingProperty& BindingProperty::member(std::string_view name) const noexcept {
  if (kindCode() != kStructure) return EmptyNode();
  const StructureRecord& structure = *payload_.structure;
  const MemberProbe probe(name);
  const MemberEntry* entries = structure.entries();
  const MemberEntry* ordered = entries + structure.ordered();
  const MemberEntry* at = LowerBound(entries, structure.ordered(), probe);
  if (at != ordered && IsNamed(*at, probe)) return at->node();
  at = FindUnordered(ordered, entries + structure.size(), probe);
  return at != nullptr ? at->node() : EmptyNode();
}

void BindingProperty::matchMembers(std::span<const MemberKey> names,
                                   const BindingProperty** found) const noexcept {
  const StructureRecord& structure = kindCode() == kStructure ? *payload_.structure : noMembers_;
  const MemberEntry* at = structure.entries();
  const MemberEntry* const ordered = at + structure.ordered();
  const MemberEntry* const last = at + structure.size();
  for (std::size_t i = 0; i < names.size(); ++i) {
    const MemberProbe probe(names[i].name->prefix, names[i].name->View());
    while (at != ordered && MemberKeyLess(at->key, names[i])) ++at;
    const MemberEntry* match =
        at != ordered && IsNamed(*at, probe) ? at : FindUnordered(ordered, last, probe);
    found[i] = match != nullptr ? &match->node() : nullptr;
  }
}

void BindingProperty::makeStructure(std::size_t members) {
  makeStructure();
  const std::size_t capacity = std::min(members, kMaxElements);
  if (capacity > payload_.structure->capacity()) growMembersTo(capacity);
}

BindingProperty& BindingProperty::memberAt(std::string_view name) {
  return memberNamed(MemberProbe(name), nullptr, false);
}

BindingProperty& BindingProperty::memberAt(const MemberKey& shared) {
  return memberNamed(MemberProbe(shared.name->prefix, shared.name->View()), shared.name, false);
}

BindingProperty& BindingProperty::memberAt(const InternedString& ownName) {
  return memberNamed(MemberProbe(ownName.prefix, ownName.View()), &ownName, true);
}

BindingProperty& BindingProperty::memberNamed(const MemberProbe& probe, const InternedString* name,
                                              bool own) {
  if (kindCode() != kStructure) makeStructure();
  // addMember may move the header: each branch that adds reads it afresh.
  StructureRecord& structure = *payload_.structure;
  MemberEntry* entries = structure.entries();
  MemberEntry* ordered = entries + structure.ordered();
  const bool allOrdered = structure.ordered() == structure.size();
  // Names often arrive in ascending order (documents this system wrote list them so): a name
  // after the last one needs no search.
  if (allOrdered && (structure.size() == 0 || MemberKeyLess(ordered[-1].key, probe))) {
    BindingProperty& member = addMember(structure.size(), probe, name, own);
    payload_.structure->setOrdered(payload_.structure->ordered() + 1);
    return member;
  }
  MemberEntry* at = LowerBound(entries, structure.ordered(), probe);
  if (at != ordered && IsNamed(*at, probe)) return at->node();
  if (allOrdered && structure.size() < kInsertInPlaceLimit) {
    BindingProperty& member = addMember(static_cast<std::size_t>(at - entries), probe, name, own);
    payload_.structure->setOrdered(payload_.structure->ordered() + 1);
    return member;
  }
  if (MemberEntry* found = FindUnordered(ordered, entries + structure.size(), probe)) {
    return found->node();
  }
  BindingProperty& member = addMember(structure.size(), probe, name, own);
  const StructureRecord& grown = *payload_.structure;
  const uint32_t unordered = grown.size() - grown.ordered();
  if (unordered <= kMinUnordered || uint64_t{unordered} * unordered <= grown.size()) return member;
  // The merge moves the new member to its place among the others.
  orderMembers();
  return LowerBound(payload_.structure->entries(), grown.size(), probe)->node();
}

// Inserts an empty member at `position`, moving the later ones up. On an exception nothing has
// changed.
BindingProperty& BindingProperty::addMember(std::size_t position, const MemberProbe& probe,
                                            const InternedString* name, bool own) {
  if (payload_.structure->size() == payload_.structure->capacity()) growMembers();
  StructureRecord& structure = *payload_.structure;
  BindingArena& arena = *this->arena();
  if (name == nullptr) {
    name = arena.Intern(probe.name);
  } else if (own) {
    arena.AddRef(name);
  } else {
    name = arena.Intern(*name);
  }
  MemberEntry* at = structure.entries() + position;
  if (position != structure.size()) {  // most names come in order: an append moves nothing
    std::memmove(static_cast<void*>(at + 1), at,
                 (structure.size() - position) * sizeof(MemberEntry));
  }
  InitMember(*at, arena, name);
  structure.setSize(structure.size() + 1);
  return at->node();
}

void BindingProperty::growMembers() {
  const std::size_t capacity = payload_.structure->capacity();
  if (capacity >= kMaxElements) throw std::bad_alloc();
  growMembersTo(std::min(GrownEntries(capacity, sizeof(StructureRecord)), kMaxElements));
}

void BindingProperty::growMembersTo(std::size_t capacity) {
  StructureRecord* old = payload_.structure;
  StructureRecord* grown = AllocateStructure(*arena(), capacity);
  grown->setSize(old->size());
  grown->setOrdered(old->ordered());
  if (old->size() != 0) {
    std::memcpy(static_cast<void*>(grown->entries()), old->entries(),
                old->size() * sizeof(MemberEntry));
  }
  FreeStructure(*arena(), old);
  payload_.structure = grown;
}

void BindingProperty::DiscardMember(MemberEntry& member) noexcept {
  BindingProperty& node = member.node();
  BindingArena* arena = node.arena();
  node.reset();
  arena->Release(member.key.name);
}

MemberEntry* BindingProperty::takeMembers(std::size_t count, bool inOrder) {
  assert(payload_.structure->size() == 0 && count != 0);
  BindingArena& arena = *this->arena();
  StructureRecord* structure = AllocateStructure(arena, count);
  FreeStructure(arena, payload_.structure);
  payload_.structure = structure;
  structure->setSize(count);
  if (inOrder) structure->setOrdered(count);
  return structure->entries();
}

MemberEntry* BindingProperty::AllocateMembers(BindingArena& arena, std::size_t count) {
  assert(count != 0);
  return AllocateStructure(arena, count)->entries();
}

void BindingProperty::adoptMembers(MemberEntry* entries, std::size_t count) noexcept {
  assert(kindCode() == kStructure && payload_.structure->size() == 0);
  FreeStructure(*arena(), payload_.structure);
  payload_.structure = reinterpret_cast<StructureRecord*>(entries) - 1;
  payload_.structure->setSize(count);
  payload_.structure->setOrdered(count);
}

void BindingProperty::FreeMembers(BindingArena& arena, MemberEntry* entries) noexcept {
  FreeStructure(arena, reinterpret_cast<StructureRecord*>(entries) - 1);
}

MemberEntry* BindingProperty::layMembers(std::span<const MemberKey> ordered) {
  makeStructure();
  assert(payload_.structure->size() == 0 && !ordered.empty());
  BindingArena& arena = *this->arena();
  MemberEntry* entries = takeMembers(ordered.size(), true);
  // Shared records need no interning, which could fail half way through the array.
  for (std::size_t i = 0; i < ordered.size(); ++i) {
    assert(ordered[i].name->refCount == 0);
    InitMember(entries[i], arena, ordered[i].name);
  }
  return entries;
}

void BindingProperty::settleMembers() noexcept {
  StructureRecord& structure = *payload_.structure;
  MemberEntry* first = structure.entries();
  MemberEntry* last = first + structure.size();
  const auto less = [](const MemberEntry& a, const MemberEntry& b) {
    return MemberKeyLess(a.key, b.key);
  };
  if (structure.size() <= kInsertionSortLimit) {
    // Stable, and without the buffer a merge sort takes from the heap.
    for (MemberEntry* member = first + 1; member != last; ++member) {
      const MemberEntry moving = *member;
      MemberEntry* hole = member;
      for (; hole != first && less(moving, hole[-1]); --hole) *hole = hole[-1];
      *hole = moving;
    }
  } else {
    std::stable_sort(first, last, less);
  }
  // Of equal names (one record in one arena) the last given wins, as with memberAt.
  MemberEntry* kept = first;
  for (MemberEntry* member = first; member != last; ++member) {
    if (member + 1 != last && member[1].key.name == member->key.name) {
      DiscardMember(*member);
    } else {
      *kept++ = *member;
    }
  }
  structure.setSize(static_cast<std::size_t>(kept - first));
  structure.setOrdered(structure.size());
}

// Merges the unordered members in.
void BindingProperty::orderMembers() const noexcept {
  StructureRecord& structure = *payload_.structure;
  MemberEntry* first = structure.entries();
  MemberEntry* middle = first + structure.ordered();
  MemberEntry* last = first + structure.size();
  const auto less = [](const MemberEntry& a, const MemberEntry& b) {
    return MemberKeyLess(a.key, b.key);
  };
  std::sort(middle, last, less);
  std::inplace_merge(first, middle, last, less);
  structure.setOrdered(structure.size());
}

}  // namespace vyn::binding
