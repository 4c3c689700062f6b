// A destination of log records. The manager holds and calls targets only through the twelve
// plain functions of their LogTargetTable; the LogTarget class fills that table and gets back to
// itself from it.
//
// Locks: a target's settings are guarded by its own recursive lock. Whenever both locks are
// needed the manager's lock is taken first, then the target's; registration runs under the
// manager's lock alone. Writing happens while the manager holds its lock for the dispatch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "diagnostics/LogLevel.h"
#include "diagnostics/LogRecord.h"
#include "platform/RecursiveMutex.h"

namespace vyn::diagnostics {

// Every entry takes the table's own address first.
struct LogTargetTable {
  int32_t (*interfaceVersion)(LogTargetTable* self);  // 1
  void (*setLevel)(LogTargetTable* self, int32_t level);
  int32_t (*getLevel)(LogTargetTable* self);
  // Stores exclude as given and include without the exclude bits.
  void (*setCategories)(LogTargetTable* self, uint64_t include, uint64_t exclude);
  uint64_t (*getIncludeMask)(LogTargetTable* self);
  uint64_t (*getExcludeMask)(LogTargetTable* self);
  const char* (*getName)(LogTargetTable* self);
  const char* (*getLineFormat)(LogTargetTable* self);
  // Appends the table to the manager's list unless it is registered already.
  void (*registerTarget)(LogTargetTable* self);
  // Removes the table from the manager's list if it is registered.
  void (*unregisterTarget)(LogTargetTable* self);
  bool (*isRegistered)(LogTargetTable* self);
  // Writes one record; false when the target wrote nothing. The manager ignores the result.
  bool (*log)(LogTargetTable* self, const LogRecord* record);
};

inline constexpr const char* kDefaultLineFormat = "#D| #L| #G| #M";

// Input of ConfigureTarget.
struct LogTargetSettings {
  int32_t level = kLogWarn;
  uint64_t includeMask = 0;
  uint64_t excludeMask = 0;
  std::string lineFormat = kDefaultLineFormat;
};

class LogTarget {
 public:
  LogTarget();
  explicit LogTarget(const char* lineFormat);
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;

  // A concrete target must call Detach() in its own destructor: once the derived part is gone
  // the manager must no longer reach Write.
  virtual ~LogTarget();
  // Unregisters the target.
  virtual void Detach();
  // The class name; "LogTarget" here.
  virtual const char* GetName() const;
  // Valid until the target is configured again.
  virtual const char* GetLineFormat() const;
  // Writes one record; called with the manager's lock held, takes the target's own lock.
  virtual bool Write(const LogRecord& record) = 0;

  LogTargetTable* Table() noexcept { return &slot_.table; }
  // The target whose table this is. Only for tables that a LogTarget filled.
  static LogTarget* FromTable(LogTargetTable* table) noexcept;

 protected:
  // Points the table's log entry at Write. A concrete target calls it at the end of its
  // constructor; until then the entry writes nothing, so no call reaches a half-built object.
  void EnableWriting() noexcept;
  platform::RecursiveMutex& OwnLock() const noexcept { return lock_; }
  // The record as one line in this target's line format; takes the target's lock.
  std::size_t FormatLine(char* buffer, std::size_t size, const LogRecord& record) const;

 private:
  friend void ConfigureTarget(LogTarget& target, const LogTargetSettings& settings);

  // The table first, so that a table's address is the slot's address.
  struct Slot {
    LogTargetTable table;
    LogTarget* owner;
  };

  Slot slot_;
  mutable platform::RecursiveMutex lock_;
  bool registered_ = false;   // guarded by the manager's lock
  int32_t level_ = kLogWarn;  // guarded by lock_, as are the masks and the format
  uint64_t includeMask_ = 0;
  uint64_t excludeMask_ = 0;
  std::string lineFormat_;
};

// Under the manager's and then the target's lock: unregisters the target, takes the line
// format, registers it again (at the end of the manager's list), then applies level and
// categories through the table, so the include mask loses the exclude bits.
void ConfigureTarget(LogTarget& target, const LogTargetSettings& settings);

}  // namespace vyn::diagnostics
