// Interning and slab pools of the value arena. Pools live inside the arena object (each class
// keeps an inline first page); further pages come from the PageCache.
#include "binding/BindingArena.h"

#include <cstring>
#include <new>

#include "binding/PageCache.h"

namespace vyn::binding {
namespace {

constexpr std::size_t kRecordAlign = alignof(InternedString);

static_assert(offsetof(EmptyTextRecord, terminator) == sizeof(InternedString),
              "the empty text's terminator must sit where Text() looks");

// Interned records short enough for a slot come from the pools; longer ones from the heap.
std::size_t RecordBytes(std::size_t length) noexcept {
  const std::size_t bytes = sizeof(InternedString) + length + 1;
  return (bytes + kRecordAlign - 1) & ~(kRecordAlign - 1);
}
bool IsPooled(std::size_t recordBytes) noexcept {
  return recordBytes <= BindingArena::kMaxSlotSize;
}

// Threads every slot of a fresh page on its free list, in address order.
void LayOutPage(BindingArena::PageHeader* page, std::size_t pageSize,
                std::size_t slotSize) noexcept {
  const std::size_t first =
      (BindingArena::kPageHeaderSize + slotSize - 1) / slotSize;  // first slot index
  const std::size_t count = pageSize / slotSize;                  // one past the last index
  auto* bytes = reinterpret_cast<unsigned char*>(page);
  for (std::size_t i = first; i + 1 < count; ++i) {
    const auto next = static_cast<uint16_t>(i + 1);
    std::memcpy(bytes + i * slotSize, &next, sizeof next);
  }
  const uint16_t end = 0;
  std::memcpy(bytes + (count - 1) * slotSize, &end, sizeof end);
  page->next = nullptr;
  page->previous = nullptr;
  page->pageSize = static_cast<uint16_t>(pageSize);
  page->used = 0;
  page->firstFree = static_cast<uint16_t>(first);
  PoisonFree(bytes + first * slotSize, (count - first) * slotSize);
}

}  // namespace

uint32_t HashText(std::string_view text) noexcept {
  uint32_t hash = 0x811c9dc5u;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x01000193u;
  }
  return hash;
}

BindingArena::BindingArena() noexcept
    : buckets_(inlineBuckets_), bucketMask_(kInlineBuckets - 1), inlineBuckets_{} {
  // Empty chains send the first allocation of every class to the slow path, which lays out the
  // inline pages of all classes together.
  for (SizeClass& sizeClass : classes_) sizeClass.head = nullptr;
}

BindingArena::~BindingArena() {
  // Pooled records die with their pages and long ones with the heap blocks, so the intern table
  // needs no walk.
  if (buckets_ != inlineBuckets_) ::operator delete(buckets_);
  FreeAllHeap();
  ReturnAllPages();
  for (SizeClass& sizeClass : classes_) UnpoisonUsed(sizeClass.inlinePage, kInlinePageSize);
}

BindingArena* BindingArena::Create() { return new BindingArena(); }

void BindingArena::Destroy(BindingArena* arena) noexcept { delete arena; }

const InternedString* BindingArena::InternNew(std::string_view text, uint32_t hash) {
  InternedString** bucket = &buckets_[hash & bucketMask_];
  const std::size_t bytes = RecordBytes(text.size());
  void* memory = IsPooled(bytes) ? AllocateOrThrow(bytes) : AllocateHeap(bytes);
  auto* record = static_cast<InternedString*>(memory);
  record->next = *bucket;
  record->hash = hash;
  record->refCount = 1;
  record->length = text.size();
  char* textBytes = reinterpret_cast<char*>(record + 1);
  std::memcpy(textBytes, text.data(), text.size());
  textBytes[text.size()] = '\0';
  *bucket = record;
  if (++internCount_ > bucketMask_ + std::size_t{1}) GrowTable();
  return record;
}

void BindingArena::Remove(InternedString* owned) noexcept {
  InternedString** link = &buckets_[owned->hash & bucketMask_];
  while (*link != owned) link = &(*link)->next;
  *link = owned->next;
  --internCount_;
  const std::size_t bytes = RecordBytes(owned->length);
  if (IsPooled(bytes)) {
    Free(bytes, owned);
  } else {
    FreeHeap(owned);
  }
}

void BindingArena::GrowTable() {
  const std::size_t count = (std::size_t{bucketMask_} + 1) * 2;
  if (count > (std::size_t{1} << 31)) return;  // long chains beat a mask that cannot grow
  auto** grown = static_cast<InternedString**>(::operator new(count * sizeof(InternedString*)));
  std::memset(static_cast<void*>(grown), 0, count * sizeof(InternedString*));
  const auto mask = static_cast<uint32_t>(count - 1);
  for (std::size_t b = 0; b <= bucketMask_; ++b) {
    InternedString* record = buckets_[b];
    while (record != nullptr) {
      InternedString* next = record->next;
      InternedString** bucket = &grown[record->hash & mask];
      record->next = *bucket;
      *bucket = record;
      record = next;
    }
  }
  if (buckets_ != inlineBuckets_) ::operator delete(buckets_);
  buckets_ = grown;
  bucketMask_ = mask;
}

