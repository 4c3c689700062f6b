// The generic value tree: one node per value (16 bytes on 64-bit); strings, small records and
// structure members live in the tree's BindingArena.
#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/BindingArena.h"

namespace vyn::binding {

struct BindingTypeId;

enum class BindingPropertyKind : uint8_t {
  Empty = 0,
  Bool = 1,
  Signed = 2,
  Unsigned = 3,
  Float = 4,
  String = 5,
  Blob = 6,
  Enum = 7,
  Collection = 8,
  Structure = 9
};

// "empty" .. "structure"; the empty text for a number without a kind.
const char* BindingPropertyKindName(uint8_t kind) noexcept;
inline const char* BindingPropertyKindName(BindingPropertyKind kind) noexcept {
  return BindingPropertyKindName(static_cast<uint8_t>(kind));
}

struct BindingEnum {
  int32_t number = 0;
  const BindingTypeId* type = nullptr;
};

class BindingProperty;
class MemberRange;
class MemberCollector;

// A member name: an interned record, which carries the prefix its comparisons mostly end on.
struct MemberKey {
  const InternedString* name;
};

// A name looked up in a structure, with its prefix computed once per lookup.
struct MemberProbe {
  explicit MemberProbe(std::string_view text) noexcept : prefix(TextPrefix(text)), name(text) {}
  MemberProbe(uint64_t textPrefix, std::string_view text) noexcept
      : prefix(textPrefix), name(text) {}
  uint64_t prefix;
  std::string_view name;
};

struct MemberEntry;

// Orders member names by unsigned bytes over their full length; a proper prefix sorts first.
// Equal prefixes (the zero padding included) leave the decision to the full names.
inline bool MemberKeyLess(const MemberKey& a, const MemberKey& b) noexcept {
  if (a.name == b.name) return false;
  const uint64_t x = a.name->prefix;
  const uint64_t y = b.name->prefix;
  if (x != y) return x < y;
  return TextLess(a.name->View(), b.name->View());
}
inline bool MemberKeyLess(const MemberKey& a, const MemberProbe& b) noexcept {
  const uint64_t x = a.name->prefix;
  if (x != b.prefix) return x < b.prefix;
  return TextLess(a.name->View(), b.name);
}
inline bool MemberKeyLess(const MemberProbe& a, const MemberKey& b) noexcept {
  const uint64_t y = b.name->prefix;
  if (a.prefix != y) return a.prefix < y;
  return TextLess(a.name, b.name->View());
}

// A generic value: empty, scalar, string, blob, enum, collection or structure.
//
// A root node holds its tree's arena, created on the first string, blob, enum, collection or
// structure stored anywhere in the tree. Child nodes (elements, members) use the root's arena.
// Several roots may share one arena (shareArenaWith), so that many small sibling trees share
// storage: each root holds a reference, a root gives its own records back when it is reset or
// destroyed, and the last one destroys the arena (without a walk over its tree).
// References returned by elementAt/memberAt/element/member stay valid until the containing
// collection or structure gains an element or member, a reading of the structure puts its
// members in order (members, closeMembers), or the node holding them is reset. One thread uses a
// tree at a time; roots sharing an arena are used by one thread at a time, together.
class BindingProperty {
 public:
  // Collections hold at most this many elements; asking for more is a length error (see reserve).
  static constexpr std::size_t kMaxElements = 268435455;

  constexpr BindingProperty() noexcept : payload_{0}, word_(kOwnsBit) {}
  ~BindingProperty();
  BindingProperty(const BindingProperty& other);
  BindingProperty& operator=(const BindingProperty& other);
  BindingProperty(BindingProperty&& other) noexcept;
  BindingProperty& operator=(BindingProperty&& other) noexcept;

