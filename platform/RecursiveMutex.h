// A recursive lock for state that host threads share, and its scoped guard. The same thread may
// take it again while holding it, so code under a lock may call back into code that takes it.
#pragma once

#if !defined(_WIN32)
#include <mutex>
#endif

namespace vyn::platform {

class RecursiveMutex {
 public:
  // constexpr so that a lock at namespace scope is ready before any static initialiser runs.
  constexpr RecursiveMutex() noexcept = default;
  ~RecursiveMutex();
  RecursiveMutex(const RecursiveMutex&) = delete;
  RecursiveMutex& operator=(const RecursiveMutex&) = delete;

  // The system refuses a lock only when it runs out of resources; noexcept turns that into
  // termination instead of an exception escaping into code that never expects one.
  void Lock() noexcept;
  void Unlock() noexcept;
  [[nodiscard]] bool TryLock() noexcept;

 private:
#if defined(_WIN32)
  // A critical section, which only a call can make: it is made on first use, once, so the
  // constructor stays constexpr. The storage has the section's size at either pointer width
  // (the implementation checks), so this header needs no system header.
  void* once_ = nullptr;
  alignas(void*) unsigned char section_[sizeof(void*) == 8 ? 40 : 24] = {};
#else
  std::recursive_mutex mutex_;
#endif
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
