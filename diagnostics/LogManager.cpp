// The log manager's state, its lifetime and the dispatch of records to targets.
#include "diagnostics/LogManager.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "diagnostics/ConsoleLogTargets.h"
#include "diagnostics/LogCategories.h"
#include "platform/ModulePath.h"

namespace vyn::diagnostics {
namespace {

using platform::RecursiveMutexGuard;

constexpr std::size_t kPathSize = 1024;

// Everything here is guarded by LogManagerMutex().
struct LogManager {
  LogManager() { targets.reserve(8); }
  LogManager(const LogManager&) = delete;
  LogManager& operator=(const LogManager&) = delete;

  std::vector<LogTargetTable*> targets;  // registration order
  bool suspended = false;
  int32_t minLevel = kLogWarn;
  uint64_t mutedCategories = kCategoryXtr;
  StdErrLogTarget stdErr;
  StdOutLogTarget stdOut;
  DebuggerConsoleLogTarget debuggerConsole;
};

// Never destroyed: static destructors that run after this file's may still log at exit.
union ManagerLock {
  constexpr ManagerLock() : mutex() {}
  ~ManagerLock() {}
  platform::RecursiveMutex mutex;
};
constinit ManagerLock gLock;

// Both guarded by gLock.
LogManager* gManager = nullptr;
int gReferences = 0;

// Filled once, under gLock, when the first manager is created, then published. Readers take
// no lock: FormatLogLine runs under a target's lock, and taking the manager's after it would
// invert the lock order.
char gExecutableName[kPathSize];
bool gExecutableNameRead = false;  // guarded by gLock
std::atomic<const char*> gPublishedName{"<unknown>"};

void ReadExecutableName() {
  if (gExecutableNameRead) return;
  gExecutableNameRead = true;
  char path[kPathSize];
  if (!platform::ExecutablePath(path, sizeof path)) return;
  const char* name = platform::PathFileName(path);
  if (*name == '\0') return;
  std::memcpy(gExecutableName, name, std::strlen(name) + 1);
  gPublishedName.store(gExecutableName, std::memory_order_release);
}

// The manager, created on first use; null only when memory ran out. Call with gLock held.
LogManager* Manager() noexcept {
  if (gManager != nullptr) return gManager;
  try {
    auto manager = std::make_unique<LogManager>();
    ReadExecutableName();
    gManager = manager.release();
  } catch (...) {
    return nullptr;
  }
  // Registration goes through the manager's own functions, so it must be published first.
  LogTargetTable* stdErr = gManager->stdErr.Table();
  stdErr->registerTarget(stdErr);
  LogTargetTable* console = gManager->debuggerConsole.Table();
  console->registerTarget(console);
  return gManager;
}

// Call with gLock held.
void DestroyManager() noexcept {
  if (gManager == nullptr) return;
  std::vector<LogTargetTable*>& targets = gManager->targets;
  // Last first; an unregister may remove more than one entry, so the index is re-checked.
  for (std::size_t i = targets.size(); i-- > 0;) {
    if (i >= targets.size()) continue;
    LogTargetTable* target = targets[i];
    target->unregisterTarget(target);
  }
  // Tables added without registering stay listed; they are simply forgotten.
  std::unique_ptr<LogManager> manager(gManager);
  gManager = nullptr;
  gReferences = 0;
}

// Frees a manager still alive when the process exits or the library is unloaded.
struct ManagerReaper {
  constexpr ManagerReaper() = default;
  ~ManagerReaper() {
    RecursiveMutexGuard guard(gLock.mutex);
    DestroyManager();
  }
};
constinit ManagerReaper gReaper;

}  // namespace

platform::RecursiveMutex& LogManagerMutex() noexcept { return gLock.mutex; }

void InitLogging() noexcept {
  RecursiveMutexGuard guard(gLock.mutex);
  if (Manager() != nullptr) ++gReferences;
}

void ShutdownLogging() noexcept {
  RecursiveMutexGuard guard(gLock.mutex);
  if (gReferences == 0) return;
  if (--gReferences == 0) DestroyManager();
}

void SetMinLevel(int32_t level) noexcept {
  RecursiveMutexGuard guard(gLock.mutex);
  if (LogManager* manager = Manager()) manager->minLevel = level;
}

int32_t GetMinLevel() noexcept {
  RecursiveMutexGuard guard(gLock.mutex);
  LogManager* manager = Manager();
  return manager != nullptr ? manager->minLevel : kLogWarn;
}

void SetMutedCategories(uint64_t mask) noexcept {
  RecursiveMutexGuard guard(gLock.mutex);
  if (LogManager* manager = Manager()) manager->mutedCategories = mask;
}

uint64_t GetMutedCategories() noexcept {
  RecursiveMutexGuard guard(gLock.mutex);
  LogManager* manager = Manager();
  return manager != nullptr ? manager->mutedCategories : kCategoryXtr;
}

void SuspendLogging() noexcept {
  RecursiveMutexGuard guard(gLock.mutex);
  if (LogManager* manager = Manager()) manager->suspended = true;
}

void ResumeLogging() noexcept {
  RecursiveMutexGuard guard(gLock.mutex);
  if (LogManager* manager = Manager()) manager->suspended = false;
}

bool AddTarget(LogTargetTable* target) noexcept {
  RecursiveMutexGuard guard(gLock.mutex);
  LogManager* manager = Manager();
  if (manager == nullptr || target == nullptr) return false;
  try {
    manager->targets.push_back(target);
  } catch (...) {
    return false;
  }
  return true;
}

void RemoveTarget(LogTargetTable* target) noexcept {
  RecursiveMutexGuard guard(gLock.mutex);
  // Nothing is listed without a manager, so none is created for this.
  if (gManager == nullptr) return;
  std::erase(gManager->targets, target);
}

LogTargetTable* FindTarget(const char* name) noexcept {
  RecursiveMutexGuard guard(gLock.mutex);
  LogManager* manager = Manager();
  if (manager == nullptr || name == nullptr) return nullptr;
  for (LogTargetTable* target : manager->targets) {
    const char* targetName = target->getName(target);
    if (targetName != nullptr && std::strcmp(targetName, name) == 0) return target;
  }
  return nullptr;
}

LogTargetTable* GetStdOutTarget() noexcept {
  RecursiveMutexGuard guard(gLock.mutex);
  LogManager* manager = Manager();
  return manager != nullptr ? manager->stdOut.Table() : nullptr;
}

LogTargetTable* GetStdErrTarget() noexcept {
  RecursiveMutexGuard guard(gLock.mutex);
  LogManager* manager = Manager();
  return manager != nullptr ? manager->stdErr.Table() : nullptr;
}

LogTargetTable* GetDebuggerConsoleTarget() noexcept {
  RecursiveMutexGuard guard(gLock.mutex);
  LogManager* manager = Manager();
  return manager != nullptr ? manager->debuggerConsole.Table() : nullptr;
}

const char* ExecutableName() noexcept { return gPublishedName.load(std::memory_order_acquire); }

bool LogManagerAccepts(int32_t level, uint64_t categories) noexcept {
  LogManager* manager = Manager();
  return manager != nullptr && !manager->suspended && level >= manager->minLevel &&
         (categories & manager->mutedCategories) == 0;
}

void DispatchLogRecord(const LogRecord& record) noexcept {
  LogManager* const manager = gManager;
  if (manager == nullptr) return;
  const std::vector<LogTargetTable*>& targets = manager->targets;
  const uint64_t categories = record.Categories();
  // A target may unregister itself, or another one, while it writes (the lock is recursive),
  // so the list is walked by index and re-read after each call.
  for (std::size_t i = 0; i < targets.size();) {
    LogTargetTable* target = targets[i];
    bool wanted = record.level >= target->getLevel(target);
    if (wanted && categories != 0) {
      const uint64_t include = target->getIncludeMask(target);
      wanted = (categories & target->getExcludeMask(target)) == 0 &&
               (include == 0 || (categories & include) != 0);
    }
    if (wanted) target->log(target, &record);
    // When the entry at i is no longer this target, an entry at or before i left the list
    // and the one now at i has not been seen yet.
    if (gManager != manager) return;  // a target shut logging down
    if (i < targets.size() && targets[i] == target) ++i;
  }
}

}  // namespace vyn::diagnostics
