// The recursive lock over a critical section, initialised once on first use.
#include "platform/RecursiveMutex.h"

#include "platform/windows/SystemHeaders.h"

namespace vyn::platform {
namespace {

static_assert(sizeof(INIT_ONCE) == sizeof(void*));

BOOL CALLBACK InitializeSection(PINIT_ONCE, PVOID section, PVOID*) {
  InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(section));
  return TRUE;
}

}  // namespace

RecursiveMutex::~RecursiveMutex() {
  // A section that was never used was never made.
  if (once_ != nullptr) DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section_));
}

void RecursiveMutex::Lock() noexcept {
  static_assert(sizeof(section_) == sizeof(CRITICAL_SECTION));
  static_assert(alignof(RecursiveMutex) >= alignof(CRITICAL_SECTION));
  auto* section = reinterpret_cast<CRITICAL_SECTION*>(section_);
  InitOnceExecuteOnce(reinterpret_cast<PINIT_ONCE>(&once_), InitializeSection, section, nullptr);
  EnterCriticalSection(section);
}

void RecursiveMutex::Unlock() noexcept {
  LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section_));
}

bool RecursiveMutex::TryLock() noexcept {
  auto* section = reinterpret_cast<CRITICAL_SECTION*>(section_);
  InitOnceExecuteOnce(reinterpret_cast<PINIT_ONCE>(&once_), InitializeSection, section, nullptr);
  return TryEnterCriticalSection(section) != 0;
}

}  // namespace vyn::platform
