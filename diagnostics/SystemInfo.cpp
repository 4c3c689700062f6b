// Naming rules for the operating-system description, and the description of the running system
// from the facts the platform reads.
#include "diagnostics/SystemInfo.h"

#include <utility>

#include "diagnostics/Utf16ToUtf8.h"

namespace vyn::diagnostics {
namespace {

// The service-pack text comes from a 128-byte record field.
constexpr std::size_t kMaxServicePackBytes = 127;

// Cuts at most `limit` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

bool Has(uint16_t suiteMask, uint16_t bit) { return (suiteMask & bit) != 0; }

constexpr uint16_t kSuiteEnterprise = 0x0002;
constexpr uint16_t kSuiteDatacenter = 0x0080;
constexpr uint16_t kSuitePersonal = 0x0200;
constexpr uint16_t kSuiteBlade = 0x0400;
constexpr uint16_t kSuiteStorageServer = 0x2000;
constexpr uint16_t kSuiteComputeServer = 0x4000;
constexpr uint16_t kSuiteHomeServer = 0x8000;

void NameVersion6(const WindowsVersionFacts& facts, std::string& version) {
  const bool workstation = facts.productType == kProductWorkstation;
  switch (facts.minor) {
    // "Server 2008 " keeps its trailing blank: the service matches the text as sent.
    case 0:
      version = workstation ? "Vista" : "Server 2008 ";
      break;
    case 1:
      version = workstation ? "7" : "Server 2008 R2";
      break;
    case 2:
      version = workstation ? "8" : "Server 2012";
      break;
    case 3:
      version = workstation ? "8.1" : "Server 2012 R2";
      break;
    default:
      version = "<Unknown Version 6." + std::to_string(facts.minor) + ">";
      break;
  }
}

void NameVersion10(const WindowsVersionFacts& facts, std::string& version) {
  const bool workstation = facts.productType == kProductWorkstation;
  if (facts.minor == 0) {
    version = workstation ? "10" : "10 Server Technical Preview";
  } else {
    version = "10." + std::to_string(facts.minor) + (workstation ? "" : " Server");
  }
}

void NameVersion5(const WindowsVersionFacts& facts, std::string& version, std::string& edition) {
  const bool workstation = facts.productType == kProductWorkstation;
  const uint16_t suite = facts.suiteMask;
  switch (facts.minor) {
    case 2:
      if (facts.serverR2Metric != 0) {
        version = "Server 2003 R2";
      } else if (Has(suite, kSuiteStorageServer)) {
        version = "Storage Server 2003";
      } else if (Has(suite, kSuiteHomeServer)) {
        version = "Home Server";
      } else if (workstation && facts.architecture == kArchitectureX64) {
        version = "XP";
        edition = "Professional";
      } else {
        version = "Server 2003";
      }
      if (!workstation) {
        if (Has(suite, kSuiteComputeServer)) {
          edition = "Compute Cluster";
        } else if (Has(suite, kSuiteDatacenter)) {
          edition = "Datacenter";
        } else if (Has(suite, kSuiteEnterprise)) {
          edition = "Enterprise";
        } else if (Has(suite, kSuiteBlade)) {
          edition = "Web";
        } else {
          edition = "Standard";
        }
      }
      break;
    case 1:
      version = "XP";
      edition = Has(suite, kSuitePersonal) ? "Home" : "Professional";
      break;
    case 0:
      version = "2000";
      if (workstation) {
        edition = "Professional";
      } else if (Has(suite, kSuiteDatacenter)) {
        edition = "Datacenter Server";
      } else if (Has(suite, kSuiteEnterprise)) {
        edition = "Advanced Server";
      } else {
        edition = "Server";
      }
      break;
    default:
      version = "<Unknown Version " + std::to_string(facts.major) + "." +
                std::to_string(facts.minor) + ">";
      break;
  }
}

}  // namespace

std::string_view ArchitectureWord(uint32_t architecture) {
  switch (architecture) {
    case kArchitectureX64:
      return "x64";
    case kArchitectureX86:
      return "x86";
    case kArchitectureArm:
      return "ARM";
    case kArchitectureItanium:
      return "Itanium";
    default:
      return "unknown";
  }
}

std::string_view EditionName(uint32_t productType) {
  switch (productType) {
    case 0:
      return "An unknown product";
    case 1:
      return "Ultimate";
    case 2:
      return "Home Basic";
    case 3:
      return "Home Premium";
    case 4:
      return "Enterprise";
    case 5:
      return "Home Basic N";
    case 6:
      return "Business";
    case 7:
      return "Standard";
    case 8:
      return "Datacenter";
    case 9:
      return "Small Business Server";
    case 10:
      return "Enterprise";
    case 11:
      return "Starter";
    case 12:
      return "Datacenter Core";
    case 13:
      return "Standard Core";
    case 14:
      return "Enterprise Core";
    case 15:
      return "Enterprise for Itanium-based Systems";
    case 16:
      return "Business N";
    case 17:
      return "Web Server";
    case 18:
      return "Cluster Server";
    case 19:
      return "Windows Storage Server 2008 R2 Essentials";
    case 20:
      return "Storage Server Express";
    case 21:
      return "Storage Server Standard";
    case 22:
      return "Storage Server Workgroup";
    case 23:
      return "Storage Server Enterprise";
    case 24:
      return "Windows Server 2008 for Windows Essential Server Solutions";
    case 25:
      return "Small Business Server Premium";
    case 26:
      return "Home Premium N";
    case 27:
      return "Enterprise N";
    case 28:
      return "Ultimate N";
    case 29:
      return "Web Server (core installation)";
    case 30:
      return "Windows Essential Business Server Management Server";
    case 31:
      return "Windows Essential Business Server Security Server";
    case 32:
      return "Windows Essential Business Server Messaging Server";
    case 33:
      return "Server Foundation";
    case 34:
      return "Windows Home Server 2011";
    case 35:
      return "Windows Server 2008 without Hyper-V for Windows Essential Server Solutions";
    case 36:
      return "Server Standard without Hyper-V";
    case 37:
      return "Server Datacenter without Hyper-V (full installation)";
    case 38:
      return "Server Enterprise without Hyper-V (full installation)";
    case 39:
      return "Server Datacenter without Hyper-V (core installation)";
    case 40:
      return "Server Standard without Hyper-V (core installation)";
    case 41:
      return "Server Enterprise without Hyper-V (core installation)";
    case 42:
      return "Microsoft Hyper-V Server";
    case 43:
      return "Storage Server Express (core installation)";
    case 44:
      return "Storage Server Standard (core installation)";
    case 45:
      return "Storage Server Workgroup (core installation)";
    case 46:
      return "Storage Server Enterprise (core installation)";
    case 47:
      return "Starter N";
    case 48:
      return "Professional";
    case 49:
      return "Professional N";
    case 50:
      return "Windows Small Business Server 2011 Essentials";
    case 51:
      return "Server For SB Solutions";
    case 52:
      return "Server Solutions Premium";
    case 53:
      return "Server Solutions Premium (core installation)";
    case 54:
    case 55:
      return "Server For SB Solutions EM";
    case 56:
      return "Windows MultiPoint Server";
    case 59:
      return "Windows Essential Server Solution Management";
    case 60:
      return "Windows Essential Server Solution Additional";
    case 61:
      return "Windows Essential Server Solution Management SVC";
    case 62:
      return "Windows Essential Server Solution Additional SVC";
    case 63:
      return "Small Business Server Premium (core installation)";
    case 64:
      return "Server Hyper Core V";
    case 66:
      return "Home Starter E";
    case 67:
      return "Home Basic E";
    case 68:
      return "Home Premium E";
    case 69:
      return "Professional E";
    case 70:
      return "Enterprise E";
    case 71:
      return "Ultimate E";
    case 72:
      return "Enterprise (evaluation installation)";
    case 76:
      return "Windows MultiPoint Server Standard (full installation)";
    case 77:
      return "Windows MultiPoint Server Premium (full installation)";
    case 79:
      return "Server Standard (evaluation installation)";
    case 80:
      return "Server Datacenter (evaluation installation)";
    case 84:
      return "Enterprise N (evaluation installation)";
    case 95:
      return "Storage Server Workgroup (evaluation installation)";
    case 96:
      return "Storage Server Standard (evaluation installation)";
    case 98:
      return "Home N";
    case 99:
      return "Home China";
    case 100:
      return "Home Single Language";
    case 101:
      return "Home";
    case 103:
      return "Professional with Media Center";
    case 104:
      return "Mobile";
    case 121:
      return "Education";
    case 122:
      return "Education N";
    case 133:
      return "Mobile Enterprise";
    default:
      return {};
  }
}

bool DescribeWindowsVersion(const WindowsVersionFacts& facts, OsDescription& out) {
  out = OsDescription{};
  if (facts.platformId != kPlatformNt || facts.major < 5) return false;

  std::string version;
  std::string edition;
  if (facts.major >= 6) {
    if (facts.major == 6) {
      NameVersion6(facts, version);
    } else if (facts.major == 10) {
      NameVersion10(facts, version);
    }
    if (facts.productInfo) edition = EditionName(*facts.productInfo);
  } else {
    NameVersion5(facts, version, edition);
  }

  out.platform = "Windows";
  out.version = std::move(version);
  out.servicePack = CutUtf8(facts.servicePack, kMaxServicePackBytes);
  out.editionAndArchitecture = edition + ", " + std::string(ArchitectureWord(facts.architecture));
  return true;
}

uint32_t ArchitectureFromMachine(std::string_view machine) {
  if (machine == "x86_64" || machine == "amd64") return kArchitectureX64;
  if (machine == "i386" || machine == "i486" || machine == "i586" || machine == "i686" ||
      machine == "x86") {
    return kArchitectureX86;
  }
  if (machine.starts_with("arm") || machine.starts_with("aarch64")) return kArchitectureArm;
  if (machine == "ia64") return kArchitectureItanium;
  return kArchitectureUnknown;
}

std::string OsReleaseValue(std::string_view text, std::string_view key) {
  std::string found;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);

    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.remove_suffix(1);
    }
    const std::size_t equals = line.find('=');
    if (line.empty() || line.front() == '#' || equals == std::string_view::npos) continue;
    if (line.substr(0, equals) != key) continue;

    std::string_view raw = line.substr(equals + 1);
    std::string value;
    if (!raw.empty() && (raw.front() == '"' || raw.front() == '\'')) {
      const char quote = raw.front();
      // Inside double quotes a backslash takes the next character literally; single quotes
      // take everything literally. A missing closing quote ends the value at the line's end.
      for (std::size_t i = 1; i < raw.size() && raw[i] != quote; ++i) {
        if (quote == '"' && raw[i] == '\\' && i + 1 < raw.size()) ++i;
        value.push_back(raw[i]);
      }
    } else {
      value = std::string(raw);
    }
    found = std::move(value);
  }
  return found;
}

