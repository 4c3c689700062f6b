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

// A MessagePack event {"action": "close", "data": <data>, "playerSurveyId": 1}.
std::string MsgPackEvent(const std::string& data) {
  return std::string("\x83\xA6" "action\xA5" "close\xA4" "data") + data +
         "\xAE" "playerSurveyId\x01";
}
// The headers of MessagePack arrays of a million and of 600,000 elements.
const std::string kMillionArray("\xDD\x00\x0F\x42\x40", 5), k600kArray("\xDD\x00\x09\x27\xC0", 5);

constexpr char kMsgPack[] = "application/x-msgpack";

class HostileBody : public ScriptedFeature {
 protected:
  void SetUp() override {
    ScriptedFeature::SetUp();
    SignIn();
    before = scripted.plugin().LiveBytes();
  }
  // Posts an event body, which must be answered quickly: the faults these guard against took
  // tens of seconds in an optimised build; a sanitizer build on a busy machine takes a few.
  std::string Post(const char* type, const std::string& body, HostResponse* response = nullptr) {
    RequestBuilder request(6, "/vyn-pft/v2/events");
    const auto start = std::chrono::steady_clock::now();
    std::string outcome = scripted.Call("PostVynPftV2Events", request.Body(type, body), response);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took.count(), 15.0);
    return outcome;
  }
  uint64_t PeakBytes() { return scripted.plugin().Counter(0); }
  // A normal answer is uploaded alone with whatever the log kept, and empties the log.
  void SubmitIsUploaded(std::ptrdiff_t expectedActions) {
    scripted.Answer(0, 204, "");
    EXPECT_EQ(scripted.PostEvent(R"({"playerSurveyId": 5, "action": "submit",
                                     "data": [{"questionId": 1, "value": 2}]})"),
              "ok");
    const std::string actions = UploadedActions();
    EXPECT_EQ(std::count(actions.begin(), actions.end(), ','), expectedActions);
  }

  uint64_t before = 0;
};

TEST_F(HostileBody, DeepMessagePackIsRefusedAndLaterAnswersStillGoOut) {
  HostResponse response;
  const std::string refused =
      Post(kMsgPack, MsgPackEvent(std::string(100000, '\x91') + "\xC0"), &response);
  EXPECT_NE(refused.find("deeper than 1000 levels"), std::string::npos) << refused;
  EXPECT_EQ(ServiceRequests(), 0u);
  response.Release();
  EXPECT_EQ(scripted.plugin().LiveBytes(), before);
  // Nesting within the limit is an answer like any other, and the next submit uploads it too.
  scripted.Answer(0, 500, "busy");
  EXPECT_EQ(Post(kMsgPack, MsgPackEvent(std::string(900, '\x91') + "\xC0")),
            "500 Failed to save survey results for puuid 'p-1': 500-'busy'");
  SubmitIsUploaded(2);
}

TEST_F(HostileBody, AMillionNilsAreRefusedQuicklyAndLeaveNothingBehind) {
  HostResponse response;
  EXPECT_EQ(Post(kMsgPack, MsgPackEvent(kMillionArray + std::string(1000000, '\xC0')),
                 &response),
            "500 Error serializing event.");
  // Each nil is a 24-byte value node in the body's tree, the event and its value; the event's
  // text stops at the log's bound.
  EXPECT_LE(PeakBytes() - before, 128u << 20);
  EXPECT_EQ(ServiceRequests(), 0u);
  response.Release();
  EXPECT_EQ(scripted.plugin().LiveBytes(), before);
  SubmitIsUploaded(1);
}

TEST_F(HostileBody, DeeplyNestedAnswersCannotInflateTheirText) {
  // Half a megabyte of answers nested as deep as bodies may nest would be a gigabyte of pretty
  // text.
  const std::string nest = std::string(990, '[') + std::string(990, ']');
  std::string data = "[";
  for (int i = 0; i < 250; ++i) data += nest + ",";
  data.back() = ']';
  HostResponse response;
  EXPECT_EQ(Post("application/json", R"({"action": "open", "data": )" + data + "}", &response),
            "500 Error serializing event.");
  response.Release();
  EXPECT_EQ(scripted.plugin().LiveBytes(), before);
}

