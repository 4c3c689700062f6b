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
    if (frame.node->kind_ == kCollection) {
      CollectionRecord* collection = frame.node->payload_.collection;
      return frame.index < collection->size ? &collection->data[frame.index++] : nullptr;
    }
    StructureRecord* structure = frame.node->payload_.structure;
    return frame.index < structure->size ? structure->entries[frame.index++].node : nullptr;
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
    void* slot = arena.AllocateOrThrow(sizeof(StructureRecord));
    auto* to = new (slot) StructureRecord{nullptr, 0, 0, from.ordered};
    target.payload_.structure = to;
    target.kind_ = kStructure;
    if (from.size == 0) return;
    to->entries = static_cast<MemberEntry*>(AllocateArray(arena, from.size * sizeof(MemberEntry)));
    to->capacity = from.size;
    for (uint32_t i = 0; i < from.size; ++i) {
      const MemberEntry& member = from.entries[i];
      const MemberEntry copy = BindingProperty::NewMember(arena, member.key);
      to->entries[i] = copy;
      to->size = i + 1;
      if (IsContainer(member.node->kind_)) {
        stack.Push({member.node, copy.node, 0, false});
      } else {
        copy.node->copyLeaf(*member.node);
      }
    }
  }
};

const char* BindingPropertyKindName(uint8_t kind) noexcept {
  return kind < std::size(kKindNames) ? kKindNames[kind] : "";
}

const BindingProperty& BindingProperty::EmptyNode() noexcept { return kEmptyNode; }

BindingProperty::~BindingProperty() {
  if (owns_ == 0 || arena_ == nullptr) return;
  // A sole owner leaves every slot, string and heap block of the tree to the arena, which frees
  // them all at once: no walk over the nodes. A root sharing its arena gives its own records back
  // so that its siblings' storage can reuse them, unless the siblings are taken parts of one
  // temporary, which all go soon.
  if (arena_->RootCount() > 1 && !arena_->keepsRecordsOfLeavingRoots()) reset();
  BindingArena::DropRoot(arena_);
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
  if (kind_ != kBlob) return def;
  return {payload_.blob->data, payload_.blob->size};
}

uint32_t BindingProperty::size() const noexcept {
  switch (kind_) {
    case kEmpty:
      return 0;
    case kString:
      return ClampSize(payload_.string->length);
    case kBlob:
      return ClampSize(payload_.blob->size);
    case kCollection:
      return payload_.collection->size;
    case kStructure:
      return payload_.structure->size;
    default:
      return 1;
  }
}

