// The log entry: filtering, formatting of the message, and the hand-over to the manager.
#include "diagnostics/Log.h"

#include "diagnostics/FormatText.h"
#include "diagnostics/LogManager.h"
#include "diagnostics/LogTime.h"

namespace vyn::diagnostics {

void LogV(int32_t level, uint64_t categories, const char* format, va_list args) noexcept {
  if (format == nullptr) return;
  // Filtering and dispatch happen under one hold of the lock, so that settings read by the
  // filter are the ones in force while the targets write.
  platform::RecursiveMutexGuard guard(LogManagerMutex());
  if (!LogManagerAccepts(level, categories)) return;
  char message[kLogMessageSize];
  // A message that does not fit comes back cut and terminated; it is logged as it is.
  PrintfToBuffer(message, sizeof message, format, args);
  const LogRecord record{GetLocalTimeParts(), level, static_cast<uint32_t>(categories),
                         static_cast<uint32_t>(categories >> 32), message};
  DispatchLogRecord(record);
}

void LogPrintf(int32_t level, uint64_t categories, const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  LogV(level, categories, format, args);
  va_end(args);
}

}  // namespace vyn::diagnostics
