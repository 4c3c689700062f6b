// Interning and slab pools of the value arena: nursery slots carved on demand, then 4096-byte
// pages from the PageCache.
#include "binding/BindingArena.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

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

// A fresh page: every slot still to be handed out in address order, none of them linked.
void LayOutPage(BindingArena::PageHeader* page, std::size_t slotSize) noexcept {
  constexpr std::size_t pageSize = BindingArena::kPageSize;
  const std::size_t first = (BindingArena::kPageHeaderSize + slotSize - 1) / slotSize;
  const std::size_t end = pageSize / slotSize;
  page->next = nullptr;
  page->previous = nullptr;
  page->used = 0;
  page->firstFree = 0;
  page->fresh = static_cast<uint16_t>(first);
  page->end = static_cast<uint16_t>(end);
  PoisonFree(reinterpret_cast<unsigned char*>(page) + first * slotSize, (end - first) * slotSize);
}

// The shared texts (see SharedText), keyed by their own bytes. Destroyed when the library is
// unloaded, so that a host that loads it again gets the memory back; every tree is gone by then.
struct SharedTexts {
  std::mutex mutex;
  std::unordered_map<std::string_view, std::unique_ptr<unsigned char[]>> records;
};

SharedTexts& Shared() {
  static SharedTexts texts;
  return texts;
}

}  // namespace

BindingArena::PagePools BindingArena::noPages_{};

const InternedString* BindingArena::SharedText(std::string_view text) {
  if (text.empty()) return EmptyString();
  SharedTexts& shared = Shared();
  std::lock_guard<std::mutex> lock(shared.mutex);
  if (const auto found = shared.records.find(text); found != shared.records.end()) {
    return reinterpret_cast<const InternedString*>(found->second.get());
  }
  auto bytes = std::make_unique<unsigned char[]>(sizeof(InternedString) + text.size() + 1);
  auto* record = ::new (bytes.get())
      InternedString{TextPrefix(text), nullptr, 0, static_cast<uint32_t>(text.size())};
  char* textBytes = reinterpret_cast<char*>(record + 1);
  std::memcpy(textBytes, text.data(), text.size());
  textBytes[text.size()] = '\0';
  shared.records.emplace(record->View(), std::move(bytes));
  return record;
}

uint32_t HashText(std::string_view text) noexcept {
  // Eight bytes at a time, each word folded in with a multiply and its high half folded down;
  // the finish spreads every bit into the low ones, which choose the bucket. Every load has a
  // fixed size, so none becomes a call: the last word of a long text overlaps the one before,
  // and a short text is read as two overlapping halves or three single bytes. The length goes
  // in first, which keeps texts apart that such loads would read alike. The empty text hashes
  // to 0, as its shared record says.
  constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  uint64_t hash = size * kMultiplier;
  const auto fold = [&hash](uint64_t word) {
    hash = (hash ^ word) * kMultiplier;
    hash ^= hash >> 32;
  };
  const auto load32 = [](const unsigned char* at) {
    uint32_t word;
    std::memcpy(&word, at, sizeof word);
    return uint64_t{word};
  };
  if (size >= 8) {
    uint64_t word;
    for (std::size_t at = 0; at + 8 <= size; at += 8) {
      std::memcpy(&word, bytes + at, sizeof word);
      fold(word);
    }
    if (size % 8 != 0) {
      std::memcpy(&word, bytes + size - 8, sizeof word);
      fold(word);
    }
  } else if (size >= 4) {
    fold(load32(bytes) | load32(bytes + size - 4) << 32);
  } else if (size != 0) {
    fold(uint64_t{bytes[0]} | uint64_t{bytes[size / 2]} << 8 | uint64_t{bytes[size - 1]} << 16);
  }
  hash ^= hash >> 29;
  hash *= 0xBF58476D1CE4E5B9ull;
  hash ^= hash >> 32;
  return static_cast<uint32_t>(hash);
}

BindingArena::BindingArena() noexcept : buckets_(&firstBucket_) {}

BindingArena::BindingArena(unsigned char* firstNursery) noexcept : buckets_(&firstBucket_) {
  nurseries_[0] = firstNursery;
  nurseryCount_ = 1;
  firstNurseryInBlock_ = 1;
  PoisonFree(firstNursery, kNurseryBytes[0]);
}

