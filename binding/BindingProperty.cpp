// The generic value: reading, lenient rendering, writing, deep copy and release of trees.
#include "binding/BindingProperty.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "base/Base64.h"
#include "binding/ValueArrays.h"
#include "binding/WalkStack.h"

namespace vyn::binding {
namespace {

constexpr const char* kKindNames[] = {"empty",  "bool", "signed", "unsigned",   "float",
                                      "string", "blob", "enum",   "collection", "structure"};

constinit const BindingProperty kEmptyNode;

uint32_t ClampSize(std::size_t size) noexcept {
  return size > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                     : static_cast<uint32_t>(size);
}

// Elements are plain bytes plus pointers into the arena, so growth moves them with memcpy.
void RelocateNodes(BindingProperty* to, const BindingProperty* from, std::size_t count) noexcept {
  if (count != 0) {
    std::memcpy(static_cast<void*>(to), static_cast<const void*>(from),
                count * sizeof(BindingProperty));
  }
}

template <class Integer>
std::string IntegerText(Integer value) {
  char buffer[24];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  (void)error;
  return std::string(buffer, end);
}

std::string FloatText(double value) {
  char buffer[64];
  const int length = std::snprintf(buffer, sizeof buffer, "%f", value);
  if (length < 0) return std::string();
  if (static_cast<std::size_t>(length) < sizeof buffer) {
    return std::string(buffer, static_cast<std::size_t>(length));
  }
  std::string text(static_cast<std::size_t>(length), '\0');
  std::snprintf(text.data(), text.size() + 1, "%f", value);
  return text;
}

// Truncation toward zero that never leaves the defined range: NaN gives 0, values from 2^63
// keep their top bit, values at or above 2^64 saturate, negative values keep the two's
// complement bits of their truncated signed value (saturating at -2^63).
uint64_t FloatToUnsigned(double value) noexcept {
  constexpr double kTwo63 = 9223372036854775808.0;
  constexpr double kTwo64 = 18446744073709551616.0;
  if (std::isnan(value)) return 0;
  if (value >= kTwo64) return std::numeric_limits<uint64_t>::max();
  if (value >= kTwo63) return static_cast<uint64_t>(value - kTwo63) | (uint64_t{1} << 63);
  if (value <= -kTwo63) return uint64_t{1} << 63;
  return static_cast<uint64_t>(static_cast<int64_t>(value));
}

bool IsContainer(uint8_t kind) noexcept {
  return kind == static_cast<uint8_t>(BindingPropertyKind::Collection) ||
         kind == static_cast<uint8_t>(BindingPropertyKind::Structure);
}

}  // namespace

// Iterative walks over nested containers, each with a WalkStack of its frames.
struct BindingProperty::Walk {
  // A container being visited and the position of its next child.
  struct Frame {
    BindingProperty* node;
    std::size_t index;
  };

  static Frame Start(BindingProperty* node) noexcept { return {node, 0}; }

  // The next child of the frame's container, or null when all have been visited. A structure
  // still being appended to yields its duplicates too, which a release needs.
  static BindingProperty* Next(Frame& frame) noexcept {
    if (frame.node->kindCode() == kCollection) {
      CollectionRecord* collection = frame.node->payload_.collection;
      return frame.index < collection->size ? &collection->data[frame.index++] : nullptr;
    }
    StructureRecord* structure = frame.node->payload_.structure;
    return frame.index < structure->size() ? &structure->entries()[frame.index++].node() : nullptr;
  }

  // A container to copy: the source, its (empty) target and, once the target is a collection,
  // the position of the next element.
  struct CopyFrame {
    const BindingProperty* source;
    BindingProperty* target;
    std::size_t index;
    bool started;
  };
  using CopyStack = WalkStack<CopyFrame>;

