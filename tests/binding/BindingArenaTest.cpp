// The value arena: size classes, nurseries and 4096-byte pages, and their return to the page
// cache.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/PluginAllocator.h"
#include "binding/BindingArena.h"
#include "binding/BindingProperty.h"
#include "binding/PageCache.h"
#include "binding/ValueArrays.h"

namespace vyn::binding {
namespace {

std::size_t PagesInUse() { return PageCache::Instance().GetStats().pagesInUse; }
uintptr_t PageOf(const void* slot) { return reinterpret_cast<uintptr_t>(slot) & ~uintptr_t{4095}; }

// Texts that differ in one byte anywhere, or only in length, land apart: the hash reads whole
// words and the tail. The empty text's shared record carries its prefix.
TEST(BindingArenaInterning, TheHashSeesEveryByteAndTheLength) {
  EXPECT_EQ(TextPrefix(""), kEmptyTextRecord.record.prefix);
  std::set<uint32_t> hashes;
  std::size_t texts = 0;
  for (std::size_t length = 0; length < 24; ++length) {
    hashes.insert(HashText(std::string(length, '\0')));
    ++texts;
    for (std::size_t at = 0; at < length; ++at, ++texts) {
      std::string text(length, 'a');
      text[at] = 'b';
      hashes.insert(HashText(text));
    }
  }
  EXPECT_EQ(hashes.size(), texts);
}

TEST(BindingArenaPools, SizeClassesNurseriesThenPagesThatGoBackToTheCache) {
  const std::size_t before = PagesInUse();
  const uint64_t liveBefore = base::LiveBytes(base::GetAllocationStats());
  {
    BindingArena arena;
    constexpr std::size_t kSize = 40;
    std::size_t nurserySlots = 0;
    for (std::size_t bytes : BindingArena::kNurseryBytes) nurserySlots += bytes / kSize;
    std::vector<void*> slots;
    for (std::size_t i = 0; i < nurserySlots; ++i) slots.push_back(arena.Allocate(kSize));
    EXPECT_EQ(arena.PagesHeld(), 0u) << "no page while the nurseries have room";
    const std::size_t perPage = 4096 / kSize - (BindingArena::kPageHeaderSize + kSize - 1) / kSize;
    for (std::size_t i = 0; i < perPage; ++i) slots.push_back(arena.Allocate(kSize));
    EXPECT_EQ(PageOf(slots[nurserySlots]), PageOf(slots.back()));
    void* chained = arena.Allocate(kSize);  // the page is full: a second one is chained
    EXPECT_EQ(PagesInUse(), before + 2);
    arena.Free(kSize, slots[nurserySlots + 3]);  // back at the head of the chain once it has room
    EXPECT_EQ(arena.Allocate(kSize), slots[nurserySlots + 3]);
    arena.Free(kSize, chained);  // an empty page goes back at once
    EXPECT_EQ(PagesInUse(), before + 1);
    std::vector<void*> second;  // a full second page, and a third one at the chain's head
    for (std::size_t i = 0; i <= perPage; ++i) second.push_back(arena.Allocate(kSize));
    arena.Free(kSize, slots[nurserySlots]);  // the chain: the second page, the first, the third
    arena.Free(kSize, second[0]);
    for (std::size_t i = nurserySlots + 1; i < slots.size(); ++i) arena.Free(kSize, slots[i]);
    EXPECT_EQ(PagesInUse(), before + 2) << "the first page left from the middle of the chain";
    for (std::size_t i = 1; i <= perPage; ++i) arena.Free(kSize, second[i]);
    slots.resize(nurserySlots);
    for (void* slot : slots) arena.Free(kSize, slot);
    EXPECT_EQ(arena.PagesHeld(), 0u);
    EXPECT_EQ(PagesInUse(), before);
    EXPECT_EQ(arena.Allocate(kSize), slots[nurserySlots - 1]) << "nursery slots serve again";
    auto* nine = static_cast<unsigned char*>(arena.Allocate(9));
    EXPECT_EQ(static_cast<unsigned char*>(arena.Allocate(12)) - nine, 12) << "9 bytes take 12";
    arena.Free(9, nine);
    EXPECT_EQ(arena.Allocate(10), nine) << "a freed slot is the next one of its class handed out";
    EXPECT_EQ(arena.Allocate(73), nullptr);
    for (int i = 0; i < 3000; ++i) (void)arena.Allocate(static_cast<std::size_t>(4 + i % 69));
    (void)arena.Intern(std::string(300, 'y'));  // a heap record
  }
  EXPECT_EQ(PagesInUse(), before) << "the arena's pages go back with it";
  EXPECT_EQ(base::LiveBytes(base::GetAllocationStats()), liveBefore);
}

TEST(BindingArenaPools, BlocksOfEachSizeKeepTheirBytesAndGiveTheirPagesBack) {
  const std::size_t before = PagesInUse();
  {
    BindingArena arena;
    (void)arena.Allocate(40);  // the first nursery, with room left for one small block
    struct Taken {
      unsigned char* block;
      std::size_t size;
    };
    std::vector<Taken> taken;
    for (std::size_t size : {73, 128, 129, 168, 256, 264, 300, 512, 513, 1000, 1024}) {
      const std::size_t bytes = BindingArena::BlockSize(size);
      EXPECT_GE(bytes, size);
      EXPECT_LE(8 * bytes, 9 * size) << size << ": at most an eighth more than asked";
      for (int i = 0; i < 9; ++i) {
        auto* block = static_cast<unsigned char*>(arena.AllocateBlock(size));
        ASSERT_NE(block, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 8, 0u);
        std::memset(block, static_cast<int>(taken.size()), bytes);
        taken.push_back({block, size});
      }
    }
    EXPECT_EQ(arena.AllocateBlock(1025), nullptr);
    EXPECT_EQ(arena.NurseriesHeld(), 1u) << "a block never opens a nursery";
    for (std::size_t i = 0; i < taken.size(); ++i) {
      const std::size_t bytes = BindingArena::BlockSize(taken[i].size);
      for (std::size_t b = 0; b < bytes; ++b) {
        ASSERT_EQ(taken[i].block[b], static_cast<unsigned char>(i)) << i << " " << b;
      }
    }
    // The last of the nine 73-byte blocks: more than the first nursery holds, so from a page.
    void* reused = taken[8].block;
    arena.FreeBlock(taken[8].size, reused);
    EXPECT_EQ(arena.AllocateBlock(80), reused) << "a freed block serves its class again";
    for (const Taken& each : taken) arena.FreeBlock(each.size, each.block);
    EXPECT_EQ(arena.PagesHeld(), 0u);
  }
  {
    // A page hands out a freed slot first, then those never used, and takes a slot back while it
    // still has some never used without counting as full.
    BindingArena arena;
    void* first = arena.AllocateBlock(1024);  // three to a page
    void* second = arena.AllocateBlock(1024);
    arena.FreeBlock(1024, first);
    EXPECT_EQ(arena.AllocateBlock(1024), first);
    void* last = arena.AllocateBlock(1024);
    void* next = arena.AllocateBlock(1024);
    EXPECT_EQ(PageOf(last), PageOf(first));
    EXPECT_NE(PageOf(next), PageOf(first)) << "a full page leaves its chain";
    arena.FreeBlock(1024, last);
    EXPECT_EQ(arena.AllocateBlock(1024), last) << "and comes back to it with room";
    for (void* block : {first, second, last, next}) arena.FreeBlock(1024, block);
    EXPECT_EQ(arena.PagesHeld(), 0u);
  }
  EXPECT_EQ(PagesInUse(), before);
}

TEST(BindingArenaPools, SizeClassesAreStepsOfFourThenEighthsOfEachDoubling) {
  // A structure's array knows its capacity by its class alone: the class must tell the bytes of
  // the smallest size that fits, as the arena hands out for the sizes it serves, then eight sizes
  // to each doubling, numbered in eight bits up to the largest structure.
  for (uint64_t bytes = 1; bytes < (uint64_t{1} << 36); bytes += bytes < 4096 ? 1 : bytes / 7) {
    const unsigned sizeClass = ArrayClass(bytes);
    const uint64_t classBytes = ArrayClassBytes(sizeClass);
    ASSERT_GE(classBytes, bytes);
    ASSERT_TRUE(sizeClass == 0 || ArrayClassBytes(sizeClass - 1) < bytes) << bytes;
    if (bytes <= BindingArena::kMaxSlotSize) {
      ASSERT_EQ(classBytes % BindingArena::kSizeStep, 0u) << bytes;
    } else {
      ASSERT_LE(8 * classBytes, 9 * bytes) << bytes;
    }
    if (bytes <= BindingArena::kMaxBlockSize) {
      ASSERT_EQ(BindingArena::BlockSize(static_cast<std::size_t>(bytes)), classBytes) << bytes;
    }
  }
  const uint64_t largest = 8 + uint64_t{BindingProperty::kMaxElements} * sizeof(MemberEntry);
  EXPECT_LE(ArrayClass(largest), 255u);
}

}  // namespace
}  // namespace vyn::binding
