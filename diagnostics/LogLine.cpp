// Expansion of line formats into log lines.
#include "diagnostics/LogLine.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "diagnostics/FormatText.h"
#include "diagnostics/LogCategories.h"
#include "diagnostics/LogLevel.h"
#include "diagnostics/LogManager.h"
#include "diagnostics/LogTime.h"
#include "platform/Thread.h"

namespace vyn::diagnostics {
namespace {

// Appends pieces to a buffer whose last `reserve` bytes are kept back; never overruns.
class LineWriter {
 public:
  LineWriter(char* buffer, std::size_t size, std::size_t reserve)
      : buffer_(buffer), limit_(size > reserve ? size - reserve : 0) {}

  std::size_t length() const { return length_; }

  void Char(char c) {
    if (length_ + 1 < Room()) buffer_[length_++] = c;
  }

  void Text(const char* text) {
    if (text == nullptr) return;
    const std::size_t take = std::min(std::strlen(text), Room() - length_ - 1);
    std::memcpy(buffer_ + length_, text, take);
    length_ += take;
  }

  // Pieces that need printf: written in place, cut to the space left.
  template <typename... Args>
  void Printf(const char* format, Args... args) {
    const int written = BufferPrintf(buffer_ + length_, Room() - length_, format, args...);
    length_ += written >= 0 ? static_cast<std::size_t>(written) : std::strlen(buffer_ + length_);
  }

  // For writers that fill the space themselves and report their length.
  char* Cursor() { return buffer_ + length_; }
  std::size_t Left() const { return Room() - length_; }
  void Advance(std::size_t count) { length_ += count; }

 private:
  // Bytes usable for text plus one for the terminator.
  std::size_t Room() const { return limit_ + 1; }

  char* buffer_;
  std::size_t limit_;  // text never grows past this many bytes
  std::size_t length_ = 0;
};

}  // namespace

std::size_t FormatLogLine(char* buffer, std::size_t size, const char* lineFormat,
                          const LogRecord& record) noexcept {
  if (buffer == nullptr || size == 0) return 0;
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  // Two bytes stay free for the line feed and the terminator.
  LineWriter out(buffer, size, 2);
  for (const char* c = lineFormat != nullptr ? lineFormat : ""; *c != '\0'; ++c) {
    if (*c != '#') {
      out.Char(*c);
      continue;
    }
    const char code = *++c;
    if (code == '\0') break;
    switch (code) {
      case 'D': {
        char stamp[32];
        FormatTimestamp(stamp, sizeof stamp, record.time);
        out.Text(stamp);
        break;
      }
      case 'E':
        out.Text(ExecutableName());
        break;
      case 'G':
        out.Advance(CategoriesToText(out.Cursor(), out.Left(), record.Categories()));
        break;
      case 'H': {
        // Narrowed to float as the line has always shown it; the milliseconds go through 64
        // bits so that a long-running process cannot overflow the conversion.
        const float seconds = static_cast<float>(ElapsedSeconds());
        const auto whole = static_cast<long long>(seconds);
        const auto millis = static_cast<long long>(static_cast<double>(seconds) * 1000.0) % 1000;
        out.Printf("%06lld.%03lld", whole, millis);
        break;
      }
      case 'L':
        out.Text(LevelName(record.level));
        break;
      case 'M':
        out.Text(record.message);
        break;
      case 'T':
        out.Printf("%08X", static_cast<unsigned>(platform::CurrentThreadId()));
        break;
      default:
        out.Char(code);
        break;
    }
  }
  std::size_t length = out.length();
  if (length == 0 || buffer[length - 1] != '\n') buffer[length++] = '\n';
  buffer[length] = '\0';
  return length;
}

}  // namespace vyn::diagnostics