BindingArena::~BindingArena() {
  // Pooled records die with their nurseries and pages, long ones with the heap blocks, so the
  // intern table needs no walk.
  if (buckets_ != &firstBucket_) {
    const std::size_t count = std::size_t{bucketMask_} + 1;
    if (count * sizeof(InternedString*) > kMaxSlotSize) ::operator delete(buckets_);
  }
  FreeAllHeap();
  ReturnAllPages();
  for (std::size_t k = 0; k < nurseryCount_; ++k) {
    UnpoisonUsed(nurseries_[k], kNurseryBytes[k]);
    if (k != 0 || firstNurseryInBlock_ == 0) ::operator delete(nurseries_[k]);
  }
}

BindingArena* BindingArena::Create() {
  // One heap block for the arena and its first nursery: a small tree costs a single allocation.
  // The heap promises 8-byte alignment only, so the block has room to move the arena up to the
  // next multiple of kAlignment.
  constexpr std::size_t kSlack = kAlignment - 8;
  constexpr std::size_t kBytes = kSlack + sizeof(BindingArena) + kNurseryBytes[0];
  static_assert(sizeof(void*) != 8 || kBytes % 16 == 8,
                "the arena and its first nursery fill a block of the heap");
  auto* block = static_cast<unsigned char*>(::operator new(kBytes));
  const auto start = reinterpret_cast<uintptr_t>(block);
  const std::size_t offset = ((start + kAlignment - 1) & ~uintptr_t{kAlignment - 1}) - start;
  auto* arena = ::new (block + offset) BindingArena(block + offset + sizeof(BindingArena));
  arena->blockOffset_ = static_cast<uint8_t>(offset);
  return arena;
}

void BindingArena::DropRoot(BindingArena* arena) noexcept {
  if (--arena->roots_ != 0) return;
  unsigned char* block = reinterpret_cast<unsigned char*>(arena) - arena->blockOffset_;
  arena->~BindingArena();
  ::operator delete(block);
}

const InternedString* BindingArena::InternNew(std::string_view text, uint32_t hash) {
  if (text.size() > UINT32_MAX) throw std::bad_alloc();
  const std::size_t bytes = RecordBytes(text.size());
  void* memory = IsPooled(bytes) ? AllocateOrThrow(bytes) : AllocateHeap(bytes);
  auto* record = static_cast<InternedString*>(memory);
  InternedString** bucket = &buckets_[hash & bucketMask_];
  record->prefix = TextPrefix(text);
  record->next = *bucket;
  record->refCount = 1;
  record->length = static_cast<uint32_t>(text.size());
  char* textBytes = reinterpret_cast<char*>(record + 1);
  std::memcpy(textBytes, text.data(), text.size());
  textBytes[text.size()] = '\0';
  *bucket = record;
  // The arena's own bucket takes two texts: a small tree's names cost no table.
  const std::size_t buckets = std::size_t{bucketMask_} + 1;
  if (++internCount_ > (buckets == 1 ? 2 : buckets)) GrowTable();
  return record;
}

void BindingArena::Remove(InternedString* owned) noexcept {
  InternedString** link = &buckets_[HashText(owned->View()) & bucketMask_];
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
  const std::size_t oldCount = std::size_t{bucketMask_} + 1;
  // A small table grows fourfold: a body of a hundred texts is rehashed twice, not four times.
  const std::size_t count = oldCount == 1 ? 8 : oldCount * (oldCount < 2048 ? 4 : 2);
  if (count > (std::size_t{1} << 31)) return;  // long chains beat a mask that cannot grow
  const std::size_t bytes = count * sizeof(InternedString*);
  void* memory = bytes <= kMaxSlotSize ? AllocateOrThrow(bytes) : ::operator new(bytes);
  auto** grown = static_cast<InternedString**>(memory);
  std::memset(static_cast<void*>(grown), 0, bytes);
  const auto mask = static_cast<uint32_t>(count - 1);
  for (std::size_t b = 0; b < oldCount; ++b) {
    InternedString* record = buckets_[b];
    while (record != nullptr) {
      InternedString* next = record->next;
      InternedString** bucket = &grown[HashText(record->View()) & mask];
      record->next = *bucket;
      *bucket = record;
      record = next;
    }
  }
  FreeTable(buckets_, oldCount);
  buckets_ = grown;
  bucketMask_ = mask;
}

void BindingArena::FreeTable(InternedString** table, std::size_t count) noexcept {
  if (table == &firstBucket_) return;
  const std::size_t bytes = count * sizeof(InternedString*);
  if (bytes <= kMaxSlotSize) {
    Free(bytes, table);
  } else {
    ::operator delete(table);
  }
}

