// Where the running program lives on disk.
#pragma once

#include <cstddef>

namespace vyn::platform {

// Writes the full path of the process's executable, NUL-terminated, and returns true. Returns
// false with an empty buffer when the path cannot be read or does not fit: a cut path would
// name the wrong file.
bool ExecutablePath(char* buffer, std::size_t size) noexcept;

// The file name part of a path: what follows its last separator ("/" here, "\\" on Windows), or
// the whole path when it has none.
const char* PathFileName(const char* path) noexcept;

}  // namespace vyn::platform
