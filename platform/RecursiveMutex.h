// A recursive lock for state that host threads share, and its scoped guard. The same thread may
// take it again while holding it, so code under a lock may call back into code that takes it.
#pragma once

#include <mutex>

namespace vyn::platform {

class RecursiveMutex {
 public:
  // constexpr so that a lock at namespace scope is ready before any static initialiser runs.
  constexpr RecursiveMutex() noexcept = default;
  RecursiveMutex(const RecursiveMutex&) = delete;
  RecursiveMutex& operator=(const RecursiveMutex&) = delete;

  // The system refuses a lock only when it runs out of resources; noexcept turns that into
  // termination instead of an exception escaping into code that never expects one.
  void Lock() noexcept { mutex_.lock(); }
  void Unlock() noexcept { mutex_.unlock(); }
  [[nodiscard]] bool TryLock() noexcept { return mutex_.try_lock(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds the lock from construction to the end of the scope.
class RecursiveMutexGuard {
 public:
  explicit RecursiveMutexGuard(RecursiveMutex& mutex) noexcept : mutex_(mutex) { mutex_.Lock(); }
  ~RecursiveMutexGuard() { mutex_.Unlock(); }
  RecursiveMutexGuard(const RecursiveMutexGuard&) = delete;
  RecursiveMutexGuard& operator=(const RecursiveMutexGuard&) = delete;

 private:
  RecursiveMutex& mutex_;
};

}  // namespace vyn::platform
