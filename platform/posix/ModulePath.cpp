// The executable's path from the kernel's link for the running process.
#include "platform/ModulePath.h"

#include <unistd.h>

#include <cstring>

namespace vyn::platform {

bool ExecutablePath(char* buffer, std::size_t size) noexcept {
  if (buffer == nullptr || size == 0) return false;
  buffer[0] = '\0';
  const ssize_t length = readlink("/proc/self/exe", buffer, size);
  // readlink does not terminate, and a result that fills the buffer may have been cut.
  if (length <= 0 || static_cast<std::size_t>(length) >= size) {
    buffer[0] = '\0';
    return false;
  }
  buffer[length] = '\0';
  return true;
}

const char* PathFileName(const char* path) noexcept {
  const char* separator = std::strrchr(path, '/');
  return separator != nullptr ? separator + 1 : path;
}

}  // namespace vyn::platform
