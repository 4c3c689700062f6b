// One log record as one text line, by a line format of "#" codes.
#pragma once

#include <cstddef>

#include "diagnostics/LogRecord.h"

namespace vyn::diagnostics {

// Copies lineFormat into buffer, expanding:
//   #D timestamp   #E executable name   #G category names   #H seconds since start
//   #L level name  #M message           #T thread id (eight upper-case hex digits)
//   # followed by anything else gives that character ("##" gives "#"); a lone "#" at the
//   very end gives nothing.
// Each piece is cut to the space left, keeping 2 bytes for the line end; the line then ends
// with exactly one line feed (none is added when the text already ends with one). A null or
// empty format gives just a line feed. Returns the length written; size 0 writes nothing.
std::size_t FormatLogLine(char* buffer, std::size_t size, const char* lineFormat,
                          const LogRecord& record) noexcept;

}  // namespace vyn::diagnostics