  // Reading: never changes the node, never fails.
  BindingPropertyKind kind() const noexcept { return static_cast<BindingPropertyKind>(kindCode()); }
  bool asBool(bool def = false) const noexcept {
    return kindCode() == kBool ? payload_.boolean : def;
  }
  int64_t asSigned(int64_t def = 0) const noexcept {
    return kindCode() == kSigned ? payload_.signedNumber : def;
  }
  uint64_t asUnsigned(uint64_t def = 0) const noexcept {
    return kindCode() == kUnsigned ? payload_.unsignedNumber : def;
  }
  double asFloat(double def = 0.0) const noexcept {
    return kindCode() == kFloat ? payload_.floatNumber : def;
  }
  // data() of the result is NUL-terminated when the node is a string.
  std::string_view asString(std::string_view def = {}) const noexcept {
    return kindCode() == kString ? payload_.string->View() : def;
  }
  std::span<const uint8_t> asBlob(std::span<const uint8_t> def = {}) const noexcept;
  BindingEnum asEnum(BindingEnum def = {}) const noexcept {
    return kindCode() == kEnum ? *payload_.enumRecord : def;
  }
  uint32_t size() const noexcept;
  // The shared empty node when this is not a collection or the index is past the end.
  const BindingProperty& element(std::size_t index) const noexcept {
    if (kindCode() == kCollection && index < payload_.collection->size) {
      return payload_.collection->data[index];
    }
    return EmptyNode();
  }
  // The shared empty node when this is not a structure or has no such member.
  const BindingProperty& member(std::string_view name) const noexcept;
  // For each of `names` (ascending and distinct, as BindingType::memberKeys), the member of that
  // name or null, as member() finds it: one pass over both orders instead of a search each.
  void matchMembers(std::span<const MemberKey> names, const BindingProperty** found) const noexcept;
  // Empty unless this is a collection.
  std::span<const BindingProperty> elements() const noexcept {
    if (kindCode() != kCollection) return {};
    return {payload_.collection->data, payload_.collection->size};
  }
  // Members in ascending byte order of their names; empty unless this is a structure. The one
  // reading that may write: members that memberAt added out of order to a structure of more than
  // a few are merged into the order first (see closeMembers).
  MemberRange members() const noexcept;
  // Lenient text for URLs, headers and queries: "true"/"false"; signed and enum numbers in
  // signed decimal, unsigned in unsigned decimal; floats as printf "%f"; strings as they are;
  // blobs in Base64; the empty text for empty nodes, collections and structures.
  std::string toText() const;
  // Lenient number: bool 0 or 1; signed and unsigned as their 64 bits; floats truncated toward
  // zero (NaN 0, from 2^63 the top bit kept, from 2^64 saturated, negatives as the bits of their
  // signed value); strings as strtoull with base 0 (no error; not a number gives 0); enums
  // sign-extended; `def` for empty nodes, blobs, collections and structures.
  uint64_t toUnsigned(uint64_t def = 0) const noexcept;
  static const BindingProperty& EmptyNode() noexcept;

