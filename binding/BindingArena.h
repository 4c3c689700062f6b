// The storage of value trees: the string intern table and the slab pools of small records, carved
// from small nurseries first and from pages of the process-wide PageCache once a tree grows.
#pragma once

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// Under AddressSanitizer free slots are poisoned, so that a use of a released record is caught
// even though its memory stays with the arena.
#if defined(__SANITIZE_ADDRESS__)
#define PFT_ARENA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PFT_ARENA_ASAN 1
#endif
#endif
#if defined(PFT_ARENA_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace vyn::binding {

inline void PoisonFree(const void* address, std::size_t size) noexcept {
#if defined(PFT_ARENA_ASAN)
  __asan_poison_memory_region(address, size);
#else
  (void)address;
  (void)size;
#endif
}

inline void UnpoisonUsed(const void* address, std::size_t size) noexcept {
#if defined(PFT_ARENA_ASAN)
  __asan_unpoison_memory_region(address, size);
#else
  (void)address;
  (void)size;
#endif
}

// One interned text. The bytes follow the record directly and are NUL-terminated; the
// terminator is not counted in `length`. Equal texts of one arena share one record; the records
// every arena shares (the empty text, BindingArena::SharedText) have a count of 0 and may stand
// beside it.
struct InternedString {
  // The first eight bytes of the text as TextPrefix gives them: member names of one structure
  // mostly differ there, so most comparisons of names end on it.
  uint64_t prefix;
  InternedString* next;  // chain of the intern-table bucket (by HashText, computed when needed)
  uint32_t refCount;
  uint32_t length;  // the arena holds no text of 4 GiB or more

  const char* Text() const noexcept { return reinterpret_cast<const char*>(this + 1); }
  std::string_view View() const noexcept { return {Text(), length}; }
};
static_assert(sizeof(void*) != 8 || sizeof(InternedString) == 24,
              "a record is prefix, chain link, count and length: 24 bytes on 64-bit");

// The one record of the empty text, shared by every arena, with its terminator right behind it.
struct EmptyTextRecord {
  InternedString record;
  char terminator;
};
inline constexpr EmptyTextRecord kEmptyTextRecord{{0, nullptr, 0, 0}, '\0'};

// The interning hash of a text: a word at a time, for the arena's table only (never stored or
// shown outside it, so it may change).
uint32_t HashText(std::string_view text) noexcept;

// Byte-wise ordering and equality of texts, eight bytes at a time: names are short, so this
// beats a call to memcmp on the hot paths (interning, member lookup).
namespace text_order {
inline uint64_t LoadWord(const char* bytes) noexcept {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}
inline uint64_t BigEndianWord(const char* bytes) noexcept {
  const uint64_t word = LoadWord(bytes);
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(word);
  return word;
}
}  // namespace text_order

// A text's first eight bytes, zero-padded, as a big-endian number: of two texts whose numbers
// differ, the smaller number's text comes first in byte order; equal numbers leave it to the rest.
inline uint64_t TextPrefix(std::string_view text) noexcept {
  const char* p = text.data();
  const std::size_t n = text.size();
  if (n >= 8) return text_order::BigEndianWord(p);
  // Short texts (most member names) are assembled from loads within the text: copying them into a
  // padded word first stalls the load that reads the word back.
  if (n >= 4) {
    // Two overlapping four-byte loads; the bytes they share land on the same bits.
    uint32_t head;
    uint32_t tail;
    std::memcpy(&head, p, sizeof head);
    std::memcpy(&tail, p + n - 4, sizeof tail);
    if constexpr (std::endian::native == std::endian::little) {
      head = __builtin_bswap32(head);
      tail = __builtin_bswap32(tail);
    }
    return (uint64_t{head} << 32) | (uint64_t{tail} << (8 * (8 - n)));
  }
  if (n == 0) return 0;
  // One to three bytes: the first, the middle and the last cover them all.
  auto byte = [p](std::size_t i) {
    return static_cast<uint64_t>(static_cast<unsigned char>(p[i]));
  };
  return (byte(0) << 56) | (byte(n / 2) << (56 - 8 * (n / 2))) |
         (byte(n - 1) << (56 - 8 * (n - 1)));
}