std::string BindingProperty::toText() const {
  switch (kind_) {
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
  switch (kind_) {
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
  if (!IsContainer(kind_)) {
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
    } else if (IsContainer(child->kind_)) {
      stack.Push(Walk::Start(child));
    } else {
      child->releaseLeaf();
    }
  }
}

void BindingProperty::releaseLeaf() noexcept {
  switch (kind_) {
    case kString:
      arena_->Release(payload_.string);
      break;
    case kBlob:
      arena_->FreeHeap(payload_.blob->data);
      arena_->Free(sizeof(BlobRecord), payload_.blob);
      break;
    case kEnum:
      arena_->Free(sizeof(BindingEnum), payload_.enumRecord);
      break;
    default:
      break;
  }
}

// Frees the records of a container whose children have been released already.
void BindingProperty::freeContainer() noexcept {
  if (kind_ == kCollection) {
    const CollectionRecord* collection = payload_.collection;
    if (collection->capacity != 0) {
      FreeArray(*arena_, collection->data, collection->capacity * sizeof(BindingProperty));
    }
    arena_->Free(sizeof(CollectionRecord), payload_.collection);
    return;
  }
  StructureRecord* structure = payload_.structure;
  for (uint32_t i = 0; i < structure->size; ++i) {
    arena_->Release(structure->entries[i].key.name);
    arena_->Free(sizeof(BindingProperty), structure->entries[i].node);
  }
  if (structure->capacity != 0) {
    FreeArray(*arena_, structure->entries, structure->capacity * sizeof(MemberEntry));
  }
  arena_->Free(sizeof(StructureRecord), structure);
}

void BindingProperty::shareArenaWith(BindingProperty& other) {
  assert(owns_ != 0);  // a child lives in its root's arena
  if (owns_ == 0 || &other == this) return;
  if (arena_ != nullptr && arena_ == other.arena_) return;
  BindingArena& shared = other.ensureArena();
  // The value moves aside (a swap between roots), so that it can be copied into the joined arena
  // and the old arena goes with the aside root.
  BindingProperty aside;
  aside.moveFrom(*this);
  shared.AddRoot();
  arena_ = &shared;
  if (aside.kind_ != kEmpty) copyInto(aside);
}

// Lets go of this empty root's arena.
void BindingProperty::leaveArena() noexcept {
  assert(owns_ != 0 && kind_ == kEmpty);
  BindingArena::DropRoot(arena_);
  arena_ = nullptr;
}

BindingArena& BindingProperty::ensureArena() {
  if (arena_ == nullptr) {
    assert(owns_ != 0);  // children always carry their tree's arena
    arena_ = BindingArena::Create();
  }
  return *arena_;
}

void BindingProperty::setBool(bool v) {
  reset();
  payload_.boolean = v;
  kind_ = kBool;
}

void BindingProperty::setSigned(int64_t v) {
  reset();
  payload_.signedNumber = v;
  kind_ = kSigned;
}

void BindingProperty::setUnsigned(uint64_t v) {
  reset();
  payload_.unsignedNumber = v;
  kind_ = kUnsigned;
}

void BindingProperty::setFloat(double v) {
  reset();
  payload_.floatNumber = v;
  kind_ = kFloat;
}

void BindingProperty::setString(std::string_view text) {
  // Interned before the reset: the text may belong to this very node or its subtree.
  const InternedString* record = ensureArena().Intern(text);
  reset();
  payload_.string = record;
  kind_ = kString;
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
  kind_ = kBlob;
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
  kind_ = kBlob;
}

void BindingProperty::setEnum(BindingEnum v) {
  reset();
  void* slot = ensureArena().AllocateOrThrow(sizeof(BindingEnum));
  payload_.enumRecord = new (slot) BindingEnum(v);
  kind_ = kEnum;
}

void BindingProperty::makeCollection() {
  if (kind_ == kCollection) return;
  reset();
  void* slot = ensureArena().AllocateOrThrow(sizeof(CollectionRecord));
  payload_.collection = new (slot) CollectionRecord{nullptr, 0, 0};
  kind_ = kCollection;
}

bool BindingProperty::tryReserve(std::size_t count) {
  if (kind_ != kCollection || count > kMaxElements) return false;
  if (count > payload_.collection->capacity) growCollection(count);
  return true;
}

void BindingProperty::growCollection(std::size_t capacity) {
  CollectionRecord* collection = payload_.collection;
  capacity = std::min(UsableCount(capacity, sizeof(BindingProperty)), kMaxElements);
  auto* grown =
      static_cast<BindingProperty*>(AllocateArray(*arena_, capacity * sizeof(BindingProperty)));
  RelocateNodes(grown, collection->data, collection->size);
  if (collection->capacity != 0) {
    FreeArray(*arena_, collection->data, collection->capacity * sizeof(BindingProperty));
  }
  collection->data = grown;
  collection->capacity = static_cast<uint32_t>(capacity);
}

BindingProperty* BindingProperty::takeElements(std::size_t count) {
  assert(kind_ == kCollection && payload_.collection->size == 0);
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
  for (std::size_t i = collection->size; i < needed; ++i) collection->data[i].initChild(arena_);
  collection->size = static_cast<uint32_t>(needed);
  return collection->data[index];
}

void BindingProperty::copyFrom(const BindingProperty& other) {
  if (&other == this) return;
  switch (other.kind_) {
    case kEmpty:
    case kBool:
    case kSigned:
    case kUnsigned:
    case kFloat: {
      const Payload payload = other.payload_;
      const uint8_t kind = other.kind_;
      reset();
      payload_ = payload;
      kind_ = kind;
      return;
    }
    case kString:
      if (arena_ != nullptr && arena_ == other.arena_) {
        const InternedString* record = other.payload_.string;
        arena_->AddRef(record);
        reset();
        payload_.string = record;
        kind_ = kString;
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
  if (arena_ != nullptr && arena_ == other.arena_) {
    // Same tree: the source may lie below this node (resetting would free it) or above it
    // (copying would read what is being written), so go through a tree of its own. A root's
    // detour shares the root's arena, which the swap below then keeps.
    BindingProperty copy;
    if (owns_ != 0) copy.shareArenaWith(*this);
    copy.copyInto(other);
    if (owns_ != 0) {
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
  assert(kind_ == kEmpty);
  if (!IsContainer(source.kind_)) {
    copyLeaf(source);
    return;
  }
  Walk::CopyStack stack;
  stack.Push({&source, this, 0, false});
  while (!stack.Empty()) {
    Walk::CopyFrame& frame = stack.Top();
    if (frame.source->kind_ == kStructure) {
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
    to.initChild(frame.target->arena_);
    copies.size = static_cast<uint32_t>(frame.index + 1);
    const BindingProperty& from = elements.data[frame.index++];
    if (IsContainer(from.kind_)) {
      stack.Push({&from, &to, 0, false});  // `frame` may move here
    } else {
      to.copyLeaf(from);
    }
  }
}

void BindingProperty::copyLeaf(const BindingProperty& source) {
  switch (source.kind_) {
    case kString:
      payload_.string = ensureArena().Intern(*source.payload_.string);
      kind_ = kString;
      return;
    case kBlob:
      installBlob({source.payload_.blob->data, source.payload_.blob->size});
      return;
    case kEnum: {
      void* slot = ensureArena().AllocateOrThrow(sizeof(BindingEnum));
      payload_.enumRecord = new (slot) BindingEnum(*source.payload_.enumRecord);
      kind_ = kEnum;
      return;
    }
    default:
      payload_ = source.payload_;
      kind_ = source.kind_;
      return;
  }
}

void BindingProperty::moveFrom(BindingProperty& other) {
  if (&other == this) return;
  if (owns_ != 0 && other.owns_ != 0) {
    std::swap(payload_, other.payload_);
    std::swap(arena_, other.arena_);
    std::swap(kind_, other.kind_);
    other.reset();
    // The source keeps an arena of its own for reuse, but never a hold on a shared one: an empty
    // root must not keep its former siblings' storage alive.
    if (other.arena_ != nullptr && other.arena_->RootCount() > 1) other.leaveArena();
    return;
  }
  if (arena_ != nullptr && arena_ == other.arena_ && contains(other)) {
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
  if (owns_ == 0 || other.owns_ != 0 || !IsContainer(other.kind_) || arena_ == other.arena_) {
    moveFrom(other);
    return;
  }
  reset();
  shareArenaWith(other);
  arena_->KeepRecordsOfLeavingRoots();
  payload_ = other.payload_;
  kind_ = other.kind_;
  // The records now belong to this tree: emptied without a reset, which would free them.
  other.payload_ = Payload{0};
  other.kind_ = kEmpty;
}

bool BindingProperty::contains(const BindingProperty& node) const noexcept {
  if (&node == this) return true;
  if (!IsContainer(kind_)) return false;
  WalkStack<Walk::Frame> stack;
  stack.Push(Walk::Start(const_cast<BindingProperty*>(this)));
  while (!stack.Empty()) {
    BindingProperty* child = Walk::Next(stack.Top());
    if (child == &node) return true;
    if (child == nullptr) {
      stack.Pop();
    } else if (IsContainer(child->kind_)) {
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
