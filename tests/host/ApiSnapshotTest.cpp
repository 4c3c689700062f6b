// Copying a plugin's API description out of its packed tables: chains walked through "next",
// records at any address, and disagreements reported rather than trusted.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/ApiSnapshot.h"

namespace vyn::host {
namespace {

TEST(ApiSnapshotWalk, CopiesDescriptorsFromUnalignedPackedArrays) {
  // Two descriptors back to back at an odd address, as a packed table lays them out.
  std::vector<unsigned char> block(1 + 2 * sizeof(EndpointDescriptor));
  auto* descriptors = reinterpret_cast<EndpointDescriptor*>(block.data() + 1);
  int contexts[2] = {};
  HostArgumentRecord arguments[2] = {};
  arguments[0] = HostArgumentRecord{&arguments[1], "a", "", 9, 0, "", 0};
  arguments[1] = HostArgumentRecord{nullptr, "b", "", 15, 17, "Thing", 1};
  ArgumentLocationRecord locations[2] = {{&locations[1], 1}, {nullptr, 5}};
  EndpointDescriptor fill[2] = {};
  fill[0].function.next = &descriptors[1];
  fill[0].function.name = "First";
  fill[0].function.endpointContext = &contexts[0];
  fill[0].function.arguments = arguments;
  fill[0].function.argumentCount = 2;
  fill[0].argumentLocations = locations;
  fill[0].pathTemplate = "/a";
  fill[0].methodCode = 2;
  fill[1].function.name = "Second";
  fill[1].function.endpointContext = &contexts[1];
  fill[1].pathTemplate = "/b/{id}";
  fill[1].methodCode = 8;
  fill[1].customMethod = "PURGE";
  std::memcpy(descriptors, fill, sizeof fill);
  ApiDescription api{};
  api.endpoints = descriptors;
  api.endpointCount = 2;

  const ApiSnapshot snapshot = SnapshotApi(api);
  ASSERT_EQ(snapshot.endpoints.size(), 2u);
  EXPECT_TRUE(snapshot.warnings.empty());
  const EndpointInfo& first = snapshot.endpoints[0];
  EXPECT_EQ(first.function, "First");
  EXPECT_EQ(first.endpointContext, &contexts[0]);
  ASSERT_EQ(first.arguments.size(), 2u);
  EXPECT_EQ(first.arguments[0].location, 1u);
  EXPECT_EQ(first.arguments[1].location, 5u);
  EXPECT_EQ(TypeText(first.arguments[1].type), "vector<Thing>");
  EXPECT_TRUE(first.arguments[1].optional);
  EXPECT_EQ(snapshot.endpoints[1].customMethod, "PURGE");
  EXPECT_EQ(snapshot.endpoints[1].endpointContext, &contexts[1]);
}

TEST(ApiSnapshotWalk, ReportsCountsThatDisagreeAndCutsLoops) {
  HostEventRecord events[2] = {};
  events[0] = HostEventRecord{&events[1], "A", "", "", "", nullptr, 0};
  events[1] = HostEventRecord{nullptr, "B", "", "", "", nullptr, 0};
  HostTypeRecord looped{};
  looped.next = &looped;
  looped.name = "Loop";
  looped.count = 0;
  ApiDescription api{};
  api.events = events;
  api.eventCount = 3;
  api.types = &looped;
  api.typeCount = 1;

  const ApiSnapshot snapshot = SnapshotApi(api);
  EXPECT_EQ(snapshot.events.size(), 2u) << "the chain decides, not the count";
  EXPECT_EQ(snapshot.types.size(), kMaxChainLength);
  ASSERT_EQ(snapshot.warnings.size(), 2u);
  EXPECT_EQ(snapshot.warnings[0], "the type chain is longer than 10000 records; it was cut there");
  EXPECT_EQ(snapshot.warnings[1], "the event table counts 3 records but its chain holds 2");
}

TEST(ApiSnapshotTypeText, NamesKindsAndDescribedTypes) {
  struct Case {
    TypeRef type;
    const char* text;
  };
  const Case cases[] = {
      {{0, 0, ""}, ""},
      {{9, 0, ""}, "uint64"},
      {{17, 0, "VynPftPFTSurvey"}, "VynPftPFTSurvey"},
      {{16, 0, ""}, "enum"},
      {{15, 6, ""}, "vector<int32>"},
      {{19, 13, ""}, "map<object>"},
      {{15, 17, "VynPftPFTEvent"}, "vector<VynPftPFTEvent>"},
      {{42, 0, ""}, "type 42"},
  };
  for (const Case& c : cases) EXPECT_EQ(TypeText(c.type), c.text) << c.text;
}

}  // namespace
}  // namespace vyn::host
