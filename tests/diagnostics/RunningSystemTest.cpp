// The description of the system the tests run on, made from the facts the platform reads, and the
// choice between the two service-pack texts of the Windows calls.
#include <gtest/gtest.h>

#include "diagnostics/SystemInfo.h"

namespace vyn::diagnostics {
namespace {

TEST(RunningSystem, IsDescribedFromTheFactsOfItsOwnKind) {
  OsDescription described;
  ASSERT_TRUE(GetOsDescription(described));
  OsDescription expected;
  platform::WindowsSystemFacts windows;
  platform::PosixSystemFacts posix;
  if (platform::ReadWindowsSystemFacts(windows)) {
    ASSERT_TRUE(DescribeWindowsVersion(ToVersionFacts(windows), expected));
    EXPECT_EQ(described.platform, "Windows");
  } else {
    ASSERT_TRUE(platform::ReadPosixSystemFacts(posix));
    ASSERT_TRUE(DescribePosixSystem(posix, expected));
    EXPECT_EQ(described.platform, posix.systemName);
  }
  EXPECT_EQ(described.version, expected.version);
  EXPECT_EQ(described.servicePack, expected.servicePack);
  EXPECT_EQ(described.editionAndArchitecture, expected.editionAndArchitecture);
  EXPECT_NE(described.editionAndArchitecture.find(", "), std::string::npos);
}

TEST(RunningSystem, TheUnrestrictedCallsServicePackIsConvertedAndReplacesTheOrdinaryOne) {
  platform::WindowsSystemFacts facts;
  facts.platformId = 2;
  facts.major = 6;
  facts.minor = 1;
  facts.productType = 1;
  facts.suiteMask = 0x200;
  facts.architecture = 9;
  facts.serverR2Metric = 1;
  facts.productInfo = 48;
  facts.servicePack = "narrow";
  facts.wideServicePack = u"Service Pack 1 \u00e9\U0001F600";
  const WindowsVersionFacts ordinary = ToVersionFacts(facts);
  EXPECT_EQ(ordinary.servicePack, "narrow");
  EXPECT_EQ(ordinary.major * 10 + ordinary.minor, 61u);
  EXPECT_TRUE(ordinary.platformId == 2 && ordinary.productType == 1 &&
              ordinary.suiteMask == 0x200 && ordinary.architecture == 9 &&
              ordinary.serverR2Metric == 1 && ordinary.productInfo == 48u);
  facts.unrestricted = true;
  EXPECT_EQ(ToVersionFacts(facts).servicePack, "Service Pack 1 \xC3\xA9\xF0\x9F\x98\x80");
  facts.wideServicePack = u"bad \xD800";  // a high surrogate at the end: not UTF-16
  EXPECT_EQ(ToVersionFacts(facts).servicePack, "");
}

}  // namespace
}  // namespace vyn::diagnostics
