// Virtual-memory regions through mmap and munmap.
#include "platform/VirtualMemory.h"

#include <sys/mman.h>

#include <cstdint>

namespace vyn::platform {
namespace {

void* Map(std::size_t size) noexcept {
  void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return address == MAP_FAILED ? nullptr : address;
}

}  // namespace

void* AllocateVirtual(std::size_t size, std::size_t alignment) noexcept {
  if (alignment <= 4096) return Map(size);
  // mmap only promises page alignment: map the slack as well and unmap what sticks out.
  void* raw = Map(size + alignment);
  if (raw == nullptr) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + alignment - 1) & ~(uintptr_t{alignment} - 1);
  const std::size_t head = aligned - start;
  const std::size_t tail = alignment - head;
  if (head != 0) munmap(raw, head);
  if (tail != 0) munmap(reinterpret_cast<void*>(aligned + size), tail);
  return reinterpret_cast<void*>(aligned);
}

void FreeVirtual(void* address, std::size_t size) noexcept {
  if (address != nullptr) munmap(address, size);
}

}  // namespace vyn::platform
