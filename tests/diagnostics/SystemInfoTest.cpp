// Version naming, edition and architecture words, the POSIX description, and the running system.
#include "diagnostics/SystemInfo.h"

#include <string>

#include <gtest/gtest.h>

namespace vyn::diagnostics {
namespace {

constexpr uint8_t kServer = 3;

WindowsVersionFacts Nt(uint32_t major, uint32_t minor, uint8_t productType,
                       uint32_t architecture = kArchitectureX64) {
  WindowsVersionFacts facts;
  facts.platformId = kPlatformNt;
  facts.major = major;
  facts.minor = minor;
  facts.productType = productType;
  facts.architecture = architecture;
  return facts;
}

WindowsVersionFacts WithProductInfo(WindowsVersionFacts facts, uint32_t productInfo) {
  facts.productInfo = productInfo;
  return facts;
}

WindowsVersionFacts WithSuite(WindowsVersionFacts facts, uint16_t suiteMask, int r2 = 0) {
  facts.suiteMask = suiteMask;
  facts.serverR2Metric = r2;
  return facts;
}

WindowsVersionFacts WithServicePack(WindowsVersionFacts facts, std::string servicePack) {
  facts.servicePack = std::move(servicePack);
  return facts;
}

TEST(WindowsVersionNaming, FourTexts) {
  struct Case {
    const char* desc;
    WindowsVersionFacts facts;
    const char* version;
    const char* servicePack;
    const char* edition;
  };
  const Case cases[] = {
      {"10.0 workstation, Professional, x64", WithProductInfo(Nt(10, 0, kProductWorkstation), 48),
       "10", "", "Professional, x64"},
      {"6.1 workstation with a service pack, Ultimate, x86",
       WithServicePack(WithProductInfo(Nt(6, 1, kProductWorkstation, kArchitectureX86), 1),
                       "Service Pack 1"),
       "7", "Service Pack 1", "Ultimate, x86"},
      {"6.0 server keeps its trailing blank", WithProductInfo(Nt(6, 0, kServer), 7), "Server 2008 ",
       "", "Standard, x64"},
      {"6.0 workstation", WithProductInfo(Nt(6, 0, kProductWorkstation), 3), "Vista", "",
       "Home Premium, x64"},
      {"6.1 server", WithProductInfo(Nt(6, 1, kServer), 8), "Server 2008 R2", "",
       "Datacenter, x64"},
      {"6.2 workstation", Nt(6, 2, kProductWorkstation), "8", "", ", x64"},
      {"6.2 domain controller is a server", Nt(6, 2, 2), "Server 2012", "", ", x64"},
      {"6.3 workstation", Nt(6, 3, kProductWorkstation), "8.1", "", ", x64"},
      {"6.3 server", Nt(6, 3, kServer), "Server 2012 R2", "", ", x64"},
      {"6.4 unknown", Nt(6, 4, kProductWorkstation), "<Unknown Version 6.4>", "", ", x64"},
      {"10.0 server", Nt(10, 0, kServer), "10 Server Technical Preview", "", ", x64"},
      {"10.1 server", Nt(10, 1, kServer), "10.1 Server", "", ", x64"},
      {"10.1 workstation", Nt(10, 1, kProductWorkstation), "10.1", "", ", x64"},
      {"major 7 names nothing but keeps the edition", WithProductInfo(Nt(7, 0, kServer), 4), "", "",
       "Enterprise, x64"},
      {"edition not in the table", WithProductInfo(Nt(10, 0, kProductWorkstation), 57), "10", "",
       ", x64"},
      {"architecture code 12", WithProductInfo(Nt(10, 0, kProductWorkstation, 12), 48), "10", "",
       "Professional, unknown"},
      {"ARM", WithProductInfo(Nt(10, 0, kProductWorkstation, kArchitectureArm), 101), "10", "",
       "Home, ARM"},
      {"Itanium", Nt(6, 1, kServer, kArchitectureItanium), "Server 2008 R2", "", ", Itanium"},
      // Major 5: suite mask and the R2 metric decide.
      {"5.2 R2 metric wins over suites", WithSuite(Nt(5, 2, kServer), 0x2000 | 0x80, 1),
       "Server 2003 R2", "", "Datacenter, x64"},
      {"5.2 storage server", WithSuite(Nt(5, 2, kServer), 0x2000), "Storage Server 2003", "",
       "Standard, x64"},
      {"5.2 home server", WithSuite(Nt(5, 2, kServer), 0x8000 | 0x2), "Home Server", "",
       "Enterprise, x64"},
      {"5.2 x64 workstation is XP", Nt(5, 2, kProductWorkstation), "XP", "", "Professional, x64"},
      {"5.2 x86 workstation has no edition", Nt(5, 2, kProductWorkstation, kArchitectureX86),
       "Server 2003", "", ", x86"},
      {"5.2 compute cluster first", WithSuite(Nt(5, 2, kServer), 0x4000 | 0x80 | 0x2),
       "Server 2003", "", "Compute Cluster, x64"},
      {"5.2 datacenter before enterprise", WithSuite(Nt(5, 2, kServer), 0x80 | 0x2 | 0x400),
       "Server 2003", "", "Datacenter, x64"},
      {"5.2 enterprise before web", WithSuite(Nt(5, 2, kServer), 0x2 | 0x400), "Server 2003", "",
       "Enterprise, x64"},
      {"5.2 web", WithSuite(Nt(5, 2, kServer), 0x400), "Server 2003", "", "Web, x64"},
      {"5.1 home", WithSuite(Nt(5, 1, kProductWorkstation), 0x200), "XP", "", "Home, x64"},
      {"5.1 professional", Nt(5, 1, kProductWorkstation, kArchitectureX86), "XP", "",
       "Professional, x86"},
      {"5.0 workstation ignores suites", WithSuite(Nt(5, 0, kProductWorkstation), 0x80), "2000", "",
       "Professional, x64"},
      {"5.0 datacenter", WithSuite(Nt(5, 0, kServer), 0x80 | 0x2), "2000", "",
       "Datacenter Server, x64"},
      {"5.0 advanced", WithSuite(Nt(5, 0, kServer), 0x2), "2000", "", "Advanced Server, x64"},
      {"5.0 server", Nt(5, 0, kServer), "2000", "", "Server, x64"},
      {"5.3 unknown", Nt(5, 3, kServer), "<Unknown Version 5.3>", "", ", x64"},
      {"major 5 ignores product information", WithProductInfo(Nt(5, 1, kProductWorkstation), 1),
       "XP", "", "Professional, x64"},
  };
  for (const Case& c : cases) {
    OsDescription out;
    ASSERT_TRUE(DescribeWindowsVersion(c.facts, out)) << c.desc;
    EXPECT_EQ(out.platform, "Windows") << c.desc;
    EXPECT_EQ(out.version, c.version) << c.desc;
    EXPECT_EQ(out.servicePack, c.servicePack) << c.desc;
    EXPECT_EQ(out.editionAndArchitecture, c.edition) << c.desc;
  }
}

TEST(WindowsVersionNaming, RefusesOldOrForeignPlatforms) {
  WindowsVersionFacts notNt = Nt(10, 0, kProductWorkstation);
  notNt.platformId = 1;
  for (const WindowsVersionFacts& facts : {Nt(4, 0, kProductWorkstation), notNt}) {
    OsDescription out{"stale", "stale", "stale", "stale"};
    EXPECT_FALSE(DescribeWindowsVersion(facts, out));
    EXPECT_TRUE(out.platform.empty() && out.version.empty() && out.servicePack.empty() &&
                out.editionAndArchitecture.empty());
  }
}

TEST(WindowsVersionNaming, ServicePackKeptTo127BytesOnCharacterBoundary) {
  OsDescription out;
  const std::string ascii(200, 's');
  ASSERT_TRUE(DescribeWindowsVersion(WithServicePack(Nt(6, 1, 1), ascii), out));
  EXPECT_EQ(out.servicePack, ascii.substr(0, 127));

  // A two-byte character across the limit goes as a whole.
  const std::string split = std::string(126, 'a') + "\xC3\xA9" + "tail";
  ASSERT_TRUE(DescribeWindowsVersion(WithServicePack(Nt(6, 1, 1), split), out));
  EXPECT_EQ(out.servicePack, std::string(126, 'a'));

  const std::string exact = std::string(125, 'a') + "\xC3\xA9";
  ASSERT_TRUE(DescribeWindowsVersion(WithServicePack(Nt(6, 1, 1), exact + "x"), out));
  EXPECT_EQ(out.servicePack, exact);
}

TEST(EditionNameTable, ListedCodesGapsAndEnd) {
  struct Case {
    uint32_t code;
    const char* name;
  };
  const Case cases[] = {
      {0, "An unknown product"},
      {1, "Ultimate"},
      {10, "Enterprise"},
      {48, "Professional"},
      {54, "Server For SB Solutions EM"},
      {55, "Server For SB Solutions EM"},
      {56, "Windows MultiPoint Server"},
      {57, ""},
      {58, ""},
      {65, ""},
      {73, ""},
      {97, ""},
      {101, "Home"},
      {121, "Education"},
      {132, ""},
      {133, "Mobile Enterprise"},
      {134, ""},
      {0xFFFFFFFFu, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(EditionName(c.code), c.name) << "code " << c.code;
}

TEST(EditionNameTable, EveryListedCodeHasAName) {
  int named = 0;
  for (uint32_t code = 0; code <= 140; ++code) named += EditionName(code).empty() ? 0 : 1;
  EXPECT_EQ(named, 86);  // 0..56, 59..64, 66..72 and 16 scattered codes
}

TEST(ArchitectureWords, ByCodeAndByMachine) {
  EXPECT_EQ(ArchitectureWord(9), "x64");
  EXPECT_EQ(ArchitectureWord(0), "x86");
  EXPECT_EQ(ArchitectureWord(5), "ARM");
  EXPECT_EQ(ArchitectureWord(6), "Itanium");
  EXPECT_EQ(ArchitectureWord(12), "unknown");
  EXPECT_EQ(ArchitectureWord(kArchitectureUnknown), "unknown");

  struct Case {
    const char* machine;
    const char* word;
  };
  const Case cases[] = {
      {"x86_64", "x64"},      {"i386", "x86"},    {"i686", "x86"},
      {"armv7l", "ARM"},      {"aarch64", "ARM"}, {"ia64", "Itanium"},
      {"riscv64", "unknown"}, {"", "unknown"},    {"X86_64", "unknown"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ArchitectureWord(ArchitectureFromMachine(c.machine)), c.word) << c.machine;
  }
}

TEST(OsReleaseParsing, QuotesCommentsAndLastAssignment) {
  const std::string text =
      "# comment NAME=\"Wrong\"\n"
      "NAME=\"Debian GNU/Linux\"\r\n"
      "PRETTY_NAME='It''s'\n"
      "VERSION_ID=\"12\"\n"
      "ID=debian\n"
      "ESCAPED=\"say \\\"hi\\\" \\\\ $\"\n"
      "ID=override\n"
      "UNTERMINATED=\"abc\n"
      "NOVALUE\n"
      "EMPTY=";
  EXPECT_EQ(OsReleaseValue(text, "NAME"), "Debian GNU/Linux");
  EXPECT_EQ(OsReleaseValue(text, "VERSION_ID"), "12");
  EXPECT_EQ(OsReleaseValue(text, "ID"), "override");
  EXPECT_EQ(OsReleaseValue(text, "ESCAPED"), "say \"hi\" \\ $");
  EXPECT_EQ(OsReleaseValue(text, "PRETTY_NAME"), "It");
  EXPECT_EQ(OsReleaseValue(text, "UNTERMINATED"), "abc");
  EXPECT_EQ(OsReleaseValue(text, "EMPTY"), "");
  EXPECT_EQ(OsReleaseValue(text, "NOVALUE"), "");
  EXPECT_EQ(OsReleaseValue(text, "VERSION"), "");
  EXPECT_EQ(OsReleaseValue("", "NAME"), "");
}

TEST(PosixSystemDescription, FourTexts) {
  struct Case {
    const char* desc;
    PosixSystemFacts facts;
    OsDescription expected;
  };
  const Case cases[] = {
      {"distribution with version",
       {"Linux", "6.1.0-18-amd64", "x86_64", "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"},
       {"Linux", "12", "6.1.0-18-amd64", "Debian GNU/Linux, x64"}},
      {"rolling distribution without VERSION_ID",
       {"Linux", "6.7.4-arch1", "aarch64", "NAME=\"Arch Linux\"\n"},
       {"Linux", "6.7.4-arch1", "", "Arch Linux, ARM"}},
      {"no os-release at all",
       {"Linux", "5.10.0", "riscv64", ""},
       {"Linux", "5.10.0", "", "Linux, unknown"}},
  };
  for (const Case& c : cases) {
    OsDescription out;
    ASSERT_TRUE(DescribePosixSystem(c.facts, out)) << c.desc;
    EXPECT_EQ(out.platform, c.expected.platform) << c.desc;
    EXPECT_EQ(out.version, c.expected.version) << c.desc;
    EXPECT_EQ(out.servicePack, c.expected.servicePack) << c.desc;
    EXPECT_EQ(out.editionAndArchitecture, c.expected.editionAndArchitecture) << c.desc;
  }
  OsDescription out{"stale", "stale", "stale", "stale"};
  EXPECT_FALSE(DescribePosixSystem(PosixSystemFacts{}, out));
  EXPECT_TRUE(out.platform.empty() && out.editionAndArchitecture.empty());
}

TEST(RunningSystemDescription, DescribesThisMachine) {
  OsDescription out;
  ASSERT_TRUE(GetOsDescription(out));
  EXPECT_FALSE(out.platform.empty());
  EXPECT_FALSE(out.version.empty());
  const std::string& edition = out.editionAndArchitecture;
  const std::size_t comma = edition.rfind(", ");
  ASSERT_NE(comma, std::string::npos) << edition;
  const std::string word = edition.substr(comma + 2);
  EXPECT_TRUE(word == "x64" || word == "x86" || word == "ARM" || word == "Itanium" ||
              word == "unknown")
      << edition;
}

}  // namespace
}  // namespace vyn::diagnostics
