// The log target base: its function table and the settings behind it.
#include "diagnostics/LogTarget.h"

#include <type_traits>

#include "diagnostics/LogLine.h"
#include "diagnostics/LogManager.h"

namespace vyn::diagnostics {
namespace {

using platform::RecursiveMutexGuard;

int32_t EntryInterfaceVersion(LogTargetTable*) { return 1; }

const char* EntryGetName(LogTargetTable* self) { return LogTarget::FromTable(self)->GetName(); }

const char* EntryGetLineFormat(LogTargetTable* self) {
  return LogTarget::FromTable(self)->GetLineFormat();
}

bool EntryLogNothing(LogTargetTable*, const LogRecord*) { return false; }

bool EntryWrite(LogTargetTable* self, const LogRecord* record) {
  return record != nullptr && LogTarget::FromTable(self)->Write(*record);
}

}  // namespace

LogTarget::LogTarget() : LogTarget(kDefaultLineFormat) {}

LogTarget::LogTarget(const char* lineFormat)
    : lineFormat_(lineFormat != nullptr ? lineFormat : "") {
  static_assert(std::is_standard_layout_v<Slot>, "a table's address must be its slot's");
  // Entries that reach the fields are lambdas here, which share the constructor's access.
  LogTargetTable& t = slot_.table;
  t.interfaceVersion = EntryInterfaceVersion;
  t.setLevel = [](LogTargetTable* self, int32_t level) {
    LogTarget* target = FromTable(self);
    RecursiveMutexGuard guard(target->lock_);
    target->level_ = level;
  };
  t.getLevel = [](LogTargetTable* self) {
    LogTarget* target = FromTable(self);
    RecursiveMutexGuard guard(target->lock_);
    return target->level_;
  };
  t.setCategories = [](LogTargetTable* self, uint64_t include, uint64_t exclude) {
    LogTarget* target = FromTable(self);
    RecursiveMutexGuard guard(target->lock_);
    target->includeMask_ = include & ~exclude;
    target->excludeMask_ = exclude;
  };
  t.getIncludeMask = [](LogTargetTable* self) {
    LogTarget* target = FromTable(self);
    RecursiveMutexGuard guard(target->lock_);
    return target->includeMask_;
  };
  t.getExcludeMask = [](LogTargetTable* self) {
    LogTarget* target = FromTable(self);
    RecursiveMutexGuard guard(target->lock_);
    return target->excludeMask_;
  };
  t.getName = EntryGetName;
  t.getLineFormat = EntryGetLineFormat;
  t.registerTarget = [](LogTargetTable* self) {
    LogTarget* target = FromTable(self);
    RecursiveMutexGuard guard(LogManagerMutex());
    if (!target->registered_) target->registered_ = AddTarget(self);
  };
  t.unregisterTarget = [](LogTargetTable* self) {
    LogTarget* target = FromTable(self);
    RecursiveMutexGuard guard(LogManagerMutex());
    if (!target->registered_) return;
    target->registered_ = false;
    RemoveTarget(self);
  };
  t.isRegistered = [](LogTargetTable* self) {
    RecursiveMutexGuard guard(LogManagerMutex());
    return FromTable(self)->registered_;
  };
  t.log = EntryLogNothing;
  slot_.owner = this;
}

LogTarget::~LogTarget() { LogTarget::Detach(); }

void LogTarget::Detach() {
  // The manager's lock first: taking only our own and then the manager's inside unregister
  // would invert the order that a dispatch holds them in, and two threads could deadlock.
  RecursiveMutexGuard managerGuard(LogManagerMutex());
  RecursiveMutexGuard guard(lock_);
  slot_.table.unregisterTarget(&slot_.table);
}

const char* LogTarget::GetName() const { return "LogTarget"; }

const char* LogTarget::GetLineFormat() const {
  RecursiveMutexGuard guard(lock_);
  return lineFormat_.c_str();
}

LogTarget* LogTarget::FromTable(LogTargetTable* table) noexcept {
  return reinterpret_cast<Slot*>(table)->owner;
}

void LogTarget::EnableWriting() noexcept { slot_.table.log = EntryWrite; }

std::size_t LogTarget::FormatLine(char* buffer, std::size_t size, const LogRecord& record) const {
  RecursiveMutexGuard guard(lock_);
  return FormatLogLine(buffer, size, lineFormat_.c_str(), record);
}

void ConfigureTarget(LogTarget& target, const LogTargetSettings& settings) {
  RecursiveMutexGuard managerGuard(LogManagerMutex());
  RecursiveMutexGuard guard(target.lock_);
  LogTargetTable* table = target.Table();
  table->unregisterTarget(table);
  target.lineFormat_ = settings.lineFormat;
  table->registerTarget(table);
  table->setLevel(table, settings.level);
  table->setCategories(table, settings.includeMask, settings.excludeMask);
}

}  // namespace vyn::diagnostics