void BindingArena::ThrowBadAlloc() { throw std::bad_alloc(); }

void* BindingArena::AllocateHeap(std::size_t size) {
  static_assert(sizeof(HeapLink) == 16, "the caller's bytes follow the link at 16 bytes");
  auto* link = static_cast<HeapLink*>(::operator new(sizeof(HeapLink) + size));
  link->previous = nullptr;
  link->next = heapHead_;
  if (heapHead_ != nullptr) heapHead_->previous = link;
  heapHead_ = link;
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
}

std::size_t BindingArena::HeapBlocksHeld() const noexcept {
  std::size_t count = 0;
  for (const HeapLink* link = heapHead_; link != nullptr; link = link->next) ++count;
  return count;
}

void* BindingArena::AllocateSlow(std::size_t index) noexcept {
  const std::size_t size = SlotSize(index);
  // The current nursery had no room (AllocateSmall tried it). A record opens the next one; a
  // block never does: a nursery may be smaller than the block.
  if (index < kSlotClassCount) {
    if (void* slot = OpenNursery(size)) return slot;
  }
  if (pages_ == &noPages_) {
    auto* pools = new (std::nothrow) PagePools{};
    if (pools == nullptr) return nullptr;
    pages_ = pools;
  }
  void* memory = PageCache::Instance().TakePage();
  if (memory == nullptr) return nullptr;
  auto* page = static_cast<PageHeader*>(memory);
  LayOutPage(page, size);
  pages_->heads[index] = page;
  ++pages_->held;
  return AllocateOfClass(index);
}

void* BindingArena::OpenNursery(std::size_t size) noexcept {
  // The rest of a used-up nursery stays unused: too little to be worth a list.
  if (nurseryCount_ == kNurseryCount) return nullptr;
  const std::size_t bytes = kNurseryBytes[nurseryCount_];
  auto* nursery = static_cast<unsigned char*>(::operator new(bytes, std::nothrow));
  if (nursery == nullptr) return nullptr;
  PoisonFree(nursery, bytes);
  nurseries_[nurseryCount_++] = nursery;
  nurseryTop_ = 0;
  // Every nursery holds the largest slot at its start (the heap aligns it to at least 8).
  return BumpNursery(size);
}

void BindingArena::PageFilled(std::size_t index, PageHeader* page) noexcept {
  // Off the chain (it is always the head) and onto the full list, so that destruction finds it.
  pages_->heads[index] = page->next;
  if (page->next != nullptr) page->next->previous = nullptr;
  page->previous = nullptr;
  page->next = pages_->full;
  if (pages_->full != nullptr) pages_->full->previous = page;
  pages_->full = page;
}

void BindingArena::FreeSlow(std::size_t index, PageHeader* page, unsigned char* slot) noexcept {
  PageHeader*& head = pages_->heads[index];
  if (IsFull(*page)) {
    // It was full: off the full list and back on the chain, at its head.
    if (page->previous != nullptr) {
      page->previous->next = page->next;
    } else {
      pages_->full = page->next;
    }
    if (page->next != nullptr) page->next->previous = page->previous;
    page->previous = nullptr;
    page->next = head;
    if (head != nullptr) head->previous = page;
    head = page;
  }
  StoreIndex(slot, page->firstFree);
  PoisonFree(slot, SlotSize(index));
  page->firstFree = SlotIndex(index, page, slot);
  if (--page->used == 0) {
    if (page->previous != nullptr) {
      page->previous->next = page->next;
    } else {
      head = page->next;
    }
    if (page->next != nullptr) page->next->previous = page->previous;
    --pages_->held;
    UnpoisonUsed(page, kPageSize);
    PageCache::Instance().ReturnPage(page);
  }
}

void BindingArena::ReturnAllPages() noexcept {
  if (pages_ == &noPages_) return;
  PageCache& cache = PageCache::Instance();
  void* batch[64];
  std::size_t count = 0;
  auto collect = [&](PageHeader* page) {
    while (page != nullptr) {
      PageHeader* next = page->next;
      UnpoisonUsed(page, kPageSize);
      batch[count++] = page;
      if (count == std::size(batch)) {
        cache.ReturnPages(batch, count);
        count = 0;
      }
      page = next;
    }
  };
  for (PageHeader* head : pages_->heads) collect(head);
  collect(pages_->full);
  cache.ReturnPages(batch, count);
  delete pages_;
  pages_ = &noPages_;
}

}  // namespace vyn::binding
