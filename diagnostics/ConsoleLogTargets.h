// The built-in targets: standard error, standard output and the debugger console. The log
// manager owns one of each; standard error and the debugger console are registered when it is
// created, standard output is not.
#pragma once

#include "diagnostics/LogTarget.h"

namespace vyn::diagnostics {

// Log lines are formatted into a stack buffer of this size; a longer line is cut.
inline constexpr std::size_t kLogLineSize = 4096;

class BaseConsoleLogTarget : public LogTarget {
 public:
  using LogTarget::LogTarget;
  const char* GetName() const override;
  virtual void Flush() = 0;

 protected:
  // Formats the record into a stack buffer and hands the line to output, all under the
  // target's lock, so that lines of two threads never interleave.
  template <typename Output>
  bool WriteLine(const LogRecord& record, Output output) {
    platform::RecursiveMutexGuard guard(OwnLock());
    char line[kLogLineSize];
    FormatLine(line, sizeof line, record);
    output(static_cast<const char*>(line));
    return true;
  }
};

// Format "#E(#T): #L| #M", level WARN, include "DBG", exclude "GEN".
class StdErrLogTarget final : public BaseConsoleLogTarget {
 public:
  StdErrLogTarget();
  ~StdErrLogTarget() override;
  const char* GetName() const override;
  bool Write(const LogRecord& record) override;
  void Flush() override;
};

// Format "#M", level WARN, include "GEN", exclude "DBG"; flushes after each line when asked.
class StdOutLogTarget final : public BaseConsoleLogTarget {
 public:
  StdOutLogTarget();
  ~StdOutLogTarget() override;
  const char* GetName() const override;
  bool Write(const LogRecord& record) override;
  void Flush() override;
  void SetFlushAfterEachLine(bool flush);

 private:
  bool flushAfterEachLine_ = false;  // guarded by the target's lock
};

// Format "#E(#T): #L| #M", level WARN, include "DBG". Lines go to platform::WriteDebugOutput.
class DebuggerConsoleLogTarget final : public BaseConsoleLogTarget {
 public:
  DebuggerConsoleLogTarget();
  ~DebuggerConsoleLogTarget() override;
  const char* GetName() const override;
  bool Write(const LogRecord& record) override;
  void Flush() override;
};

}  // namespace vyn::diagnostics
