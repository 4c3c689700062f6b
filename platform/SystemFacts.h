// What the running operating system reports about itself, as raw facts. Each platform fills the
// record of its own kind and refuses the other, so the caller tries both and never needs to know
// where it runs; the naming rules that turn facts into a description live above.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vyn::platform {

// Processor architecture codes of the native system information.
inline constexpr uint32_t kArchitectureX86 = 0;
inline constexpr uint32_t kArchitectureArm = 5;
inline constexpr uint32_t kArchitectureItanium = 6;
inline constexpr uint32_t kArchitectureX64 = 9;
inline constexpr uint32_t kArchitectureUnknown = 0xFFFF;

// The Windows version calls, read in their documented order: the ordinary version call, then
// the unrestricted one where it exists, native system information, product information and the
// R2 system metric.
struct WindowsSystemFacts {
  uint32_t platformId = 0;
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint8_t productType = 0;
  uint16_t suiteMask = 0;
  uint32_t architecture = kArchitectureUnknown;
  std::string servicePack;  // the ordinary call's text, in the system's code page
  // The unrestricted call succeeded: its numbers are the ones above, and its service-pack text
  // (UTF-16, NUL-terminated) replaces the ordinary one.
  bool unrestricted = false;
  std::u16string wideServicePack;
  int serverR2Metric = 0;
  std::optional<uint32_t> productInfo;  // none when the call is missing or the major is below 6
};

// False when this is not Windows or the ordinary version call fails.
bool ReadWindowsSystemFacts(WindowsSystemFacts& out);

// What a POSIX system reports: uname's fields and the text of its os-release file.
struct PosixSystemFacts {
  std::string systemName;  // uname sysname, e.g. "Linux"
  std::string release;     // uname release, the kernel version
  std::string machine;     // uname machine, e.g. "x86_64"
  std::string osRelease;   // the os-release file's text; empty when none could be read
};

// False when this is not a POSIX system or uname fails.
bool ReadPosixSystemFacts(PosixSystemFacts& out);

}  // namespace vyn::platform