// Unsigned byte order over the full lengths; a proper prefix sorts first.
inline bool TextLess(std::string_view a, std::string_view b) noexcept {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  std::size_t i = 0;
  for (; i + 8 <= common; i += 8) {
    const uint64_t x = text_order::BigEndianWord(a.data() + i);
    const uint64_t y = text_order::BigEndianWord(b.data() + i);
    if (x != y) return x < y;
  }
  for (; i < common; ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

// The bytes past the last whole word are compared by loads that overlap those before them, as
// TextPrefix reads short texts, rather than one at a time: a loop over a name's last few bytes
// costs more than the rest of its comparison.
inline bool TextEqual(const char* a, const char* b, std::size_t length) noexcept {
  if (length >= 8) {
    for (std::size_t i = 0; i + 8 < length; i += 8) {
      if (text_order::LoadWord(a + i) != text_order::LoadWord(b + i)) return false;
    }
    return text_order::LoadWord(a + length - 8) == text_order::LoadWord(b + length - 8);
  }
  if (length >= 4) {
    uint32_t x[2];
    uint32_t y[2];
    std::memcpy(&x[0], a, 4);
    std::memcpy(&x[1], a + length - 4, 4);
    std::memcpy(&y[0], b, 4);
    std::memcpy(&y[1], b + length - 4, 4);
    return ((x[0] ^ y[0]) | (x[1] ^ y[1])) == 0;
  }
  if (length == 0) return true;
  return a[0] == b[0] && a[length / 2] == b[length / 2] && a[length - 1] == b[length - 1];
}

// The storage of one value tree (or of a group of sibling trees): interned strings, pooled
// fixed-size records and the trees' larger heap blocks (element arrays, blob bytes, long strings).
//
// An arena costs what its trees use. The first slots are carved on demand from up to three small
// heap blocks ("nurseries", the first one allocated together with the arena), so that a tree of a
// few records takes one heap block of some hundred bytes; only when the nurseries are used up do
// 4096-byte pages of the PageCache come in, one size class per page. A freed slot goes back to the
// free list of its class: nursery slots on one list per class (told apart from page slots by their
// address), page slots on their page, which returns to the cache when its last slot comes back.
//
// Threads: an arena is used by one thread at a time, without locking; only the page cache behind
// the pools is shared (and locked). Roots that share an arena (see AddRoot) are therefore used by
// one thread at a time, together. Lifetime: every record and heap block handed out dies with the
// arena; destroying the arena returns all of its pages to the page cache, even those whose slots
// were never freed, and frees every heap block and nursery still held and every interned string,
// so that a tree is destroyed without a walk over its nodes. Copy is deleted: an arena has
// identity.
class BindingArena {
 public:
  // Slots of up to 72 bytes in steps of 4 for records, then blocks for arrays (AllocateBlock)
  // from 80 to 1024 bytes, eight to each doubling: 80, 88, ... 128, 144, 160, ... 960, 1024.
  // Arrays take the sizes their structures have (a record of 5, 7 or 11 fields: its counts and
  // members take 128, 176 or 272 bytes on 64-bit, blocks of 128, 176 and 288), and steps of an
  // eighth leave a block at most an eighth larger than asked, where doubling left up to twice the
  // bytes unused.
  static constexpr std::size_t kSlotClassCount = 18;
  static constexpr std::size_t kSizeStep = 4;
  static constexpr std::size_t kMaxSlotSize = kSlotClassCount * kSizeStep;  // 72
  static constexpr std::size_t kBlockClassesPerDoubling = 8;
  static constexpr std::size_t kBlockDoublings = 4;  // 65..128, 129..256, 257..512, 513..1024
  static constexpr std::size_t kMaxBlockSize = 1024;
  static constexpr std::size_t kClassCount =
      kSlotClassCount + kBlockDoublings * kBlockClassesPerDoubling;
  static constexpr std::size_t kPageSize = 4096;
  // Arenas from Create start at a multiple of this: a node of a value tree keeps its kind and
  // root flag in the low bits of its arena's address.
  static constexpr std::size_t kAlignment = 32;
  // Nursery sizes in the order they are taken. The first holds a small request body or event:
  // a structure of some five members, their names and texts, and a nested structure, so that a
  // small call's trees cost one heap block each; the third is three times the second.
  // Sizes of 8 modulo 16 (for the first, with the arena's own bytes and its alignment slack)
  // fill a block of the heap without rounding.
  static constexpr std::size_t kNurseryCount = 3;
  static constexpr std::size_t kNurseryBytes[kNurseryCount] = {520, 840, 2520};

  // Page header: next and previous page, then four 16-bit fields, the count of slots in use and
  // three slot indices (offset / slot size): 16 bytes with 32-bit pointers, 24 with 64-bit ones.
  // Slots start at the first multiple of the slot size not below the header. A page hands out
  // its freed slots first, each of which holds the 16-bit index of the next, then those never
  // used, in address order from `fresh`: these are not linked, since reading a link from a slot
  // before it is taken would cost a wait on memory that the caller is only going to write. Pages
  // are 4096 bytes, 4096-aligned, from the PageCache.
  struct PageHeader {
    PageHeader* next;
    PageHeader* previous;
    uint16_t used;
    uint16_t firstFree;  // the last freed slot; 0 ends the list
    uint16_t fresh;      // the first slot never used
    uint16_t end;        // one past the last slot
  };
  static constexpr std::size_t kPageHeaderSize = sizeof(PageHeader);

  // An arena of its own, for tests and scratch use; it dies with its scope (never DropRoot it).
  BindingArena() noexcept;
  ~BindingArena();
  BindingArena(const BindingArena&) = delete;
  BindingArena& operator=(const BindingArena&) = delete;

  // A heap-allocated arena for value trees, held by one root, with its first nursery in the same
  // heap block; aligned to kAlignment. Throws std::bad_alloc like operator new.
  static BindingArena* Create();
  // One more root holds the arena (a sibling tree joins it).
  void AddRoot() noexcept { ++roots_; }
  // A root lets go of an arena from Create; the last one destroys it. The trees of the other
  // roots are untouched, so a root that leaves a shared arena must have released its tree first.
  static void DropRoot(BindingArena* arena) noexcept;
  uint32_t RootCount() const noexcept { return roots_; }
  // Whether a root that goes while others still hold the arena leaves its records where they are
  // instead of giving them back one by one: set for the arena of a temporary whose parts were
  // taken (BindingProperty::takeFrom), whose roots go together, soon.
  bool keepsRecordsOfLeavingRoots() const noexcept { return keepsRecordsOfLeavingRoots_; }
  void KeepRecordsOfLeavingRoots() noexcept { keepsRecordsOfLeavingRoots_ = true; }

  // The process-wide record of the empty text: never in a table, never counted or freed.
  static const InternedString* EmptyString() noexcept { return &kEmptyTextRecord.record; }
  // A record of `text` that every arena may use as one of its own, like the empty one: never in
  // an arena's table, never counted or freed before the library is unloaded. For the few texts
  // that every tree of a kind repeats (the member names of registered records), so that writing
  // such a tree interns none of them. Equal texts get one record; "" gets the empty one.
  static const InternedString* SharedText(std::string_view text);

  // Returns the record of `text` with its count incremented; the shared empty record for "".
  const InternedString* Intern(std::string_view text) { return Intern(text, HashText(text)); }
  // The same for a record of another arena; a shared record is its own.
  const InternedString* Intern(const InternedString& other) {
    if (other.refCount == 0) return &other;
    return Intern(other.View());
  }
  // One more reference to a record of this arena. Shared records (a count of 0, which no record
  // of an arena has while it is used) are not counted.
  void AddRef(const InternedString* record) noexcept {
    if (record->refCount != 0) ++const_cast<InternedString*>(record)->refCount;
  }
  // Drops one reference; the record is removed at zero. Shared records are ignored.
  void Release(const InternedString* record) noexcept {
    if (record->refCount == 0) return;
    auto* owned = const_cast<InternedString*>(record);
    if (--owned->refCount == 0) Remove(owned);
  }

  // A slot of the class for `size` (rounded up to a multiple of 4; 0 counts as 1; at most 72).
  // The slot is aligned to the largest power of two (at most 8) dividing the rounded size. Null
  // when the size is too large or no memory can be had.
  void* Allocate(std::size_t size) noexcept {
    if (size > kMaxSlotSize) return nullptr;
    return AllocateOfClass(ClassIndex(size));
  }
  // A block of at least `size` bytes, at most kMaxBlockSize, from the pools: the next block size
  // (smaller sizes take a slot), 8-aligned, carved from the current nursery when it has room and
  // from pages otherwise. Null when the size is too large or no memory can be had.
  // Cheaper than AllocateHeap for arrays that grow by doubling, and it stays off the heap.
  void* AllocateBlock(std::size_t size) noexcept {
    if (size > kMaxBlockSize) return nullptr;
    return AllocateOfClass(BlockClassIndex(size));
  }
  // Returns a block taken with the same size. Null is ignored.
  void FreeBlock(std::size_t size, void* address) noexcept {
    FreeOfClass(BlockClassIndex(size), address);
  }
  // Allocate or AllocateBlock, and Free or FreeBlock, for callers that keep the class of a size
  // (SizeClass, below kClassCount) rather than the size.
  void* AllocateOfSizeClass(std::size_t index) noexcept {
    assert(index < kClassCount);
    return AllocateOfClass(index);
  }
  void FreeOfSizeClass(std::size_t index, void* address) noexcept {
    assert(index < kClassCount);
    FreeOfClass(index, address);
  }
  // The bytes a block of `size` really holds.
  static std::size_t BlockSize(std::size_t size) noexcept {
    return SlotSize(BlockClassIndex(size));
  }

  // The size classes: slots in steps of kSizeStep up to kMaxSlotSize, then eight to each
  // doubling. A size past kMaxBlockSize has a class too, which the pools never serve: arrays that
  // know their capacity by their class alone take heap blocks of those sizes (ValueArrays.h). The
  // pools compute in the native width; such arrays in 64 bits, whatever the build.
  // A size lies in a doubling (2^(w-1), 2^w] with w = bit_width(size - 1); the three bits of
  // size - 1 below its top one tell the eighth, and the class ends at that eighth's top.
  template <class Size>
  static constexpr Size SizeClass(Size size) noexcept {
    if (size <= kMaxSlotSize) return size == 0 ? 0 : (size - 1) / kSizeStep;
    const auto width = static_cast<Size>(std::bit_width(size - 1));
    const Size eighth = ((size - 1) >> (width - 4)) & 7;
    return kSlotClassCount + (width - 7) * kBlockClassesPerDoubling + eighth;
  }
  // The bytes of a class: the largest size it takes.
  template <class Size>
  static constexpr Size SizeClassBytes(Size index) noexcept {
    if (index < kSlotClassCount) return (index + 1) * kSizeStep;
    const Size block = index - kSlotClassCount;
    return (9 + block % kBlockClassesPerDoubling) << (3 + block / kBlockClassesPerDoubling);
  }

  // As Allocate, but throws std::bad_alloc like operator new when memory is exhausted.
  void* AllocateOrThrow(std::size_t size) {
    void* slot = Allocate(size);
    if (slot == nullptr) ThrowBadAlloc();
    return slot;
  }
  // Returns a slot taken with the same size. Null is ignored.
  void Free(std::size_t size, void* address) noexcept { FreeOfClass(ClassIndex(size), address); }

  // A block of `size` bytes on the general heap that the arena frees when it is destroyed, unless
  // FreeHeap returned it before. Aligned like operator new; throws std::bad_alloc like it.
  void* AllocateHeap(std::size_t size);
  // Frees a block from AllocateHeap of this arena now. Null is ignored.
  void FreeHeap(void* block) noexcept;

  // Observability (tests, diagnostics).
  std::size_t InternedCount() const noexcept { return internCount_; }
  std::size_t PagesHeld() const noexcept { return pages_->held; }
  std::size_t NurseriesHeld() const noexcept { return nurseryCount_; }
  std::size_t HeapBlocksHeld() const noexcept;  // counts the list: for tests only

 private:
  // The page chains, created with the first page: most trees never need one.
  struct PagePools {
    PageHeader* heads[kClassCount];  // pages of each class with at least one free slot
    PageHeader* full;                // pages without a free slot
    std::size_t held;
  };
  // Stands for the pools of an arena without pages: every chain empty. Never written.
  static PagePools noPages_;

  // A nursery slot on a free list: the nursery's number above kLinkShift, below it the slot's
  // offset in steps of 4, plus one so that 0 can end the list.
  static constexpr unsigned kLinkShift = 12;
  static_assert(kNurseryBytes[kNurseryCount - 1] / kSizeStep < (1u << kLinkShift) - 1 &&
                    kNurseryCount <= (1u << (16 - kLinkShift)),
                "nursery slots must be numbered in 16 bits");

  explicit BindingArena(unsigned char* firstNursery) noexcept;

  static std::size_t ClassIndex(std::size_t size) noexcept {
    return size == 0 ? 0 : (size - 1) / kSizeStep;
  }
  static std::size_t BlockClassIndex(std::size_t size) noexcept { return SizeClass(size); }
  static std::size_t SlotSize(std::size_t index) noexcept { return SizeClassBytes(index); }
  // Without a freed slot and a slot never used: off its class's chain, on the full list.
  static bool IsFull(const PageHeader& page) noexcept {
    return page.firstFree == 0 && page.fresh == page.end;
  }
  static uint16_t LoadIndex(const unsigned char* slot) noexcept {
    uint16_t index;
    std::memcpy(&index, slot, sizeof index);
    return index;
  }
  static void StoreIndex(unsigned char* slot, uint16_t index) noexcept {
    std::memcpy(slot, &index, sizeof index);
  }
  static uint16_t SlotIndex(std::size_t index, const PageHeader* page,
                            const unsigned char* slot) noexcept {
    const auto offset =
        static_cast<std::size_t>(slot - reinterpret_cast<const unsigned char*>(page));
    return static_cast<uint16_t>(offset / SlotSize(index));
  }
  static uint16_t NurseryLink(std::size_t nursery, uintptr_t offset) noexcept {
    return static_cast<uint16_t>((nursery << kLinkShift) | (offset / kSizeStep + 1));
  }
  unsigned char* NurserySlot(uint16_t link) const noexcept {
    const std::size_t steps = std::size_t{link} & ((std::size_t{1} << kLinkShift) - 1);
    return nurseries_[link >> kLinkShift] + (steps - 1) * kSizeStep;
  }
  [[noreturn]] static void ThrowBadAlloc();

  // The alignment a slot of `size` bytes promises: the largest power of two dividing it, at most 8
  // (what every pooled record needs), so that nursery slots of mixed sizes pack without gaps.
  static std::size_t SlotAlignment(std::size_t size) noexcept {
    return std::min<std::size_t>(size & (~size + 1), 8);
  }
  // The next slot of the newest nursery; null when it has no room (or there is none yet).
  void* BumpNursery(std::size_t size) noexcept {
    if (nurseryCount_ == 0) return nullptr;
    const std::size_t k = nurseryCount_ - 1;
    const std::size_t alignment = SlotAlignment(size);
    const auto base = reinterpret_cast<uintptr_t>(nurseries_[k]);
    const uintptr_t start = (base + nurseryTop_ + alignment - 1) & ~uintptr_t{alignment - 1};
    const auto offset = static_cast<std::size_t>(start - base);
    if (offset + size > kNurseryBytes[k]) return nullptr;
    nurseryTop_ = static_cast<uint16_t>(offset + size);
    UnpoisonUsed(nurseries_[k] + offset, size);
    return nurseries_[k] + offset;
  }

  // Without a page of its class: a freed nursery slot, else a bump of the newest nursery, else the
  // slow path. The bump is inline because a young arena, which is what a call's trees use, takes
  // all of its slots that way.
  void* AllocateSmall(std::size_t index) noexcept {
    const uint16_t link = nurseryFree_[index];
    if (link == 0) {
      if (void* slot = BumpNursery(SlotSize(index))) return slot;
      return AllocateSlow(index);
    }
    unsigned char* slot = NurserySlot(link);
    UnpoisonUsed(slot, SlotSize(index));
    nurseryFree_[index] = LoadIndex(slot);
    return slot;
  }

  // A page on its class's chain has a slot left; it leaves the chain when it gives its last.
  void* AllocateOfClass(std::size_t index) noexcept {
    PageHeader* page = pages_->heads[index];
    if (page == nullptr) return AllocateSmall(index);
    auto* slot = reinterpret_cast<unsigned char*>(page);
    if (page->firstFree != 0) {
      slot += std::size_t{page->firstFree} * SlotSize(index);
      UnpoisonUsed(slot, SlotSize(index));
      page->firstFree = LoadIndex(slot);
    } else {
      slot += std::size_t{page->fresh++} * SlotSize(index);
      UnpoisonUsed(slot, SlotSize(index));
    }
    ++page->used;
    if (IsFull(*page)) PageFilled(index, page);
    return slot;
  }

  void FreeOfClass(std::size_t index, void* address) noexcept {
    if (address == nullptr) return;
    auto* slot = static_cast<unsigned char*>(address);
    const auto at = reinterpret_cast<uintptr_t>(slot);
    // A nursery not taken yet is null, and no slot lies in the first pages of the address space,
    // so all of them can be tested without a count: a loop the compiler unrolls.
    for (std::size_t k = 0; k < kNurseryCount; ++k) {
      const uintptr_t offset = at - reinterpret_cast<uintptr_t>(nurseries_[k]);
      if (offset < kNurseryBytes[k]) {
        StoreIndex(slot, nurseryFree_[index]);
        PoisonFree(slot, SlotSize(index));
        nurseryFree_[index] = NurseryLink(k, offset);
        return;
      }
    }
    auto* page = reinterpret_cast<PageHeader*>(at & ~static_cast<uintptr_t>(kPageSize - 1));
    // Without a freed slot the page may be full, which FreeSlow tells.
    if (page->firstFree == 0 || page->used == 1) {
      FreeSlow(index, page, slot);
      return;
    }
    StoreIndex(slot, page->firstFree);
    PoisonFree(slot, SlotSize(index));
    page->firstFree = SlotIndex(index, page, slot);
    --page->used;
  }

  const InternedString* Intern(std::string_view text, uint32_t hash) {
    if (text.empty()) return EmptyString();
    for (InternedString* record = buckets_[hash & bucketMask_]; record != nullptr;
         record = record->next) {
      if (record->length == text.size() && TextEqual(record->Text(), text.data(), text.size())) {
        ++record->refCount;
        return record;
      }
    }
    return InternNew(text, hash);
  }
  const InternedString* InternNew(std::string_view text, uint32_t hash);
  void Remove(InternedString* record) noexcept;
  void GrowTable();
  void FreeTable(InternedString** table, std::size_t count) noexcept;
  void* AllocateSlow(std::size_t index) noexcept;
  // Opens the next nursery, if one is left, and takes the slot from its start.
  void* OpenNursery(std::size_t size) noexcept;
  void PageFilled(std::size_t index, PageHeader* page) noexcept;
  void FreeSlow(std::size_t index, PageHeader* page, unsigned char* slot) noexcept;
  void ReturnAllPages() noexcept;
  void FreeAllHeap() noexcept;

  // The link ahead of every heap block, keeping the caller's bytes 16-byte aligned.
  struct alignas(16) HeapLink {
    HeapLink* next;
    HeapLink* previous;
  };

  // Hot in Allocate and Free first.
  PagePools* pages_ = &noPages_;
  unsigned char* nurseries_[kNurseryCount] = {};
  // The intern table: one bucket in the arena while it holds at most two texts, then 8, 16, ...
  // buckets, in a slot while they fit one.
  InternedString** buckets_;
  InternedString* firstBucket_ = nullptr;
  HeapLink* heapHead_ = nullptr;  // blocks from AllocateHeap not yet freed
  std::size_t internCount_ = 0;
  uint32_t bucketMask_ = 0;
  uint32_t roots_ = 1;
  bool keepsRecordsOfLeavingRoots_ = false;
  uint16_t nurseryFree_[kClassCount] = {};  // per class: the first free nursery slot (0: none)
  uint16_t nurseryTop_ = 0;                 // bytes carved from the newest nursery
  uint8_t nurseryCount_ = 0;
  uint8_t firstNurseryInBlock_ = 0;  // the first nursery came with the arena's block
  uint8_t blockOffset_ = 0;          // from the start of Create's heap block to the arena
};

}  // namespace vyn::binding
