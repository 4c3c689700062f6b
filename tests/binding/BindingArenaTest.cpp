// The value arena: interning with shared records and counts, size classes, nurseries and 4096-byte
// pages, their return to the page cache, and arenas held by several roots.
#include "binding/BindingArena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "binding/PageCache.h"
#include "base/PluginAllocator.h"

namespace vyn::binding {
namespace {

constexpr std::size_t kHeader = BindingArena::kPageHeaderSize;

// Slots per 4096-byte page of a class, as the page layout puts them.
std::size_t SlotsPerPage(std::size_t slotSize) {
  return BindingArena::kPageSize / slotSize - (kHeader + slotSize - 1) / slotSize;
}

// Slots of a class the nurseries hold before pages come in (slots follow each other without gaps).
std::size_t NurserySlots(std::size_t slotSize) {
  std::size_t count = 0;
  for (std::size_t bytes : BindingArena::kNurseryBytes) count += bytes / slotSize;
  return count;
}

std::size_t PagesInUse() { return PageCache::Instance().GetStats().pagesInUse; }
uint64_t LiveBytes() { return base::LiveBytes(base::GetAllocationStats()); }

TEST(BindingArenaInterning, EqualTextsShareOneCountedRecord) {
  BindingArena arena;
  const InternedString* first = arena.Intern("hello");
  const std::string again = "hello";  // other storage, same bytes
  const InternedString* second = arena.Intern(again);
  ASSERT_EQ(first, second);
  EXPECT_EQ(first->refCount, 2u);
  EXPECT_EQ(first->View(), "hello");
  EXPECT_EQ(first->Text()[5], '\0');
  EXPECT_EQ(first->hash, HashText("hello"));
  EXPECT_EQ(arena.InternedCount(), 1u);
  arena.Release(first);
  EXPECT_EQ(second->refCount, 1u);
  EXPECT_EQ(arena.InternedCount(), 1u);
  arena.Release(second);
  EXPECT_EQ(arena.InternedCount(), 0u);
  EXPECT_NE(arena.Intern("hello"), nullptr);  // a fresh record; the table still works
  EXPECT_EQ(arena.InternedCount(), 1u);
}

TEST(BindingArenaInterning, EmptyTextIsTheSharedUncountedRecord) {
  BindingArena one;
  BindingArena two;
  const InternedString* empty = one.Intern("");
  EXPECT_EQ(empty, BindingArena::EmptyString());
  EXPECT_EQ(two.Intern(std::string_view()), empty);
  two.AddRef(empty);
  one.Release(empty);
  one.Release(empty);
  EXPECT_EQ(empty->refCount, 0u);
  EXPECT_EQ(empty->length, 0u);
  EXPECT_STREQ(empty->Text(), "");
  EXPECT_EQ(one.InternedCount(), 0u);
}

TEST(BindingArenaInterning, TextsDifferingOnlyAfterANulStayDistinct) {
  BindingArena arena;
  const InternedString* a = arena.Intern(std::string_view("k\0a", 3));
  const InternedString* b = arena.Intern(std::string_view("k\0b", 3));
  const InternedString* k = arena.Intern("k");
  EXPECT_NE(a, b);
  EXPECT_NE(a, k);
  EXPECT_EQ(a->length, 3u);
  EXPECT_EQ(arena.InternedCount(), 3u);
}

TEST(BindingArenaInterning, HashIsFnv1a32) {
  struct Case {
    const char* text;
    uint32_t hash;
  };
  const Case cases[] = {{"", 0x811c9dc5u}, {"a", 0xe40c292cu}, {"foobar", 0xbf9cf968u}};
  for (const Case& c : cases) EXPECT_EQ(HashText(c.text), c.hash) << '"' << c.text << '"';
}

TEST(BindingArenaInterning, ManyAndLongTextsSurviveTableGrowth) {
  BindingArena arena;
  std::vector<const InternedString*> records;
  for (int i = 0; i < 5000; ++i) {
    // Every fifth text is too long for a slot and lives on the heap.
    std::string text = "text-" + std::to_string(i);
    if (i % 5 == 0) text += std::string(100, 'x');
    records.push_back(arena.Intern(text));
  }
  EXPECT_EQ(arena.InternedCount(), 5000u);
  for (int i = 0; i < 5000; ++i) {
    std::string text = "text-" + std::to_string(i);
    if (i % 5 == 0) text += std::string(100, 'x');
    const InternedString* again = arena.Intern(text);
    ASSERT_EQ(again, records[static_cast<std::size_t>(i)]) << text;
    ASSERT_EQ(again->View(), text);
    arena.Release(again);
  }
  for (std::size_t i = 0; i < records.size(); i += 2) arena.Release(records[i]);
  EXPECT_EQ(arena.InternedCount(), 2500u);
  EXPECT_EQ(arena.Intern("text-1"), records[1]);
}

TEST(BindingArenaPools, SizesRoundUpToTheirClass) {
  BindingArena arena;
  auto* nine = static_cast<unsigned char*>(arena.Allocate(9));
  auto* twelve = static_cast<unsigned char*>(arena.Allocate(12));
  void* thirteen = arena.Allocate(13);
  ASSERT_NE(nine, nullptr);
  EXPECT_EQ(twelve - nine, 12) << "9 bytes take a slot of the 12-byte class";
  arena.Free(13, thirteen);
  arena.Free(9, nine);
  EXPECT_EQ(arena.Allocate(16), thirteen) << "13 bytes belong to the 16-byte class";
  EXPECT_EQ(arena.Allocate(10), nine) << "a freed slot is the next one of its class handed out";
  EXPECT_EQ(arena.Allocate(73), nullptr);
  EXPECT_EQ(arena.PagesHeld(), 0u) << "the first slots come from the nursery";
  EXPECT_EQ(arena.NurseriesHeld(), 1u);
}

TEST(BindingArenaPools, SlotsAreAlignedToTheirSize) {
  // Enough of each size to pass through all nurseries into pages.
  BindingArena arena;
  for (std::size_t size : {8u, 12u, 16u, 20u, 56u, 64u, 72u, 4u}) {
    for (int i = 0; i < 100; ++i) {
      const auto address = reinterpret_cast<uintptr_t>(arena.Allocate(size));
      ASSERT_EQ(address % (size % 8 == 0 ? 8 : 4), 0u) << "size " << size;
    }
  }
  EXPECT_EQ(arena.NurseriesHeld(), BindingArena::kNurseryCount);
  EXPECT_GT(arena.PagesHeld(), 0u);
}

TEST(BindingArenaPools, NurseriesThenPagesChainAndGoBackToTheCache) {
  const std::size_t before = PagesInUse();
  constexpr std::size_t kSize = 40;
  const std::size_t nurserySlots = NurserySlots(kSize);
  const std::size_t pageSlots = SlotsPerPage(kSize);
  BindingArena arena;
  std::vector<void*> slots;
  for (std::size_t i = 0; i < nurserySlots; ++i) slots.push_back(arena.Allocate(kSize));
  EXPECT_EQ(arena.PagesHeld(), 0u) << "no page while the nurseries have room";
  EXPECT_EQ(arena.NurseriesHeld(), BindingArena::kNurseryCount);
  for (std::size_t i = 0; i < pageSlots; ++i) slots.push_back(arena.Allocate(kSize));
  EXPECT_EQ(arena.PagesHeld(), 1u);
  EXPECT_EQ(PagesInUse(), before + 1);
  const auto firstPage = reinterpret_cast<uintptr_t>(slots.back()) & ~uintptr_t{4095};
  EXPECT_EQ(reinterpret_cast<uintptr_t>(slots[nurserySlots]) & ~uintptr_t{4095}, firstPage);

  // The nurseries and the page are full: the next slot chains a second page.
  void* chained = arena.Allocate(kSize);
  EXPECT_EQ(arena.PagesHeld(), 2u);
  EXPECT_EQ(PagesInUse(), before + 2);
  EXPECT_NE(reinterpret_cast<uintptr_t>(chained) & ~uintptr_t{4095}, firstPage);

  // A slot freed on the full first page puts it back at the head of the chain.
  void* freed = slots[nurserySlots + 3];
  arena.Free(kSize, freed);
  EXPECT_EQ(arena.Allocate(kSize), freed);

  // Emptying a page hands it back at once; nursery slots stay with the arena and serve again.
  arena.Free(kSize, chained);
  EXPECT_EQ(arena.PagesHeld(), 1u);
  EXPECT_EQ(PagesInUse(), before + 1);
  for (std::size_t i = 0; i < nurserySlots; ++i) arena.Free(kSize, slots[i]);
  EXPECT_EQ(arena.PagesHeld(), 1u);
  for (std::size_t i = nurserySlots; i < slots.size(); ++i) arena.Free(kSize, slots[i]);
  EXPECT_EQ(arena.PagesHeld(), 0u);
  EXPECT_EQ(PagesInUse(), before);
  EXPECT_EQ(arena.Allocate(kSize), slots[nurserySlots - 1]) << "the last nursery slot freed";
  EXPECT_EQ(arena.Allocate(kSize), slots[nurserySlots - 2]);
  EXPECT_EQ(arena.PagesHeld(), 0u);
}

TEST(BindingArenaPools, FreeingAllSixteenPagesOfARegionReleasesIt) {
  const PageCache::Stats start = PageCache::Instance().GetStats();
  ASSERT_EQ(start.regions, 0u) << "an earlier test kept a region";
  constexpr std::size_t kSize = 72;
  const std::size_t count = NurserySlots(kSize) + PageCache::kPagesPerRegion * SlotsPerPage(kSize);
  BindingArena arena;
  std::vector<void*> slots;
  for (std::size_t i = 0; i < count; ++i) slots.push_back(arena.Allocate(kSize));
  EXPECT_EQ(arena.PagesHeld(), PageCache::kPagesPerRegion);
  EXPECT_EQ(PageCache::Instance().GetStats().regions, 1u);
  EXPECT_EQ(PageCache::Instance().GetStats().freePages, 0u);
  for (void* slot : slots) arena.Free(kSize, slot);
  const PageCache::Stats end = PageCache::Instance().GetStats();
  EXPECT_EQ(end.regions, 0u);
  EXPECT_EQ(end.regionsReleased, start.regionsReleased + 1);
}

TEST(BindingArenaPools, DestroyingTheArenaReturnsFullAndPartialPages) {
  const std::size_t before = PagesInUse();
  const uint64_t liveBefore = LiveBytes();
  {
    BindingArena arena;
    for (int i = 0; i < 3000; ++i) (void)arena.Allocate(static_cast<std::size_t>(4 + 4 * (i % 18)));
    (void)arena.Intern(std::string(300, 'y'));  // a heap record, freed with the table
    EXPECT_GT(PagesInUse(), before + 10);
  }
  EXPECT_EQ(PagesInUse(), before);
  EXPECT_EQ(LiveBytes(), liveBefore) << "nurseries, page chains and heap records all go";
}

TEST(BindingArenaRoots, TheLastRootDestroysTheArena) {
  EXPECT_LE(sizeof(BindingArena), 128u) << "every tree that stores anything pays for one";
  const uint64_t before = LiveBytes();
  const std::size_t pagesBefore = PagesInUse();
  BindingArena* arena = BindingArena::Create();
  EXPECT_LE(LiveBytes() - before, sizeof(BindingArena) + BindingArena::kNurseryBytes[0] + 16)
      << "the first nursery comes in the arena's own heap block";
  const InternedString* text = arena->Intern("kept");
  for (int i = 0; i < 200; ++i) ASSERT_NE(arena->Allocate(72), nullptr);  // into pages
  EXPECT_GT(arena->PagesHeld(), 0u);
  arena->AddRoot();
  EXPECT_EQ(arena->RootCount(), 2u);
  BindingArena::DropRoot(arena);
  EXPECT_EQ(arena->RootCount(), 1u);
  EXPECT_EQ(text->View(), "kept") << "a remaining root keeps the arena whole";
  BindingArena::DropRoot(arena);
  EXPECT_EQ(LiveBytes(), before);
  EXPECT_EQ(PagesInUse(), pagesBefore);
}

}  // namespace
}  // namespace vyn::binding
