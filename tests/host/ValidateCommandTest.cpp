// vyn-host validate against a plugin that keeps the host boundary's contract and against copies
// of it with one planted fault each: every fault fails its check with a clear reason, the seed
// and the input, and the run ends with the counts and exit status 1.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "HostProcess.h"

namespace vyn::test {
namespace {

std::string FaultPlugin(const std::string& fault) {
  return std::string(VYN_FAULT_PLUGIN_DIR) + "/fault-plugin-" + fault + ".so";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(ValidateCommand, PassesAPluginThatKeepsTheContractAndReportsTheSameAsJson) {
  const std::string report = WriteFile("report.json", "");
  std::string out, err;
  ASSERT_EQ(RunHost({"validate", std::string(VYN_FAKE_PLUGIN_PATH), "--strictness", "3", "--seed",
                     "5", "--json", report},
                    out, err),
            0)
      << out << err;
  const std::vector<std::string> lines = Lines(out);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.front(),
            "validating " + std::string(VYN_FAKE_PLUGIN_PATH) + " at strictness 3, seed 5");
  EXPECT_EQ(lines.back(), std::to_string(lines.size() - 2) + " passed, 0 failed");
  for (const char* check :
       {"library.exports", "library.incompatible-host", "api.json-round-trip", "lifecycle",
        "endpoint.PostFakeV1Lookup.malformed", "events.OnJsonApiEvent_vyn-login_v1_session"}) {
    EXPECT_NE(out.find(std::string("\nPASS ") + check + " ("), std::string::npos) << check;
  }
  std::ifstream in(report);
  const std::string json{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  rapidjson::Document document;
  ASSERT_FALSE(document.Parse(json.c_str()).HasParseError()) << json;
  EXPECT_EQ(document["seed"].GetUint64(), 5u);
  EXPECT_EQ(document["checks"].Size(), lines.size() - 2);
  EXPECT_EQ(document["passed"].GetUint64(), lines.size() - 2);
  EXPECT_EQ(document["failed"].GetUint64(), 0u);
}

TEST(ValidateCommand, CatchesEachPlantedFaultWithAClearReason) {
  // The line starts with `line` and holds `also`; a sanitizer build reports a crash its own way.
  struct Case {
    const char* fault;
    std::string line, also;
  };
  const Case cases[] = {
      {"second-export",
       "FAIL library.exports: the ELF64 file exports 2 names where load_vyn_pft alone belongs: ",
       "fault_second_export, load_vyn_pft in step 'read the export table'"},
      {"leak",
       "FAIL endpoint.PostFakeV1Lookup.well-formed: the 5 calls of a round leave memory behind: ",
       " bytes in 1 blocks each) in step 'compare the memory held after each round'"},
      {"crash", "FAIL endpoint.PostFakeV1Fetch.malformed: crashed",
       " in step 'malformed input 3: nested 100000 deep (application/x-msgpack)'; seed 9; input "
       "POST /fake/v1/fetch; content type application/x-msgpack; body '\\x91\\x91"},
      {"no-cleanup", "FAIL endpoint.PostFakeV1Lookup.well-formed: the reply carries ",
       " bytes in 1 blocks of the plugin's memory but has no clean-up function in step "
       "'well-formed input 1 (application/json)'; seed 9; input POST /fake/v1/lookup; content "
       "type application/json; body '{\"count\":"},
      {"undefined-type",
       "FAIL api.type-references: the field 'FakeState.colors' names the type 'FakeTint', which "
       "the description does not define in step 'resolve every type that the description names'; "
       "seed 9",
       ""},
      {"no-refusal",
       "FAIL library.incompatible-host: host 19.0.0 is incompatible, but the plugin loaded under "
       "it; seed 9",
       ""},
  };
  for (const Case& c : cases) {
    std::string out, err;
    EXPECT_EQ(
        RunHost({"validate", FaultPlugin(c.fault), "--strictness", "2", "--seed", "9"}, out, err),
        1)
        << c.fault;
    const size_t at = out.find("\n" + c.line);
    ASSERT_NE(at, std::string::npos) << c.fault << "\n" << out;
    const std::string line = out.substr(at + 1, out.find('\n', at + 1) - at - 1);
    EXPECT_NE(line.find(c.also), std::string::npos) << c.fault << "\n" << line;
    EXPECT_EQ(Lines(out).back().find(" 0 failed"), std::string::npos) << c.fault;
  }
}

TEST(ValidateCommand, ASeedReplaysTheFailingInputOfTheOneCheckNamed) {
  const std::vector<std::string> args = {"validate", FaultPlugin("crash"),
                                         "--seed",   "9",
                                         "--only",   "endpoint.PostFakeV1Fetch.malformed"};
  std::string first, second, err;
  ASSERT_EQ(RunHost(args, first, err), 1) << err;
  ASSERT_EQ(RunHost(args, second, err), 1) << err;
  EXPECT_EQ(first, second);
  const std::vector<std::string> lines = Lines(first);
  ASSERT_EQ(lines.size(), 3u) << first;
  EXPECT_NE(lines[1].find("; seed 9; input POST /fake/v1/fetch; content type "), std::string::npos)
      << lines[1];
  EXPECT_EQ(lines[2], "0 passed, 1 failed");
}

}  // namespace
}  // namespace vyn::test
