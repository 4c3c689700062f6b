// Virtual-memory regions through VirtualAlloc and VirtualFree.
#include "platform/VirtualMemory.h"

#include <cstdint>

#include "platform/windows/SystemHeaders.h"

namespace vyn::platform {
namespace {

void* Commit(void* at, std::size_t size) noexcept {
  return VirtualAlloc(at, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

bool Aligned(const void* address, std::size_t alignment) noexcept {
  return (reinterpret_cast<uintptr_t>(address) & (alignment - 1)) == 0;
}

}  // namespace

void* AllocateVirtual(std::size_t size, std::size_t alignment) noexcept {
  // Regions start on the allocation granularity (64 KiB), which covers the usual alignments.
  void* region = Commit(nullptr, size);
  if (region == nullptr || Aligned(region, alignment)) return region;
  VirtualFree(region, 0, MEM_RELEASE);
  // A region may only be released whole, so the slack cannot be trimmed as with mmap: find an
  // aligned address inside a larger reservation, give that back and ask for exactly there.
  // Another thread may take the address in between, hence the few attempts.
  for (int attempt = 0; attempt < 8; ++attempt) {
    void* wide = VirtualAlloc(nullptr, size + alignment, MEM_RESERVE, PAGE_NOACCESS);
    if (wide == nullptr) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(wide);
    void* at = reinterpret_cast<void*>((start + alignment - 1) & ~(uintptr_t{alignment} - 1));
    VirtualFree(wide, 0, MEM_RELEASE);
    if ((region = Commit(at, size)) != nullptr) return region;
  }
  return nullptr;
}

void FreeVirtual(void* address, std::size_t) noexcept {
  if (address != nullptr) VirtualFree(address, 0, MEM_RELEASE);
}

}  // namespace vyn::platform