  // Writing: each first resets the node (releasing what it held) unless stated otherwise.
  void reset() noexcept {
    // Scalars hold nothing to release; parsers reset every slot they fill.
    if (kindCode() > kFloat) releasePayload();
    payload_.bits = 0;
    setKindCode(kEmpty);
  }
  void setBool(bool v);
  void setSigned(int64_t v);
  void setUnsigned(uint64_t v);
  void setFloat(double v);
  void setString(std::string_view text);  // interned; "" stays kind string with size 0
  void setString(const char* text);       // null stores the empty text
  // The same for a text interned in this node's own arena (a reader's KnownNames): the node takes
  // a reference of that record, so the tree hashes nothing.
  void setString(const InternedString& ownText);
  void setBlob(std::span<const uint8_t> bytes);
  void setBlob(std::vector<uint8_t>&& bytes);  // copies into the tree, like the span form
  void setEnum(BindingEnum v);
  void makeCollection();  // no-op when already a collection
  // Collections only. Past kMaxElements this is a length error: nothing is reserved (see
  // tryReserve for a checked form).
  void reserve(std::size_t count) { (void)tryReserve(count); }
  // As reserve; false (and nothing changed) on a length error or when this is not a collection.
  bool tryReserve(std::size_t count);
  // Makes the node a collection and grows it with empty elements up to `index`. An index at or
  // past kMaxElements is a length error: the collection is left as it is and the returned node is
  // a per-thread scratch node that is cleared on each such call, so writes through it are lost.
  BindingProperty& elementAt(std::size_t index) {
    if (kindCode() == kCollection && index < payload_.collection->size) {
      return payload_.collection->data[index];
    }
    return elementAtSlow(index);
  }
  // elementAt(size()) on a collection; any other node becomes a collection of one element.
  BindingProperty& appendElement() {
    if (kindCode() == kCollection) {
      CollectionRecord* c = payload_.collection;
      if (c->size < c->capacity) {
        BindingProperty* node = c->data + c->size++;
        node->initChild(arena());
        return *node;
      }
      return elementAtSlow(c->size);
    }
    return elementAtSlow(0);
  }
  void makeStructure();  // no-op when already a structure
  // The same, with room for `members` members (at most kMaxElements) before the structure grows.
  void makeStructure(std::size_t members);
  // Makes the node a structure and returns the member `name`, inserting an empty one if missing.
  BindingProperty& memberAt(std::string_view name);
  // The same for a name given as a shared record (BindingArena::SharedText): a member it inserts
  // is named by that record, so the tree interns nothing.
  BindingProperty& memberAt(const MemberKey& shared);
  // The same for a name interned in this node's own arena (a reader's KnownNames): a member it
  // inserts takes a reference of that record, so the tree hashes nothing.
  BindingProperty& memberAt(const InternedString& ownName);
  // Makes this node a structure of exactly the members that `ordered` names, each empty, and
  // returns their array, which stays put until a member is added or removed. The names are shared
  // records (BindingArena::SharedText), distinct and ascending, as a record's registration orders
  // them (BindingType::memberKeys): a writer that knows all of a structure's names at once neither
  // searches nor inserts. The node must not be a structure with members.
  MemberEntry* layMembers(std::span<const MemberKey> ordered);
  // Puts the members of a structure in order now rather than at its first iteration (see
  // members()): the readers close each structure they complete, so that reading their trees never
  // writes. Const: no member changes, only their order in the array, which moves them.
  void closeMembers() const noexcept {
    if (kindCode() == kStructure && payload_.structure->ordered() != payload_.structure->size()) {
      orderMembers();
    }
  }
  // Deep copy into this node's tree. Copying a node onto itself does nothing; copying a node of
  // this node's own subtree (or an ancestor) is safe.
  void copyFrom(const BindingProperty& other);
  // Between roots a swap of value and arena; else a deep copy. The source is reset afterwards; a
  // source root left holding a shared arena lets go of it.
  void moveFrom(BindingProperty& other);
  // A move that never copies a container: when this is a root and `other` a collection or
  // structure below the root of another tree, this root joins that tree's arena (which then lives
  // until both roots are gone) and takes the subtree as it stands; `other` is left empty. Anything
  // else is a moveFrom. For taking the bulk out of a temporary tree: a small part taken from a
  // large tree keeps all of that tree's storage alive.
  void takeFrom(BindingProperty& other);
  // Makes this root's tree use the arena of `other`'s tree (created for `other` when it has none
  // yet), keeping this root's value: it is copied over when it held storage. Meant for an empty
  // root joining a sibling. Nothing happens when both already use one arena, or (a programmer
  // error) when this is not a root.
  void shareArenaWith(BindingProperty& other);

  // The arena of this node's tree, or null before the tree needed one.
  BindingArena* arena() const noexcept {
    return reinterpret_cast<BindingArena*>(word_ & kArenaBits);
  }
  // Whether this node is a root, which holds (alone or with the roots sharing it) or will create
  // its tree's arena.
  bool ownsArena() const noexcept { return (word_ & kOwnsBit) != 0; }

