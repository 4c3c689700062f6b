// The running POSIX system: uname and the os-release file. There are no Windows facts here.
#include "platform/SystemFacts.h"

#include <sys/utsname.h>

#include <fstream>
#include <iterator>

namespace vyn::platform {
namespace {

// os-release files are a few hundred bytes; the bound keeps a damaged one from costing much.
constexpr std::size_t kMaxOsReleaseBytes = 64 * 1024;

// The distribution's file, then the vendor default; empty when neither can be read.
std::string ReadOsRelease() {
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream file(path, std::ios::binary);
    if (!file) continue;
    std::string text;
    std::istreambuf_iterator<char> it(file);
    const std::istreambuf_iterator<char> end;
    for (; it != end && text.size() < kMaxOsReleaseBytes; ++it) text.push_back(*it);
    if (!file.bad()) return text;
  }
  return {};
}

}  // namespace

bool ReadWindowsSystemFacts(WindowsSystemFacts& out) {
  out = WindowsSystemFacts{};
  return false;
}

bool ReadPosixSystemFacts(PosixSystemFacts& out) {
  out = PosixSystemFacts{};
  utsname names{};
  if (uname(&names) != 0) return false;
  out.systemName = names.sysname;
  out.release = names.release;
  out.machine = names.machine;
  out.osRelease = ReadOsRelease();
  return true;
}

}  // namespace vyn::platform
