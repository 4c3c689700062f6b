// Bodies built to exhaust memory, stall the plugin or slip corrupt text through, sent to the
// events endpoint through the shared library: each gets a clear answer, quickly, and leaves the
// plugin able to serve the next player and holding what it held before.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "boundary/ScriptedFeature.h"

namespace vyn::test {
namespace {

using diagnostics::FormatText;

// A MessagePack event {"action": "close", "data": <data>, "playerSurveyId": 1}.
std::string MsgPackEvent(const std::string& data) {
  return std::string("\x83\xA6" "action\xA5" "close\xA4" "data") + data +
         "\xAE" "playerSurveyId\x01";
}

constexpr char kMsgPack[] = "application/x-msgpack";
constexpr char kJson[] = "application/json";

class HostileBody : public ScriptedFeature {
 protected:
  void SetUp() override {
    ScriptedFeature::SetUp();
    SignIn();
    before = plugin().LiveBytes();
  }
  // Posts an event body, which must be answered quickly: the faults these guard against took
  // tens of seconds in an optimised build; a sanitizer build on a busy machine takes a few.
  std::string Post(const std::string& type, const std::string& body) {
    RequestBuilder request(6, "/vyn-pft/v2/events");
    const auto start = std::chrono::steady_clock::now();
    std::string outcome = Call("PostVynPftV2Events", request.Body(type, body));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took.count(), 15.0);
    return outcome;
  }
  // A normal answer is uploaded alone with whatever the log kept, empties the log and leaves the
  // plugin holding what it held before.
  void SubmitIsUploaded(std::ptrdiff_t expectedActions) {
    Answer(0, 204, "");
    EXPECT_EQ(PostEvent(R"({"playerSurveyId": 5, "action": "submit",
                            "data": [{"questionId": 1, "value": 2}]})"),
              "ok");
    const std::string actions = UploadedActions();
    EXPECT_EQ(std::count(actions.begin(), actions.end(), ','), expectedActions);
    EXPECT_EQ(plugin().LiveBytes(), before);
  }

  uint64_t before = 0;
};

TEST_F(HostileBody, CorruptTooDeepOrTooLargeBodiesAreRefusedQuicklyAndLeaveNothingBehind) {
  // Half a megabyte of answers nested as deep as bodies may nest would be a gigabyte of pretty
  // text.
  std::string nested = "[";
  for (int i = 0; i < 250; ++i) nested += std::string(990, '[') + std::string(990, ']') + ",";
  nested.back() = ']';
  // The headers of MessagePack arrays of a million and of 600,000 elements.
  const std::string million("\xDD\x00\x0F\x42\x40", 5), k600k("\xDD\x00\x09\x27\xC0", 5);
  // Peak bytes over what was alive before, in MiB. Each nil is a 24-byte value node in the
  // body's tree, the event and its value; the event's text stops at the log's bound.
  struct Case { const char* desc; std::string type, body, outcome; int actions; uint64_t peak; };
  const Case cases[] = {
      {"JSON text not UTF-8", kJson, "{\"action\": \"close\", \"data\": [\"\xFF\xFE\"]}",
       "0 Error: Invalid encoding in string. at offset 30.", 1, 128},
      {"MessagePack text not UTF-8", kMsgPack, MsgPackEvent("\x91\xA2\xFF\xFE"),
       "0 Invalid MessagePack data. String of size 2 at position 21 is not valid UTF-8.", 1, 128},
      {"YAML text not UTF-8", "application/x-yaml", "action: close\ndata: [\xFF]",
       "0 YAML parser error: invalid leading UTF-8 octet. At line: 1 col: 7", 1, 128},
      {"survey id out of range", kJson, R"({"playerSurveyId": "-1", "action": "submit"})",
       "0 Value -1 for 'playerSurveyId' of type uint64 is out of range", 1, 128},
      {"nested past the limit", kMsgPack, MsgPackEvent(std::string(100000, '\x91') + "\xC0"),
       "0 Invalid MessagePack data. Nesting deeper than 1000 levels at position 1018.", 1, 128},
      {"a million nils", kMsgPack, MsgPackEvent(million + std::string(1000000, '\xC0')),
       "500 Error serializing event.", 1, 128},
      {"answers nested deep", kJson, R"({"action": "open", "data": )" + nested + "}",
       "500 Error serializing event.", 1, 128},
      // 600,000 answers fit the log but their responses would pass the upload's bound. The
      // refused event stays among the actions, which always fit.
      {"answers too large to upload", kMsgPack,
       MsgPackEvent(k600k + std::string(600000, '\x01')), "500 Error serializing request payload.",
       2, 256},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    host.externalRequests.clear();
    EXPECT_EQ(Post(c.type, c.body), c.outcome);
    EXPECT_LE(plugin().Counter(0) - before, c.peak << 20) << "peak bytes";
    EXPECT_EQ(ServiceRequests(), 0u);
    SubmitIsUploaded(c.actions);
  }
  // Nesting within the limit is an answer like any other, and the next submit uploads it too.
  Answer(0, 500, "busy");
  EXPECT_EQ(Post(kMsgPack, MsgPackEvent(std::string(900, '\x91') + "\xC0")),
            "500 Failed to save survey results for puuid 'p-1': 500-'busy'");
  SubmitIsUploaded(2);
  // A survey id in text may be hexadecimal.
  Answer(0, 204, "");
  EXPECT_EQ(PostEvent(R"({"playerSurveyId": "0x10", "action": "submit"})"), "ok");
  EXPECT_NE(LastServiceRequest().url.find("/surveys/16/results"), std::string::npos);
}

TEST_F(HostileBody, AFullLogDropsItsOldestEventsAndSaysSoAndEachCostsAboutItsSize) {
  for (int i = 0; i < 10002; ++i) {
    ASSERT_EQ(PostEvent(FormatText(
                  R"({"playerSurveyId":1,"action":"%1","data":[{"questionId":1,"value":2}]})", i)),
              "ok");
    if (i == 1999) {
      EXPECT_LE((plugin().LiveBytes() - before) / 2000, 512u) << "bytes per stored event";
    }
  }
  const auto dropped = std::count_if(host.logs.begin(), host.logs.end(), [](const auto& line) {
    return line.level == 2 &&
           line.message.find("event log full, dropped the 1 oldest events") != std::string::npos;
  });
  EXPECT_EQ(dropped, 2);
  SubmitIsUploaded(10000);
  EXPECT_EQ(UploadedActions().substr(0, 6), "3,4,5,");
}

TEST_F(HostileBody, ABodyOfSmallAnswersPeaksNearItsSize) {
  std::string data = "[";
  for (int i = 0; i < 20000; ++i) data += FormatText(R"({"questionId":%1,"value":"a%1"},)", i);
  data.back() = ']';
  const std::string body = R"({"playerSurveyId":1,"action":"open","data":)" + data + "}";
  ASSERT_EQ(PostEvent(body), "ok");
  // The event stays in the log as the text the upload takes.
  EXPECT_LE(plugin().LiveBytes() - before, 4 * body.size());
  // The answers share one arena instead of one each; the peak is the pretty text while it is
  // written, twice over for a moment, and the body's tree.
  EXPECT_LE(plugin().Counter(0) - before, 10 * body.size());
}

}  // namespace
}  // namespace vyn::test