 private:
  friend class MemberRange;
  friend class MemberCollector;
  friend class ElementCollector;

  static constexpr uint8_t kEmpty = 0, kBool = 1, kSigned = 2, kUnsigned = 3, kFloat = 4,
                           kString = 5, kBlob = 6, kEnum = 7, kCollection = 8, kStructure = 9;
  // The arena, the kind and whether the node is a root share one word: arenas are aligned to
  // BindingArena::kAlignment, which leaves the pointer's five low bits free, so that a node is 16
  // bytes on 64-bit and the tree of a large body is a quarter smaller.
  static constexpr uintptr_t kKindBits = 0x0F, kOwnsBit = 0x10,
                             kArenaBits = ~(kKindBits | kOwnsBit);
  static_assert(kStructure <= kKindBits && (kKindBits | kOwnsBit) < BindingArena::kAlignment);

  uint8_t kindCode() const noexcept { return static_cast<uint8_t>(word_ & kKindBits); }
  void setKindCode(uint8_t kind) noexcept { word_ = (word_ & ~kKindBits) | kind; }
  void setArena(BindingArena* arena) noexcept {
    word_ = (word_ & ~kArenaBits) | reinterpret_cast<uintptr_t>(arena);
  }

  struct CollectionRecord;
  struct StructureRecord;
  struct BlobRecord;
  union Payload {
    uint64_t bits;  // first, so that initialising the union clears all eight bytes
    bool boolean;
    int64_t signedNumber;
    uint64_t unsignedNumber;
    double floatNumber;
    const InternedString* string;
    BlobRecord* blob;
    BindingEnum* enumRecord;
    CollectionRecord* collection;
    StructureRecord* structure;
  };

  struct CollectionRecord {
    BindingProperty* data;
    uint32_t size;
    uint32_t capacity;
  };
  // The members, each name once, follow this header in one array, so that a structure costs a
  // single record of its arena: a whole slot or block of the arena, or a heap block of the sizes
  // binding/ValueArrays.h gives classes of. The first `ordered` are in ascending order of their
  // names; the rest, added out of order to a large structure, wait unordered (at most about the
  // square root of the size) until an iteration or closeMembers merges them in. The header is one
  // word: the size and the ordered count in 28 bits each, and in the top eight the size class of
  // the array, which tells its capacity. Structures without room share one header that is never
  // written (class 0, capacity 0).
  struct alignas(Payload) StructureRecord {
    static constexpr uint64_t kCountMask = kMaxElements;
    static constexpr unsigned kOrderedShift = 28, kClassShift = 56;

    uint64_t word;

    uint32_t size() const noexcept { return static_cast<uint32_t>(word & kCountMask); }
    uint32_t ordered() const noexcept {
      return static_cast<uint32_t>(word >> kOrderedShift & kCountMask);
    }
    unsigned sizeClass() const noexcept { return static_cast<unsigned>(word >> kClassShift); }
    std::size_t capacity() const noexcept;
    void setSize(std::size_t size) noexcept { word = (word & ~kCountMask) | size; }
    void setOrdered(std::size_t ordered) noexcept {
      word = (word & ~(kCountMask << kOrderedShift)) | uint64_t{ordered} << kOrderedShift;
    }
    MemberEntry* entries() noexcept { return reinterpret_cast<MemberEntry*>(this + 1); }
    const MemberEntry* entries() const noexcept {
      return reinterpret_cast<const MemberEntry*>(this + 1);
    }
  };
  static_assert(kMaxElements == (uint64_t{1} << 28) - 1, "counts of 28 bits");
  static StructureRecord noMembers_;
  // A header with room for at least `capacity` members (the shared one for 0), and its release.
  static StructureRecord* AllocateStructure(BindingArena& arena, std::size_t capacity);
  static void FreeStructure(BindingArena& arena, StructureRecord* record) noexcept;
  // The bytes are a heap block of the tree's arena (none when the blob is empty).
  struct BlobRecord {
    uint8_t* data;
    std::size_t size;
  };