void BindingArena::InitPools() noexcept {
  for (std::size_t i = 0; i < kClassCount; ++i) {
    auto* page = reinterpret_cast<PageHeader*>(classes_[i].inlinePage);
    LayOutPage(page, kInlinePageSize, SlotSize(i));
    classes_[i].head = page;
  }
  poolsReady_ = true;
}

void BindingArena::ThrowBadAlloc() { throw std::bad_alloc(); }

void* BindingArena::AllocateHeap(std::size_t size) {
  static_assert(sizeof(HeapLink) == 16, "the caller's bytes follow the link at 16 bytes");
  auto* link = static_cast<HeapLink*>(::operator new(sizeof(HeapLink) + size));
  link->previous = nullptr;
  link->next = heapHead_;
  if (heapHead_ != nullptr) heapHead_->previous = link;
  heapHead_ = link;
  ++heapBlocks_;
  return link + 1;
}

void BindingArena::FreeHeap(void* block) noexcept {
  if (block == nullptr) return;
  HeapLink* link = static_cast<HeapLink*>(block) - 1;
  if (link->previous != nullptr) {
    link->previous->next = link->next;
  } else {
    heapHead_ = link->next;
  }
  if (link->next != nullptr) link->next->previous = link->previous;
  --heapBlocks_;
  ::operator delete(link);
}

void BindingArena::FreeAllHeap() noexcept {
  HeapLink* link = heapHead_;
  while (link != nullptr) {
    HeapLink* next = link->next;
    ::operator delete(link);
    link = next;
  }
  heapHead_ = nullptr;
  heapBlocks_ = 0;
}

void* BindingArena::AllocateSlow(std::size_t index) noexcept {
  if (!poolsReady_) {
    InitPools();
  } else {
    void* memory = PageCache::Instance().TakePage();
    if (memory == nullptr) return nullptr;
    auto* page = static_cast<PageHeader*>(memory);
    LayOutPage(page, kPageSize, SlotSize(index));
    classes_[index].head = page;
    ++pagesHeld_;
  }
  return Allocate(SlotSize(index));
}

void BindingArena::PageFilled(std::size_t index, PageHeader* page) noexcept {
  // Off the chain (it is always the head); 4096-byte pages wait on the full list so that
  // destruction finds them.
  classes_[index].head = page->next;
  if (page->next != nullptr) page->next->previous = nullptr;
  page->previous = nullptr;
  if (page->pageSize == kPageSize) {
    page->next = fullPages_;
    if (fullPages_ != nullptr) fullPages_->previous = page;
    fullPages_ = page;
  } else {
    page->next = nullptr;
  }
}

void BindingArena::FreeSlow(std::size_t index, PageHeader* page, unsigned char* slot) noexcept {
  SizeClass& sizeClass = classes_[index];
  if (page->firstFree == 0) {
    // It was full: back on the chain, at its head.
    if (page->pageSize == kPageSize) {
      if (page->previous != nullptr) {
        page->previous->next = page->next;
      } else {
        fullPages_ = page->next;
      }
      if (page->next != nullptr) page->next->previous = page->previous;
    }
    page->previous = nullptr;
    page->next = sizeClass.head;
    if (sizeClass.head != nullptr) sizeClass.head->previous = page;
    sizeClass.head = page;
  }
  StoreIndex(slot, page->firstFree);
  PoisonFree(slot, SlotSize(index));
  page->firstFree = SlotIndex(index, page, slot);
  if (--page->used == 0 && page->pageSize == kPageSize) {
    if (page->previous != nullptr) {
      page->previous->next = page->next;
    } else {
      sizeClass.head = page->next;
    }
    if (page->next != nullptr) page->next->previous = page->previous;
    --pagesHeld_;
    UnpoisonUsed(page, kPageSize);
    PageCache::Instance().ReturnPage(page);
  }
}

void BindingArena::ReturnAllPages() noexcept {
  if (!poolsReady_) return;
  PageCache& cache = PageCache::Instance();
  void* batch[64];
  std::size_t count = 0;
  auto collect = [&](PageHeader* page) {
    while (page != nullptr) {
      PageHeader* next = page->next;
      if (page->pageSize == kPageSize) {
        UnpoisonUsed(page, kPageSize);
        batch[count++] = page;
        if (count == std::size(batch)) {
          cache.ReturnPages(batch, count);
          count = 0;
        }
      }
      page = next;
    }
  };
  for (SizeClass& sizeClass : classes_) collect(sizeClass.head);
  collect(fullPages_);
  cache.ReturnPages(batch, count);
  pagesHeld_ = 0;
}

}  // namespace vyn::binding