  // Copies the members of `source` into the empty node `target` as they are (in order or not):
  // the leaves at once, the nested containers empty and pushed on the walk.
  static void CopyMembers(const BindingProperty& source, BindingProperty& target,
                          CopyStack& stack) {
    const StructureRecord& from = *source.payload_.structure;
    BindingArena& arena = target.ensureArena();
    StructureRecord* to = AllocateStructure(arena, from.size());
    target.payload_.structure = to;
    target.setKindCode(kStructure);
    if (from.size() == 0) return;
    to->setOrdered(from.ordered());
    for (uint32_t i = 0; i < from.size(); ++i) {
      const MemberEntry& member = from.entries()[i];
      MemberEntry& copy = to->entries()[i];
      InitMember(copy, arena, arena.Intern(*member.key.name));
      to->setSize(i + 1);
      // The target's array has its final size: the nodes pushed stay put.
      if (IsContainer(member.node().kindCode())) {
        stack.Push({&member.node(), &copy.node(), 0, false});
      } else {
        copy.node().copyLeaf(member.node());
      }
    }
  }
};

const char* BindingPropertyKindName(uint8_t kind) noexcept {
  return kind < std::size(kKindNames) ? kKindNames[kind] : "";
}

const BindingProperty& BindingProperty::EmptyNode() noexcept { return kEmptyNode; }

BindingProperty::~BindingProperty() {
  if (!ownsArena() || arena() == nullptr) return;
  // A sole owner leaves every slot, string and heap block of the tree to the arena, which frees
  // them all at once: no walk over the nodes. A root sharing its arena gives its own records back
  // so that its siblings' storage can reuse them, unless the siblings are taken parts of one
  // temporary, which all go soon.
  if (arena()->RootCount() > 1 && !arena()->keepsRecordsOfLeavingRoots()) reset();
  BindingArena::DropRoot(arena());
}

BindingProperty::BindingProperty(const BindingProperty& other) : BindingProperty() {
  copyFrom(other);
}

BindingProperty& BindingProperty::operator=(const BindingProperty& other) {
  copyFrom(other);
  return *this;
}

BindingProperty::BindingProperty(BindingProperty&& other) noexcept : BindingProperty() {
  moveFrom(other);
}

BindingProperty& BindingProperty::operator=(BindingProperty&& other) noexcept {
  moveFrom(other);
  return *this;
}

std::span<const uint8_t> BindingProperty::asBlob(std::span<const uint8_t> def) const noexcept {
  if (kindCode() != kBlob) return def;
  return {payload_.blob->data, payload_.blob->size};
}

uint32_t BindingProperty::size() const noexcept {
  switch (kindCode()) {
    case kEmpty:
      return 0;
    case kString:
      return ClampSize(payload_.string->length);
    case kBlob:
      return ClampSize(payload_.blob->size);
    case kCollection:
      return payload_.collection->size;
    case kStructure:
      return payload_.structure->size();
    default:
      return 1;
  }
}

std::string BindingProperty::toText() const {
  switch (kindCode()) {
    case kBool:
      return payload_.boolean ? "true" : "false";
    case kSigned:
      return IntegerText(payload_.signedNumber);
    case kUnsigned:
      return IntegerText(payload_.unsignedNumber);
    case kFloat:
      return FloatText(payload_.floatNumber);
    case kString:
      return std::string(payload_.string->View());
    case kBlob:
      return base::Base64Encode(payload_.blob->data, payload_.blob->size);
    case kEnum:
      return IntegerText(payload_.enumRecord->number);
    default:
      return std::string();
  }
}

uint64_t BindingProperty::toUnsigned(uint64_t def) const noexcept {
  switch (kindCode()) {
    case kBool:
      return payload_.boolean ? 1 : 0;
    case kSigned:
    case kUnsigned:
      return payload_.unsignedNumber;
    case kFloat:
      return FloatToUnsigned(payload_.floatNumber);
    case kString:
      // The interned text is NUL-terminated; an embedded NUL ends the number, as it would in C.
      return std::strtoull(payload_.string->Text(), nullptr, 0);
    case kEnum:
      return static_cast<uint64_t>(static_cast<int64_t>(payload_.enumRecord->number));
    default:
      return def;
  }
}

void BindingProperty::releasePayload() noexcept {
  if (!IsContainer(kindCode())) {
    releaseLeaf();
    return;
  }
  WalkStack<Walk::Frame> stack;
  stack.Push(Walk::Start(this));
  while (!stack.Empty()) {
    BindingProperty* child = Walk::Next(stack.Top());
    if (child == nullptr) {
      stack.Top().node->freeContainer();
      stack.Pop();
    } else if (IsContainer(child->kindCode())) {
      stack.Push(Walk::Start(child));
    } else {
      child->releaseLeaf();
    }
  }
}

void BindingProperty::releaseLeaf() noexcept {
  switch (kindCode()) {
    case kString:
      arena()->Release(payload_.string);
      break;
    case kBlob:
      arena()->FreeHeap(payload_.blob->data);
      arena()->Free(sizeof(BlobRecord), payload_.blob);
      break;
    case kEnum:
      arena()->Free(sizeof(BindingEnum), payload_.enumRecord);
      break;
    default:
      break;
  }
}

// Frees the records of a container whose children have been released already.
void BindingProperty::freeContainer() noexcept {
  if (kindCode() == kCollection) {
    const CollectionRecord* collection = payload_.collection;
    if (collection->capacity != 0) {
      FreeArray(*arena(), collection->data, collection->capacity * sizeof(BindingProperty));
    }
    arena()->Free(sizeof(CollectionRecord), payload_.collection);
    return;
  }
  StructureRecord* structure = payload_.structure;
  const MemberEntry* entries = structure->entries();
  for (uint32_t i = 0; i < structure->size(); ++i) arena()->Release(entries[i].key.name);
  FreeStructure(*arena(), structure);
}

void BindingProperty::shareArenaWith(BindingProperty& other) {
  assert(ownsArena());  // a child lives in its root's arena
  if (!ownsArena() || &other == this) return;
  if (arena() != nullptr && arena() == other.arena()) return;
  BindingArena& shared = other.ensureArena();
  // The value moves aside (a swap between roots), so that it can be copied into the joined arena
  // and the old arena goes with the aside root.
  BindingProperty aside;
  aside.moveFrom(*this);
  shared.AddRoot();
  setArena(&shared);
  if (aside.kindCode() != kEmpty) copyInto(aside);
}

// Lets go of this empty root's arena.
void BindingProperty::leaveArena() noexcept {
  assert(ownsArena() && kindCode() == kEmpty);
  BindingArena::DropRoot(arena());
  setArena(nullptr);
}

BindingArena& BindingProperty::ensureArena() {
  if (arena() == nullptr) {
    assert(ownsArena());  // children always carry their tree's arena
    setArena(BindingArena::Create());
  }
  return *arena();
}

void BindingProperty::setString(std::string_view text) {
  // Interned before the reset: the text may belong to this very node or its subtree.
  const InternedString* record = ensureArena().Intern(text);
  reset();
  payload_.string = record;
  setKindCode(kString);
}

void BindingProperty::setString(const char* text) {
  setString(text == nullptr ? std::string_view() : std::string_view(text));
}

void BindingProperty::setBlob(std::span<const uint8_t> bytes) {
  // Copied before the reset: the bytes may be this node's own.
  BindingArena& arena = ensureArena();
  auto* data = bytes.empty() ? nullptr : static_cast<uint8_t*>(arena.AllocateHeap(bytes.size()));
  if (data != nullptr) std::memcpy(data, bytes.data(), bytes.size());
  reset();
  // Should this throw, the bytes stay with the arena until the tree goes.
  void* slot = arena.AllocateOrThrow(sizeof(BlobRecord));
  payload_.blob = new (slot) BlobRecord{data, bytes.size()};
  setKindCode(kBlob);
}

void BindingProperty::setBlob(std::vector<uint8_t>&& bytes) {
  // The bytes move into the tree's arena, so that the tree is freed with it in one step.
  const std::vector<uint8_t> taken(std::move(bytes));
  setBlob(std::span<const uint8_t>(taken));
}

// Makes this empty node a blob holding a copy of the bytes.
void BindingProperty::installBlob(std::span<const uint8_t> bytes) {
  BindingArena& arena = ensureArena();
  void* slot = arena.AllocateOrThrow(sizeof(BlobRecord));
  uint8_t* data = nullptr;
  if (!bytes.empty()) {
    data = static_cast<uint8_t*>(arena.AllocateHeap(bytes.size()));
    std::memcpy(data, bytes.data(), bytes.size());
  }
  payload_.blob = new (slot) BlobRecord{data, bytes.size()};
  setKindCode(kBlob);
}

void BindingProperty::setEnum(BindingEnum v) {
  reset();
  void* slot = ensureArena().AllocateOrThrow(sizeof(BindingEnum));
  payload_.enumRecord = new (slot) BindingEnum(v);
  setKindCode(kEnum);
}

void BindingProperty::makeCollection() {
  if (kindCode() == kCollection) return;
  reset();
  void* slot = ensureArena().AllocateOrThrow(sizeof(CollectionRecord));
  payload_.collection = new (slot) CollectionRecord{nullptr, 0, 0};
  setKindCode(kCollection);
}

bool BindingProperty::tryReserve(std::size_t count) {
  if (kindCode() != kCollection || count > kMaxElements) return false;
  if (count > payload_.collection->capacity) growCollection(count);
  return true;
}

void BindingProperty::growCollection(std::size_t capacity) {
  CollectionRecord* collection = payload_.collection;
  capacity = std::min(UsableCount(capacity, sizeof(BindingProperty)), kMaxElements);
  auto* grown =
      static_cast<BindingProperty*>(AllocateArray(*arena(), capacity * sizeof(BindingProperty)));
  RelocateNodes(grown, collection->data, collection->size);
  if (collection->capacity != 0) {
    FreeArray(*arena(), collection->data, collection->capacity * sizeof(BindingProperty));
  }
  collection->data = grown;
  collection->capacity = static_cast<uint32_t>(capacity);
}

BindingProperty* BindingProperty::takeElements(std::size_t count) {
  assert(kindCode() == kCollection && payload_.collection->size == 0);
  growCollection(count);
  payload_.collection->size = static_cast<uint32_t>(count);
  return payload_.collection->data;
}

BindingProperty& BindingProperty::elementAtSlow(std::size_t index) {
  if (index >= kMaxElements) {
    // Length error: nothing to hand out from the collection, so writes go to a scratch node.
    thread_local BindingProperty scratch;
    scratch.reset();
    return scratch;
  }
  makeCollection();
  CollectionRecord* collection = payload_.collection;
  if (index < collection->size) return collection->data[index];
  const std::size_t needed = index + 1;
  if (needed > collection->capacity) {
    const std::size_t doubled = std::size_t{collection->capacity} * 2;
    growCollection(std::min(std::max({needed, doubled, std::size_t{4}}), kMaxElements));
  }
  for (std::size_t i = collection->size; i < needed; ++i) collection->data[i].initChild(arena());
  collection->size = static_cast<uint32_t>(needed);
  return collection->data[index];
}

void BindingProperty::copyFrom(const BindingProperty& other) {
  if (&other == this) return;
  switch (other.kindCode()) {
    case kEmpty:
    case kBool:
    case kSigned:
    case kUnsigned:
    case kFloat: {
      const Payload payload = other.payload_;
      const uint8_t kind = other.kindCode();
      reset();
      payload_ = payload;
      setKindCode(kind);
      return;
    }
    case kString:
      if (arena() != nullptr && arena() == other.arena()) {
        const InternedString* record = other.payload_.string;
        arena()->AddRef(record);
        reset();
        payload_.string = record;
        setKindCode(kString);
      } else {
        setString(other.payload_.string->View());
      }
      return;
    case kBlob:
      setBlob(other.asBlob());
      return;
    case kEnum:
      setEnum(*other.payload_.enumRecord);
      return;
    default:
      break;
  }
  if (arena() != nullptr && arena() == other.arena()) {
    // Same tree: the source may lie below this node (resetting would free it) or above it
    // (copying would read what is being written), so go through a tree of its own. A root's
    // detour shares the root's arena, which the swap below then keeps.
    BindingProperty copy;
    if (ownsArena()) copy.shareArenaWith(*this);
    copy.copyInto(other);
    if (ownsArena()) {
      moveFrom(copy);
    } else {
      reset();
      copyInto(copy);
    }
    return;
  }
  reset();
  copyInto(other);
}

// Deep copy of `source`, from another tree, into this empty node.
void BindingProperty::copyInto(const BindingProperty& source) {
  assert(kindCode() == kEmpty);
  if (!IsContainer(source.kindCode())) {
    copyLeaf(source);
    return;
  }
  Walk::CopyStack stack;
  stack.Push({&source, this, 0, false});
  while (!stack.Empty()) {
    Walk::CopyFrame& frame = stack.Top();
    if (frame.source->kindCode() == kStructure) {
      const BindingProperty* from = frame.source;
      BindingProperty* to = frame.target;
      stack.Pop();
      Walk::CopyMembers(*from, *to, stack);
      continue;
    }
    const CollectionRecord& elements = *frame.source->payload_.collection;
    if (!frame.started) {
      frame.target->makeCollection();
      if (elements.size != 0) frame.target->growCollection(elements.size);
      frame.started = true;
    }
    if (frame.index == elements.size) {
      stack.Pop();
      continue;
    }
    CollectionRecord& copies = *frame.target->payload_.collection;
    BindingProperty& to = copies.data[frame.index];
    to.initChild(frame.target->arena());
    copies.size = static_cast<uint32_t>(frame.index + 1);
    const BindingProperty& from = elements.data[frame.index++];
    if (IsContainer(from.kindCode())) {
      stack.Push({&from, &to, 0, false});  // `frame` may move here
    } else {
      to.copyLeaf(from);
    }
  }
}

void BindingProperty::copyLeaf(const BindingProperty& source) {
  switch (source.kindCode()) {
    case kString:
      payload_.string = ensureArena().Intern(*source.payload_.string);
      setKindCode(kString);
      return;
    case kBlob:
      installBlob({source.payload_.blob->data, source.payload_.blob->size});
      return;
    case kEnum: {
      void* slot = ensureArena().AllocateOrThrow(sizeof(BindingEnum));
      payload_.enumRecord = new (slot) BindingEnum(*source.payload_.enumRecord);
      setKindCode(kEnum);
      return;
    }
    default:
      payload_ = source.payload_;
      setKindCode(source.kindCode());
      return;
  }
}

void BindingProperty::moveFrom(BindingProperty& other) {
  if (&other == this) return;
  if (ownsArena() && other.ownsArena()) {
    std::swap(payload_, other.payload_);
    std::swap(word_, other.word_);  // both roots: the owns flag stays where it was
    other.reset();
    // The source keeps an arena of its own for reuse, but never a hold on a shared one: an empty
    // root must not keep its former siblings' storage alive.
    if (other.arena() != nullptr && other.arena()->RootCount() > 1) other.leaveArena();
    return;
  }
  if (arena() != nullptr && arena() == other.arena() && contains(other)) {
    // The source lies below this node: the copy's reset of this node already released it.
    copyFrom(other);
    return;
  }
  copyFrom(other);
  other.reset();
}

void BindingProperty::takeFrom(BindingProperty& other) {
  // A node of this root's own tree, or of a sibling sharing its arena, may lie below this node:
  // moveFrom tells those apart.
  if (!ownsArena() || other.ownsArena() || !IsContainer(other.kindCode()) ||
      arena() == other.arena()) {
    moveFrom(other);
    return;
  }
  reset();
  shareArenaWith(other);
  arena()->KeepRecordsOfLeavingRoots();
  payload_ = other.payload_;
  setKindCode(other.kindCode());
  // The records now belong to this tree: emptied without a reset, which would free them.
  other.payload_ = Payload{0};
  other.setKindCode(kEmpty);
}

bool BindingProperty::contains(const BindingProperty& node) const noexcept {
  if (&node == this) return true;
  if (!IsContainer(kindCode())) return false;
  WalkStack<Walk::Frame> stack;
  stack.Push(Walk::Start(const_cast<BindingProperty*>(this)));
  while (!stack.Empty()) {
    BindingProperty* child = Walk::Next(stack.Top());
    if (child == &node) return true;
    if (child == nullptr) {
      stack.Pop();
    } else if (IsContainer(child->kindCode())) {
      stack.Push(Walk::Start(child));
    }
  }
  return false;
}

void BindingResult::SetError(std::string_view message) {
  // The message may be this result's own error text, which the reset releases.
  const std::string text(message);
  reset();
  ok_ = false;
  memberAt("error").setString(text);
}

std::string BindingResult::ErrorText() const {
  if (ok_) return std::string();
  return std::string(member("error").asString());
}

}  // namespace vyn::binding