bool DescribePosixSystem(const PosixSystemFacts& facts, OsDescription& out) {
  out = OsDescription{};
  if (facts.systemName.empty()) return false;

  const std::string versionId = OsReleaseValue(facts.osRelease, "VERSION_ID");
  std::string name = OsReleaseValue(facts.osRelease, "NAME");
  if (name.empty()) name = facts.systemName;

  out.platform = facts.systemName;
  if (!versionId.empty()) {
    out.version = versionId;
    out.servicePack = facts.release;
  } else {
    out.version = facts.release;
  }
  out.editionAndArchitecture =
      name + ", " + std::string(ArchitectureWord(ArchitectureFromMachine(facts.machine)));
  return true;
}

WindowsVersionFacts ToVersionFacts(const platform::WindowsSystemFacts& facts) {
  WindowsVersionFacts out;
  out.platformId = facts.platformId;
  out.major = facts.major;
  out.minor = facts.minor;
  out.productType = facts.productType;
  out.suiteMask = facts.suiteMask;
  out.architecture = facts.architecture;
  out.servicePack =
      facts.unrestricted ? Utf16ToUtf8(facts.wideServicePack.c_str()) : facts.servicePack;
  out.serverR2Metric = facts.serverR2Metric;
  out.productInfo = facts.productInfo;
  return out;
}

bool GetOsDescription(OsDescription& out) {
  platform::WindowsSystemFacts windows;
  if (platform::ReadWindowsSystemFacts(windows)) {
    return DescribeWindowsVersion(ToVersionFacts(windows), out);
  }
  platform::PosixSystemFacts posix;
  if (platform::ReadPosixSystemFacts(posix)) return DescribePosixSystem(posix, out);
  out = OsDescription{};
  return false;
}

}  // namespace vyn::diagnostics
