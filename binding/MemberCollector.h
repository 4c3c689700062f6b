// Gathers the members of the structures a reader is filling and makes each structure at once when
// it closes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/KnownNames.h"
#include "binding/WalkStack.h"

namespace vyn::binding {

// For readers of documents whose structures close before they are read (JSON): a structure's
// members are kept aside while it is open, then its array is allocated once at its final size,
// sorted only when the names came out of order, and of names given twice only the last is kept
// (the same value as memberAt gives, member by member). A reader that knows a structure's size
// when it opens (MessagePack) lets the members of a kind seen before skip the keeping aside. Until
// it closes the structure reads as empty. Structures nest: Open and Close pair like brackets.
// Members of structures still open when the collector dies are released with it, so a reader that
// stops at an error leaves nothing behind. One collector serves one tree at a time, and the trees
// it served outlive it.
class MemberCollector {
 public:
  MemberCollector() = default;
  ~MemberCollector();
  MemberCollector(const MemberCollector&) = delete;
  MemberCollector& operator=(const MemberCollector&) = delete;

  // Makes `node` an empty structure whose members are collected until the matching Close.
  void Open(BindingProperty& node);
  // Open, for a reader that knows the structure will be given exactly `count` members before it
  // closes (MessagePack announces them): members of a kind whose order is known then go straight
  // to their places in the structure's own array, instead of being moved there at Close.
  void Open(BindingProperty& node, std::size_t count);
  // A new empty member of the innermost open structure. It stays put until its structure closes,
  // so that a container among the members can be filled meanwhile.
  BindingProperty& Add(std::string_view name);
  // Add, but only for the name that the structure's known order expects next: null, and nothing
  // added, for any other. A name added here equals a name added before in full, so a reader that
  // checks names (as UTF-8, say) before it adds them need not check it again.
  BindingProperty* AddExpected(std::string_view name);
  // Add, for a name that AddExpected has just refused.
  BindingProperty& AddUnexpected(std::string_view name);
  // Makes the innermost open structure with its members.
  void Close();

 private:
  // Members live in chunks that never move. The first is inline, so a small document's reading
  // takes no heap block for them; the others stay for reuse until the collector dies.
  static constexpr std::size_t kChunkMembers = 64;
  struct Chunk {
    MemberEntry entries[kChunkMembers];
  };

  struct KnownOrder;
  struct OpenStructure {
    BindingProperty* node;
    std::size_t first;    // its first member among the collected ones
    uint64_t lastPrefix;  // of the name added last, so that the common case reads no record
    // The known order whose names the members so far follow, so that each next name is checked
    // against the one expected instead of being looked up; `lastPrefix` and `ordered` are kept
    // only once the names part from it. Its permutation serves only while `epoch` is the
    // collector's: the order may have been replaced meanwhile.
    const KnownOrder* expected;
    uint8_t* guess;  // where its order is noted for the next structure in its place, if anywhere
    // The structure's own array, while its members are put in their places as they come (see
    // Open with a count); they are then not among the collected ones. Null otherwise.
    MemberEntry* placed;
    uint32_t epoch;
    uint16_t placedMask;  // which of its entries hold members
    uint8_t placedCount;
    uint8_t lastPlace;  // the entry of the member placed last
    bool ordered;       // names so far ascending, each once
  };
  // Makes `node` an empty structure and opens it, for members to be collected.
  OpenStructure& Begin(BindingProperty& node);
  // One chunk more.
  void Grow();
  MemberEntry& At(std::size_t index) noexcept {
    Chunk& chunk = index < kChunkMembers ? first_ : *spilled_[index / kChunkMembers - 1];
    return chunk.entries[index % kChunkMembers];
  }
  // Moves `count` members from `first` on to `to`, which they then belong to.
  void MoveOut(std::size_t first, std::size_t count, MemberEntry* to) noexcept;

  // A small document's names go to the arena's table directly: they would not repeat often enough
  // to pay for keeping them at hand.
  static constexpr std::size_t kMembersBeforeKnownNames = 16;
  // The record of `probe`'s name in `arena`, with one more reference, for a member to take over.
  const InternedString* InternName(BindingArena& arena, const MemberProbe& probe);
  // Lets go of the known orders.
  void ForgetOrders() noexcept;