TEST_F(HostileBody, AnAnswerTooLargeToUploadIsRefusedWithoutBlockingLaterOnes) {
  // 600,000 answers fit the log but their responses would pass the upload's bound.
  EXPECT_EQ(Post(kMsgPack, MsgPackEvent(k600kArray + std::string(600000, '\x01'))),
            "500 Error serializing request payload.");
  EXPECT_EQ(ServiceRequests(), 0u);
  // The refused event stays among the actions, which always fit.
  SubmitIsUploaded(2);
}

TEST_F(HostileBody, StoredEventsCostAboutTheirSize) {
  const std::string open =
      R"({"playerSurveyId":1,"action":"open","data":[{"questionId":1,"value":2}]})";
  ASSERT_LE(open.size(), 75u);
  constexpr int kEvents = 2000;
  for (int i = 0; i < kEvents; ++i) ASSERT_EQ(scripted.PostEvent(open), "ok");
  EXPECT_LE((scripted.plugin().LiveBytes() - before) / kEvents, 512u);
  SubmitIsUploaded(kEvents + 1);
  EXPECT_EQ(scripted.plugin().LiveBytes(), before);
}

TEST_F(HostileBody, AFullLogDropsItsOldestEventsAndSaysSo) {
  for (int i = 0; i < 10002; ++i) {
    ASSERT_EQ(scripted.PostEvent(R"({"playerSurveyId": 1, "action": "view"})"), "ok");
  }
  const auto& logs = scripted.host.logs;
  const auto dropped = std::count_if(logs.begin(), logs.end(), [](const auto& line) {
    return line.level == 2 &&
           line.message.find("event log full, dropped the 1 oldest events") != std::string::npos;
  });
  EXPECT_EQ(dropped, 2);
  SubmitIsUploaded(10000);
}

TEST_F(HostileBody, ABodyOfSmallAnswersPeaksNearItsSize) {
  std::string data = "[";
  for (int i = 0; i < 20000; ++i) {
    data += diagnostics::FormatText(R"({"questionId":%1,"value":"a%1"},)", i);
  }
  data.back() = ']';
  const std::string body = R"({"playerSurveyId":1,"action":"open","data":)" + data + "}";
  ASSERT_EQ(scripted.PostEvent(body), "ok");
  // The event stays in the log as the text the upload takes.
  EXPECT_LE(scripted.plugin().LiveBytes() - before, 4 * body.size());
  // The answers share one arena instead of one each; the peak is the pretty text while it is
  // written, twice over for a moment, and the body's tree.
  EXPECT_LE(PeakBytes() - before, 10 * body.size());
}

TEST_F(HostileBody, TextThatIsNotUtf8NeverReachesTheUpload) {
  const std::string bodies[][3] = {
      {"application/json", "{\"action\": \"close\", \"data\": [\"\xFF\xFE\"]}",
       "Invalid encoding in string."},
      {kMsgPack, MsgPackEvent("\x91\xA2\xFF\xFE"), "not valid UTF-8"},
      {"application/x-yaml", "action: close\ndata: [\xFF]", "octet. At line: 1 col: 7"},
  };
  for (const auto& [type, body, message] : bodies) {
    const std::string outcome = Post(type.c_str(), body);
    EXPECT_TRUE(outcome != "ok" && outcome.find(message) != std::string::npos) << outcome;
  }
  EXPECT_EQ(ServiceRequests(), 0u);
}

TEST_F(HostileBody, ANegativeSurveyIdInTextIsOutOfRange) {
  EXPECT_EQ(scripted.PostEvent(R"({"playerSurveyId": "-1", "action": "submit"})"),
            "0 Value -1 for 'playerSurveyId' of type uint64 is out of range");
  EXPECT_EQ(ServiceRequests(), 0u);
  scripted.Answer(0, 204, "");
  EXPECT_EQ(scripted.PostEvent(R"({"playerSurveyId": "0x10", "action": "submit"})"), "ok");
  EXPECT_NE(scripted.LastServiceRequest().url.find("/surveys/16/results"), std::string::npos);
}

}  // namespace
}  // namespace vyn::test
