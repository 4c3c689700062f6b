// Log categories: bit i of a 64-bit mask stands for the three-letter name in slot i of one
// process-wide table. Slots 0..7 are fixed; "LOC" takes slot 8 when the library is loaded; the
// rest are handed out by RegisterCategory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vyn::diagnostics {

inline constexpr uint64_t kCategoryDbg = uint64_t{1} << 0;
inline constexpr uint64_t kCategoryGen = uint64_t{1} << 1;
inline constexpr uint64_t kCategoryXtr = uint64_t{1} << 2;
inline constexpr uint64_t kCategoryPrf = uint64_t{1} << 3;
inline constexpr uint64_t kCategoryMem = uint64_t{1} << 4;
inline constexpr uint64_t kCategoryDsk = uint64_t{1} << 5;
inline constexpr uint64_t kCategoryNet = uint64_t{1} << 6;
inline constexpr uint64_t kCategoryTst = uint64_t{1} << 7;

inline constexpr std::size_t kCategorySlots = 64;

// The bit of the category whose name matches the first three characters of name; a new name
// takes the next free slot. Returns 0 for a null or empty name and when all 64 slots are taken.
// Safe on any thread; registering one name from two threads at once still gives one slot.
uint64_t RegisterCategory(const char* name) noexcept;

// Writes the names of the set bits, from bit 0 upward, separated by ";" ("DBG;NET"); a slot
// that no category holds shows "???". Stops when fewer than 2 bytes are left, so the text is
// cut rather than overrun; always terminated when size > 0. Returns the length written.
std::size_t CategoriesToText(char* buffer, std::size_t size, uint64_t mask) noexcept;

}  // namespace vyn::diagnostics
