// The operating-system description reported to the feedback service: platform, version name,
// service pack, and edition with processor architecture. The naming rules are pure functions of
// the facts read from the system, so they can be checked on any machine; only GetOsDescription
// reads the running system, through the platform's facts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/SystemFacts.h"

namespace vyn::diagnostics {

struct OsDescription {
  std::string platform;                // "Windows" (elsewhere the kernel's name, e.g. "Linux")
  std::string version;                 // "7", "8.1", "10", "Server 2012 R2", ...; may be empty
  std::string servicePack;             // UTF-8; empty when there is none
  std::string editionAndArchitecture;  // edition name, ", ", architecture word
};

using platform::kArchitectureArm;
using platform::kArchitectureItanium;
using platform::kArchitectureUnknown;
using platform::kArchitectureX64;
using platform::kArchitectureX86;

// "x64", "x86", "ARM", "Itanium"; "unknown" for every other code.
std::string_view ArchitectureWord(uint32_t architecture);

// Edition name of a product type as the product-information call reports it; empty for codes
// the table does not list (gaps included) and for every code above 133.
std::string_view EditionName(uint32_t productType);

// What the Windows version calls report, already merged: the numbers of the unrestricted
// version call where it succeeded, else those of the ordinary one.
struct WindowsVersionFacts {
  uint32_t platformId = 0;  // 2 for the NT family, the only one described
  uint32_t major = 0;
  uint32_t minor = 0;
  uint8_t productType = 0;  // 1 workstation, 2 domain controller, 3 server
  uint16_t suiteMask = 0;
  uint32_t architecture = kArchitectureUnknown;
  std::string servicePack;              // UTF-8, as converted from the system's text
  int serverR2Metric = 0;               // the SM_SERVERR2 (89) system metric
  std::optional<uint32_t> productInfo;  // product type; none when the call is unavailable
};

inline constexpr uint32_t kPlatformNt = 2;
inline constexpr uint8_t kProductWorkstation = 1;

// Applies the naming rules. Returns false, with `out` cleared, for a platform outside the NT
// family or a major version below 5. Versions the rules do not name get an empty version text.
// The service-pack text is kept to 127 bytes, cut at a character boundary so that it stays
// valid UTF-8.
bool DescribeWindowsVersion(const WindowsVersionFacts& facts, OsDescription& out);

using platform::PosixSystemFacts;

// The same four-text shape for a POSIX system:
// - platform: the kernel's name ("Linux");
// - version: the distribution's VERSION_ID, or the kernel release when there is none;
// - service pack: the kernel release when the version is the distribution's, else empty;
// - edition: the distribution's NAME (the kernel's name when there is none), ", " and the
//   architecture word of the machine.
// Returns false, with `out` cleared, when the kernel's name is empty (uname failed).
bool DescribePosixSystem(const PosixSystemFacts& facts, OsDescription& out);

// x86_64/amd64 -> x64, i386..i686/x86 -> x86, arm*/aarch64 -> ARM, ia64 -> Itanium, anything
// else kArchitectureUnknown.
uint32_t ArchitectureFromMachine(std::string_view machine);

// The value of `key` in os-release text (shell-style KEY=value lines, values optionally quoted,
// "#" comments); the last assignment wins; empty when the key is absent.
std::string OsReleaseValue(std::string_view text, std::string_view key);

// The naming rules' view of what the Windows calls read: the service pack is the unrestricted
// call's UTF-16 text converted to UTF-8 where that call succeeded, else the ordinary call's.
WindowsVersionFacts ToVersionFacts(const platform::WindowsSystemFacts& facts);

// Describes the running system; false when it cannot be determined (the texts must then not be
// used). Holds no state: every call asks the system again; safe on any thread.
bool GetOsDescription(OsDescription& out);

}  // namespace vyn::diagnostics