  // Records of one kind name their members alike, and seldom in name order (a writer's own order
  // is that of its fields). The order found for a list of names, as interned records in the order
  // given, is kept, so that the next structure naming the same members in the same order is put
  // in order without a comparison, and its names after the first are checked against the list's
  // rather than looked up. Only lists without a repeated name are kept. Like the known
  // names, the orders are kept once a document is large enough to repeat its kinds, and each
  // kept name holds a reference of its own, so that its record cannot change under the list.
  static constexpr std::size_t kMaxKnownOrderCount = 16;
  struct KnownOrder {
    std::size_t count;
    const InternedString* names[kMaxKnownOrderCount];
    // order[j]: the index, in the order given, of the j-th name in name order
    uint8_t order[kMaxKnownOrderCount];
    // place[i]: the index, in name order, of the i-th name given (order's inverse)
    uint8_t place[kMaxKnownOrderCount];
  };
  static_assert(kMaxKnownOrderCount <= 16, "a placed structure's entries in a 16-bit mask");
  // Nested records close in turn (a question, its options, the question again), so the search
  // starts at the order used last and goes round; when all are taken, the oldest is replaced.
  static constexpr std::size_t kKnownOrders = 16;
  // A known order that begins with the names of the `count` members from `first`: one of just
  // these names, or, given `next`, one that goes on with it. Null when none is known.
  const KnownOrder* FindOrder(std::size_t first, std::size_t count,
                              const InternedString* next = nullptr) noexcept;
  // Gives `node` the members from `first`, which name the names of `known` in its given order.
  void PutInOrder(const KnownOrder& known, std::size_t first, BindingProperty& node);
  // AddExpected for a structure whose members are placed: null, and nothing added, for a name
  // other than the one expected, and the members placed so far are then collected instead.
  BindingProperty* AddPlaced(OpenStructure& structure, std::string_view name);
  // Turns a structure whose members are placed into one whose members are collected.
  void CollectPlaced(OpenStructure& structure);
  // The member added last to the innermost open structure; null when it has none.
  const MemberEntry* LastMember() noexcept;
  // Whether `record` holds `name`.
  static bool Names(const InternedString* record, std::string_view name) noexcept;
  // The record of the name that `structure`'s known order expects next, if that is `name`.
  const InternedString* ExpectedRecord(const OpenStructure& structure,
                                       std::string_view name) const noexcept;
  // Adds the member that `record` names, for which there is room.
  BindingProperty& AddNamed(OpenStructure& structure, const InternedString* record);
  // Adds a member of a name that is not the one expected, for which there is room.
  BindingProperty& AddOther(OpenStructure& structure, std::string_view name);
  // Add for a name that is not the one expected: looked up, and checked for order. `search`: the
  // orders are searched for one that the names from here on follow.
  [[gnu::noinline]] BindingProperty& AddLookedUp(OpenStructure& structure, std::string_view name,
                                                 bool search);
  // Drops the order `structure` expected, and works out what the general path keeps.
  void LeaveExpectedOrder(OpenStructure& structure) noexcept;
  // Keeps the order in which the structure now holds the names of `given`.
  void LearnOrder(const InternedString* const* given, std::size_t count,
                  const MemberEntry* ordered) noexcept;

  WalkStack<OpenStructure> open_;
  std::size_t memberCount_ = 0;
  std::size_t memberCapacity_ = kChunkMembers;
  std::vector<std::unique_ptr<Chunk>> spilled_;
  Chunk first_;
  std::size_t membersAdded_ = 0;
  KnownNames names_;
  std::size_t ordersHeld_ = 0;  // orders_[0, ordersHeld_) are in use
  std::size_t lastOrder_ = 0;   // the order found or learnt last
  std::size_t oldestOrder_ = 0;
  // Changes whenever a kept order is replaced or forgotten, so that a structure that expected it
  // does not close by the permutation of what took its place.
  uint32_t ordersEpoch_ = 0;
  // Where a structure's first name leads: the order found or learnt last for a list beginning
  // with it, by a hash of its record, as the order's index plus one (0: none). A search over all
  // orders at every structure would cost what checking the names against one saves.
  static constexpr std::size_t kFirstNameBits = 6;
  static std::size_t FirstNameSlot(const InternedString* name) noexcept {
    return static_cast<std::size_t>((reinterpret_cast<uintptr_t>(name) * 0x9E3779B97F4A7C15ull) >>
                                    (64 - kFirstNameBits));
  }
  // Notes that lists beginning with `known`'s first name follow it.
  void NoteFirstName(const KnownOrder& known) noexcept;
  uint8_t orderByFirstName_[std::size_t{1} << kFirstNameBits] = {};
  // A structure is most likely of the kind that the last one in its place was: the value of a
  // member of the same name, or an element within as many open structures (siblings in a list are
  // mostly of one kind). Its names are then checked against that kind's order from the first on,
  // which needs no lookup either; a wrong guess costs one comparison. The orders that structures in
  // those places followed last, in the same form as orderByFirstName_.
  static constexpr std::size_t kGuessedDepths = 16;
  static constexpr std::size_t kMemberNamePlaces = std::size_t{1} << kFirstNameBits;
  static constexpr std::size_t kPlaces = kMemberNamePlaces + kGuessedDepths;
  // By member name, then by depth.
  uint8_t orderByPlace_[kPlaces] = {};
  // A structure already in name order is made at no cost, so its order is worth keeping only for
  // a kind that repeats: one whose place held a structure beginning with the same name last. Kept
  // for each place is the first name of the last such structure, as its FirstNameSlot plus one: a
  // name of the same slot only makes an order be learnt in vain.
  uint8_t orderedFirstByPlace_[kPlaces] = {};
  // Whether the ordered structure from `first` begins like the last one in its place.
  bool RepeatsInPlace(const OpenStructure& structure, std::size_t first) noexcept;
  // Where the order of a structure in `node`'s place is noted; null when the place is too deep.
  uint8_t* GuessFor(const BindingProperty& node) noexcept;
  void NoteGuess(const OpenStructure& structure, const KnownOrder& known) noexcept {
    if (structure.guess != nullptr) *structure.guess = static_cast<uint8_t>(&known - orders_ + 1);
  }
  KnownOrder orders_[kKnownOrders];
};

}  // namespace vyn::binding
