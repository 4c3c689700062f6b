// The one process-wide log manager: level and category filters, the list of registered
// targets in registration order, and the three built-in console targets.
//
// Every operation takes the manager's recursive lock, and those that read or change the
// manager create it when none exists yet (without counting a reference; see InitLogging).
// The lock outlives the manager, so a call racing with the last ShutdownLogging finds either
// the manager or none. Lock order: the manager's lock first, then a target's own lock.
#pragma once

#include <cstdint>

#include "diagnostics/LogRecord.h"
#include "diagnostics/LogTarget.h"
#include "platform/RecursiveMutex.h"

namespace vyn::diagnostics {

// Adds a reference; the manager exists from the first one on.
void InitLogging() noexcept;
// Drops a reference. With the last one every registered target is unregistered, last first,
// and the manager and its built-in targets are destroyed. Without a reference it does nothing.
void ShutdownLogging() noexcept;

// Messages below this level are dropped (default kLogWarn).
void SetMinLevel(int32_t level) noexcept;
int32_t GetMinLevel() noexcept;
// Messages carrying any of these categories are dropped (default kCategoryXtr).
void SetMutedCategories(uint64_t mask) noexcept;
uint64_t GetMutedCategories() noexcept;
// While suspended nothing is logged.
void SuspendLogging() noexcept;
void ResumeLogging() noexcept;

// Appends a table without any check (a second add lists it twice). Returns false only when
// memory ran out and the table was not added. Targets normally use their register entry.
bool AddTarget(LogTargetTable* target) noexcept;
// Removes every occurrence of the table.
void RemoveTarget(LogTargetTable* target) noexcept;
// The first listed target whose name equals name byte for byte, or null.
LogTargetTable* FindTarget(const char* name) noexcept;

// The built-in targets, valid until the manager is destroyed; null if it cannot be created.
LogTargetTable* GetStdOutTarget() noexcept;
LogTargetTable* GetStdErrTarget() noexcept;
LogTargetTable* GetDebuggerConsoleTarget() noexcept;

// The file name of the process's executable, read when the first manager is created;
// "<unknown>" until then (or when it cannot be read). Takes no lock; the text stays valid.
const char* ExecutableName() noexcept;

// The manager's lock, for code that must make several manager calls as one step (installing a
// target, configuring one). Never destroyed, so logging keeps working during process exit.
platform::RecursiveMutex& LogManagerMutex() noexcept;

// The steps of the log entry, to be called with LogManagerMutex() held.
// Whether a message passes the suspended flag, the minimum level and the muted categories.
bool LogManagerAccepts(int32_t level, uint64_t categories) noexcept;
// Hands the record to every listed target whose level it meets and whose categories allow it.
void DispatchLogRecord(const LogRecord& record) noexcept;

}  // namespace vyn::diagnostics
