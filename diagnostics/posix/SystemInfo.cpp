// Reads the running POSIX system for GetOsDescription: uname and the os-release file.
#include "diagnostics/SystemInfo.h"

#include <sys/utsname.h>

#include <fstream>
#include <iterator>

namespace vyn::diagnostics {
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

bool GetOsDescription(OsDescription& out) {
  utsname names{};
  if (uname(&names) != 0) {
    out = OsDescription{};
    return false;
  }
  PosixSystemFacts facts;
  facts.systemName = names.sysname;
  facts.release = names.release;
  facts.machine = names.machine;
  facts.osRelease = ReadOsRelease();
  return DescribePosixSystem(facts, out);
}

}  // namespace vyn::diagnostics
