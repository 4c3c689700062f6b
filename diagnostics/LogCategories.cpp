// The process-wide category table. Readers take no lock: a slot's name is written before the
// counter that makes it visible is published, and only published slots are read.
#include "diagnostics/LogCategories.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace vyn::diagnostics {
namespace {

constexpr std::size_t kNameSize = 4;  // three letters and the terminator
constexpr int kLastFixedSlot = 7;
constexpr char kUnknownName[kNameSize] = "???";

char gNames[kCategorySlots][kNameSize] = {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST"};
// The highest slot that holds a registered name.
std::atomic<int> gLastSlot{kLastFixedSlot};
// Serialises registrations, so that the lookup and the claim of a new slot are one step.
std::mutex gRegisterMutex;

// The plugin's own category, registered when the library is loaded, so it always owns slot 8.
[[maybe_unused]] const uint64_t gLocCategory = RegisterCategory("LOC");

}  // namespace

uint64_t RegisterCategory(const char* name) noexcept {
  if (name == nullptr || name[0] == '\0') return 0;
  std::lock_guard<std::mutex> lock(gRegisterMutex);
  const int last = gLastSlot.load(std::memory_order_relaxed);
  for (int slot = 0; slot <= last; ++slot) {
    if (std::strncmp(gNames[slot], name, kNameSize - 1) == 0) return uint64_t{1} << slot;
  }
  // A 65th category has no bit to stand for it.
  if (last + 1 >= static_cast<int>(kCategorySlots)) return 0;
  const int slot = last + 1;
  std::strncpy(gNames[slot], name, kNameSize - 1);
  gNames[slot][kNameSize - 1] = '\0';
  gLastSlot.store(slot, std::memory_order_release);
  return uint64_t{1} << slot;
}

std::size_t CategoriesToText(char* buffer, std::size_t size, uint64_t mask) noexcept {
  if (buffer == nullptr || size == 0) return 0;
  const int last = gLastSlot.load(std::memory_order_acquire);
  std::size_t length = 0;
  buffer[0] = '\0';
  for (int slot = 0; slot < static_cast<int>(kCategorySlots); ++slot) {
    if ((mask & (uint64_t{1} << slot)) == 0) continue;
    if (size - length < 2) break;
    const char* name = slot <= last ? gNames[slot] : kUnknownName;
    if (length != 0) buffer[length++] = ';';
    for (const char* c = name; *c != '\0' && size - length >= 2; ++c) buffer[length++] = *c;
    buffer[length] = '\0';
  }
  return length;
}

}  // namespace vyn::diagnostics