  void initChild(BindingArena* arena) noexcept {
    payload_.bits = 0;
    word_ = reinterpret_cast<uintptr_t>(arena);  // empty, and not a root
  }
  // Walks over nested containers keep their own stack (see the source), so that trees nested as
  // deeply as any input can make them are released, copied and searched without recursion.
  struct Walk;

  BindingArena& ensureArena();
  void leaveArena() noexcept;
  BindingProperty& elementAtSlow(std::size_t index);
  void growCollection(std::size_t capacity);
  // For ElementCollector: room for `count` elements in this empty collection, which then holds
  // them; the caller moves initialised nodes into it at once.
  BindingProperty* takeElements(std::size_t count);
  void releasePayload() noexcept;
  void releaseLeaf() noexcept;
  void freeContainer() noexcept;
  void installBlob(std::span<const uint8_t> bytes);
  void copyInto(const BindingProperty& source);
  void copyLeaf(const BindingProperty& source);
  bool contains(const BindingProperty& node) const noexcept;
  // `name` names a member they insert: null to intern the probe's text, else a shared record, or
  // one of this node's arena when `own`.
  BindingProperty& memberNamed(const MemberProbe& probe, const InternedString* name, bool own);
  BindingProperty& addMember(std::size_t position, const MemberProbe& probe,
                             const InternedString* name, bool own);
  // A new empty member of `arena` at `at`, named by `name`, a record of `arena` whose reference
  // the member takes over.
  static void InitMember(MemberEntry& at, BindingArena& arena, const InternedString* name) noexcept;
  // For MemberCollector: the release of a member not yet in any structure, and the making of this
  // empty structure from members in any order: takeMembers gives room for `count` members, which
  // the caller moves into it at once (taken over). Members given `inOrder`, by name and each name
  // once, make the structure; others are then put in order by settleMembers, which keeps of equal
  // names the last one given and releases the others.
  static void DiscardMember(MemberEntry& member) noexcept;
  MemberEntry* takeMembers(std::size_t count, bool inOrder);
  void settleMembers() noexcept;
  // For MemberCollector, which may fill a structure's array before the structure has it: room in
  // `arena` for `count` members, made there in any order; adoptMembers then makes this empty
  // structure of them, by name and each name once, or FreeMembers gives the room back.
  static MemberEntry* AllocateMembers(BindingArena& arena, std::size_t count);
  void adoptMembers(MemberEntry* entries, std::size_t count) noexcept;
  static void FreeMembers(BindingArena& arena, MemberEntry* entries) noexcept;
  void growMembers();
  void growMembersTo(std::size_t capacity);
  void orderMembers() const noexcept;

  Payload payload_;
  uintptr_t word_;
};

static_assert(sizeof(void*) != 8 || sizeof(BindingProperty) == 16,
              "a node is its payload and its tagged arena: 16 bytes on 64-bit");

// One member of a structure: its name and its node, in place, so that a member costs one entry
// of its structure's array and a walk reaches the node without a hop. A node holds no pointer to
// itself, so an entry moves as plain bytes when the array grows, takes a member in or is put in
// order; members therefore move when others are added or ordered.
struct MemberEntry {
  MemberKey key;
  alignas(BindingProperty) unsigned char nodeBytes[sizeof(BindingProperty)];

