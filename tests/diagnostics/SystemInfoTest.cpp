// Version naming, edition and architecture words, and the POSIX description.
#include <gtest/gtest.h>

#include "diagnostics/SystemInfo.h"

namespace vyn::diagnostics {
namespace {

constexpr uint8_t kWs = kProductWorkstation, kServer = 3;

// The four texts, "|" between them, after "refused, " when there is no description.
template <class Facts>
std::string Described(const Facts& facts, bool (*describe)(const Facts&, OsDescription&)) {
  OsDescription o{"stale", "stale", "stale", "stale"};
  const std::string refused = describe(facts, o) ? "" : "refused, ";
  return refused + o.platform + "|" + o.version + "|" + o.servicePack + "|" +
         o.editionAndArchitecture;
}

TEST(SystemInfo, NamesWindowsVersionsByTheirFacts) {
  const std::string a126(126, 'a');
  // Platform, major, minor, type, suite mask, architecture, service pack, R2 metric, product.
  const std::pair<WindowsVersionFacts, std::string> cases[] = {
      {{2, 10, 0, kWs, 0, 9, "", 0, 48}, "Windows|10||Professional, x64"},
      {{2, 6, 1, kWs, 0, 0, "SP1", 0, 1}, "Windows|7|SP1|Ultimate, x86"},
      {{2, 6, 4, kWs, 0, 12, "", 0, 0},
       "Windows|<Unknown Version 6.4>||An unknown product, unknown"},
      {{2, 10, 1, kServer, 0, 5, "", 0, 101}, "Windows|10.1 Server||Home, ARM"},
      {{2, 5, 2, kServer, 0x4082, 9, "", 1, {}}, "Windows|Server 2003 R2||Compute Cluster, x64"},
      {{2, 5, 2, kServer, 0, 6, "", 0, {}}, "Windows|Server 2003||Standard, Itanium"},
      {{2, 5, 2, kServer, 0x2, 0, "", 0, {}}, "Windows|Server 2003||Enterprise, x86"},
      {{2, 5, 2, kServer, 0x82, 0, "", 0, {}}, "Windows|Server 2003||Datacenter, x86"},
      {{2, 5, 2, kWs, 0, 0, "", 0, {}}, "Windows|Server 2003||, x86"},
      {{2, 5, 2, kWs, 0, 9, "", 0, {}}, "Windows|XP||Professional, x64"},
      {{2, 5, 1, kWs, 0x200, 9, "", 0, 1}, "Windows|XP||Home, x64"},
      {{2, 5, 0, kWs, 0x80, 9, "", 0, {}}, "Windows|2000||Professional, x64"},
      {{2, 5, 0, kServer, 0x2, 0, "", 0, {}}, "Windows|2000||Advanced Server, x86"},
      // The service pack is kept to 127 bytes, without splitting a character.
      {{2, 6, 0, kWs, 0, 9, a126 + "\xC3\xA9-", 0, {}}, "Windows|Vista|" + a126 + "|, x64"},
      {{2, 6, 0, kWs, 0, 9, "a" + a126 + "\xC3\xA9", 0, {}}, "Windows|Vista|a" + a126 + "|, x64"},
      {{1, 10, 0, kWs, 0, 9, "", 0, {}}, "refused, |||"},
  };
  for (const auto& [facts, text] : cases) EXPECT_EQ(Described(facts, DescribeWindowsVersion), text);
}

TEST(SystemInfo, DescribesPosixSystemsFromUnameAndOsRelease) {
  const std::string release =
      "# NAME=Wrong\n  NAME=\"Debian \\\"GNU\\\" \\\\ $\" \t\r\nVERSION_ID=11\nVERSION_ID='12'x'\n";
  const std::pair<PosixSystemFacts, std::string> cases[] = {
      {{"Linux", "6.1.0", "x86_64", release}, "Linux|12|6.1.0|Debian \"GNU\" \\ $, x64"},
      {{"Linux", "6.7", "aarch64", "NAME=\"Arch"}, "Linux|6.7||Arch, ARM"},
      {{"Linux", "5.10", "riscv64", "NAME"}, "Linux|5.10||Linux, unknown"},
      {{"BSD", "1", "ia64", ""}, "BSD|1||BSD, Itanium"},
      {{}, "refused, |||"},
  };
  for (const auto& [facts, text] : cases) EXPECT_EQ(Described(facts, DescribePosixSystem), text);
  EXPECT_EQ(OsReleaseValue("ID=x \t \r\n", "ID"), "x") << "trailing blanks are not part of a value";
  EXPECT_EQ(OsReleaseValue("ID=\"x\\\nNAME=y", "ID"), "x\\") << "a backslash that ends the line";
  for (const char* machine : {"i386", "i586", "i686", "x86"})
    EXPECT_EQ(ArchitectureFromMachine(machine), kArchitectureX86) << machine;
}

}  // namespace
}  // namespace vyn::diagnostics
