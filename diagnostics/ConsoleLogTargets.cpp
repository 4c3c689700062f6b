// The built-in console targets: each formats the line, then writes it under its own lock.
#include "diagnostics/ConsoleLogTargets.h"

#include <cstdio>

#include "diagnostics/LogCategories.h"
#include "platform/DebugOutput.h"

namespace vyn::diagnostics {
namespace {

using platform::RecursiveMutexGuard;

constexpr const char* kConsoleLineFormat = "#E(#T): #L| #M";

void ApplySettings(LogTargetTable* table, uint64_t include, uint64_t exclude) {
  table->setLevel(table, kLogWarn);
  table->setCategories(table, include, exclude);
}

}  // namespace

const char* BaseConsoleLogTarget::GetName() const { return "BaseConsoleLogTarget"; }

StdErrLogTarget::StdErrLogTarget() : BaseConsoleLogTarget(kConsoleLineFormat) {
  ApplySettings(Table(), kCategoryDbg, kCategoryGen);
  EnableWriting();
}

StdErrLogTarget::~StdErrLogTarget() { Detach(); }

const char* StdErrLogTarget::GetName() const { return "StdErrLogTarget"; }

bool StdErrLogTarget::Write(const LogRecord& record) {
  return WriteLine(record, [](const char* line) { std::fputs(line, stderr); });
}

void StdErrLogTarget::Flush() {
  RecursiveMutexGuard guard(OwnLock());
  std::fflush(stderr);
}

StdOutLogTarget::StdOutLogTarget() : BaseConsoleLogTarget("#M") {
  ApplySettings(Table(), kCategoryGen, kCategoryDbg);
  EnableWriting();
}

StdOutLogTarget::~StdOutLogTarget() { Detach(); }

const char* StdOutLogTarget::GetName() const { return "StdOutLogTarget"; }

bool StdOutLogTarget::Write(const LogRecord& record) {
  return WriteLine(record, [this](const char* line) {
    std::fputs(line, stdout);
    if (flushAfterEachLine_) std::fflush(stdout);
  });
}

void StdOutLogTarget::Flush() {
  RecursiveMutexGuard guard(OwnLock());
  std::fflush(stdout);
}

void StdOutLogTarget::SetFlushAfterEachLine(bool flush) {
  RecursiveMutexGuard guard(OwnLock());
  flushAfterEachLine_ = flush;
}

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget() : BaseConsoleLogTarget(kConsoleLineFormat) {
  ApplySettings(Table(), kCategoryDbg, 0);
  EnableWriting();
}

DebuggerConsoleLogTarget::~DebuggerConsoleLogTarget() { Detach(); }

const char* DebuggerConsoleLogTarget::GetName() const { return "DebuggerConsoleLogTarget"; }

bool DebuggerConsoleLogTarget::Write(const LogRecord& record) {
  return WriteLine(record, [](const char* line) { platform::WriteDebugOutput(line); });
}

void DebuggerConsoleLogTarget::Flush() {}

}  // namespace vyn::diagnostics