  BindingProperty& node() noexcept {
    return *std::launder(reinterpret_cast<BindingProperty*>(nodeBytes));
  }
  const BindingProperty& node() const noexcept {
    return *std::launder(reinterpret_cast<const BindingProperty*>(nodeBytes));
  }
};

// The scalars, and texts already interned, are set inline: readers set one for most values they
// read.
inline void BindingProperty::setBool(bool v) {
  reset();
  payload_.boolean = v;
  setKindCode(kBool);
}
inline void BindingProperty::setSigned(int64_t v) {
  reset();
  payload_.signedNumber = v;
  setKindCode(kSigned);
}
inline void BindingProperty::setUnsigned(uint64_t v) {
  reset();
  payload_.unsignedNumber = v;
  setKindCode(kUnsigned);
}
inline void BindingProperty::setFloat(double v) {
  reset();
  payload_.floatNumber = v;
  setKindCode(kFloat);
}
inline void BindingProperty::setString(const InternedString& ownText) {
  assert(arena() != nullptr);
  // Referenced before the reset: the node may hold this very record.
  arena()->AddRef(&ownText);
  reset();
  payload_.string = &ownText;
  setKindCode(kString);
}

inline void BindingProperty::makeStructure() {
  if (kindCode() == kStructure) return;
  reset();
  if (arena() == nullptr) (void)ensureArena();  // for the members to come
  payload_.structure = &noMembers_;
  setKindCode(kStructure);
}

inline void BindingProperty::InitMember(MemberEntry& at, BindingArena& arena,
                                        const InternedString* name) noexcept {
  at.key.name = name;
  (new (at.nodeBytes) BindingProperty())->initChild(&arena);
}

// One member of a structure, as the member iteration yields it. `name.data()` is NUL-terminated.
struct MemberView {
  std::string_view name;
  const BindingProperty& value;
};

// The members of a structure in ascending byte order of their names.
class MemberRange {
 public:
  class iterator {
   public:
    using iterator_category = std::input_iterator_tag;  // yields views, not references
    using iterator_concept = std::bidirectional_iterator_tag;
    using value_type = MemberView;
    using difference_type = std::ptrdiff_t;
    using reference = MemberView;
    using pointer = void;

    iterator() = default;
    MemberView operator*() const noexcept { return {at_->key.name->View(), at_->node()}; }
    iterator& operator++() noexcept {
      ++at_;
      return *this;
    }
    iterator operator++(int) noexcept {
      iterator old = *this;
      ++at_;
      return old;
    }
    iterator& operator--() noexcept {
      --at_;
      return *this;
    }
    iterator operator--(int) noexcept {
      iterator old = *this;
      --at_;
      return old;
    }
    bool operator==(const iterator& other) const noexcept { return at_ == other.at_; }

   private:
    friend class MemberRange;
    explicit iterator(const MemberEntry* at) : at_(at) {}
    const MemberEntry* at_ = nullptr;
  };

  MemberRange() noexcept = default;
  // Puts the structure's members in order first (see closeMembers).
  explicit MemberRange(const BindingProperty& node) noexcept;

  iterator begin() const noexcept { return iterator(first_); }
  iterator end() const noexcept { return iterator(first_ + size_); }
  bool empty() const noexcept { return size_ == 0; }
  std::size_t size() const noexcept { return size_; }

 private:
  const MemberEntry* first_ = nullptr;
  std::size_t size_ = 0;
};

inline MemberRange::MemberRange(const BindingProperty& node) noexcept {
  if (node.kindCode() != BindingProperty::kStructure) return;
  node.closeMembers();
  first_ = node.payload_.structure->entries();
  size_ = node.payload_.structure->size();
}

inline MemberRange BindingProperty::members() const noexcept { return MemberRange(*this); }

// A value plus an ok flag. Fresh: empty and ok. SetError resets the value, clears ok and makes the
// value the structure {"error": message}; a later SetError replaces the message.
class [[nodiscard]] BindingResult : public BindingProperty {
 public:
  bool ok() const noexcept { return ok_; }
  void SetError(std::string_view message);
  // "" when ok, else the "error" member's string ("" when that is not a string).
  std::string ErrorText() const;

 private:
  bool ok_ = true;
};

}  // namespace vyn::binding
