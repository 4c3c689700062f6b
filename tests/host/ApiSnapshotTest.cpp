// Copying a plugin's API description out of its packed tables (the describe command reads a
// whole one): disagreements reported rather than trusted, and the texts of type references.
#include <gtest/gtest.h>

#include <vector>

#include "host/ApiSnapshot.h"

namespace vyn::host {
namespace {

TEST(ApiSnapshotWalk, ReportsCountsThatDisagreeAndCutsLoops) {
  const HostEventRecord events[2] = {{&events[1], "A", "", "", "", nullptr, 0},
                                     {nullptr, "B", "", "", "", nullptr, 0}};
  HostTypeRecord looped{};
  looped.next = &looped;
  looped.name = "Loop";
  const ApiDescription api{nullptr, 0, &looped, 1, events, 3};
  const ApiSnapshot snapshot = SnapshotApi(api);
  EXPECT_EQ(snapshot.events.size(), 2u) << "the chain decides, not the count";
  EXPECT_EQ(snapshot.types.size(), kMaxChainLength);
  EXPECT_EQ(snapshot.warnings, (std::vector<std::string>{
                                   "the type chain is longer than 10000 records; it was cut there",
                                   "the event table counts 3 records but its chain holds 2"}));
}

TEST(ApiSnapshotTypeText, NamesKindsAndDescribedTypes) {
  const std::pair<TypeRef, const char*> cases[] = {
      {{0, 0, ""}, ""},
      {{9, 0, ""}, "uint64"},
      {{17, 0, "VynPftPFTSurvey"}, "VynPftPFTSurvey"},
      {{16, 0, ""}, "enum"},
      {{15, 6, ""}, "vector<int32>"},
      {{19, 13, ""}, "map<object>"},
      {{42, 0, ""}, "type 42"},
  };
  for (const auto& [type, text] : cases) EXPECT_EQ(TypeText(type), text) << text;
}

}  // namespace
}  // namespace vyn::host
