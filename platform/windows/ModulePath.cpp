// The executable's path as the loader reports it for the process's own module.
#include "platform/ModulePath.h"

#include <cstdint>
#include <cstring>

#include "platform/windows/SystemHeaders.h"

namespace vyn::platform {

bool ExecutablePath(char* buffer, std::size_t size) noexcept {
  if (buffer == nullptr || size == 0) return false;
  const DWORD room = size > UINT32_MAX ? UINT32_MAX : static_cast<DWORD>(size);
  const DWORD length = GetModuleFileNameA(nullptr, buffer, room);
  // A path that fills the buffer was cut (and older systems leave it unterminated).
  if (length == 0 || length >= room) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

const char* PathFileName(const char* path) noexcept {
  const char* separator = std::strrchr(path, '\\');
  return separator != nullptr ? separator + 1 : path;
}

}  // namespace vyn::platform
