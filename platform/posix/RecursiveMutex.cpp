// The recursive lock over the C++ library's recursive mutex.
#include "platform/RecursiveMutex.h"

namespace vyn::platform {

RecursiveMutex::~RecursiveMutex() = default;

void RecursiveMutex::Lock() noexcept { mutex_.lock(); }
void RecursiveMutex::Unlock() noexcept { mutex_.unlock(); }
bool RecursiveMutex::TryLock() noexcept { return mutex_.try_lock(); }

}  // namespace vyn::platform
