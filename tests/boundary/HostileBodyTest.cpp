// Bodies built to exhaust memory, stall the plugin or slip corrupt text through, sent to the
// events endpoint through the shared library: each gets a clear answer, quickly, and leaves the
// plugin able to serve the next player and holding what it held before.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "diagnostics/FormatText.h"
#include "support/ScriptedHost.h"

namespace vyn::test {
namespace {

// Whether `text` holds `part`, with both shown on failure.
testing::AssertionResult Contains(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "'" << text << "' lacks '" << part << "'";
}

constexpr char kSubmit[] =
    R"({"playerSurveyId": 5, "action": "submit", "data": [{"questionId": 1, "value": 2}]})";

// A MessagePack event {"action": action, "data": <data>, "playerSurveyId": 1}.
std::string MsgPackEvent(const std::string& action, const std::string& data) {
  std::string body = "\x83\xA6"
                     "action";
  body += static_cast<char>(0xA0 + action.size());
  body += action;
  body += "\xA4"
          "data";
  body += data;
  body += "\xAE"
          "playerSurveyId\x01";
  return body;
}

// Elements of a MessagePack array: the header of an array of `count` elements.
std::string ArrayHeader(uint32_t count) {
  std::string header = "\xDD";
  for (int shift = 24; shift >= 0; shift -= 8) header += static_cast<char>(count >> shift);
  return header;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Loose enough for a sanitizer build; the faults these guard against took tens of seconds.
constexpr double kQuickSeconds = 5.0;

class HostileBody : public testing::Test {
 protected:
  HostileBody() : library(VYN_PLUGIN_PATH), scripted(library) {}
  void SetUp() override {
    ASSERT_TRUE(library.ok()) << library.error();
    ASSERT_TRUE(scripted.ok());
    scripted.SetUpSiblings();
    ASSERT_TRUE(scripted.Publish("/vyn-login/v1/session", "Update",
                                 R"({"state": "SUCCEEDED", "summonerId": 9, "accountId": 8,
                                     "puuid": "p-1", "idToken": "t"})"));
  }

  void PostMsgPack(const std::string& body, HostResponse& response) {
    RequestBuilder request(6, "/vyn-pft/v2/events");
    request.Body("application/x-msgpack", body);
    scripted.Call("PostVynPftV2Events", request, response);
  }
  uint64_t PeakBytes() {
    const auto s = scripted.plugin().MemoryStats();
    return s[0] | (static_cast<uint64_t>(s[1]) << 32);
  }
  // A normal answer, uploaded alone with whatever the log kept; the log is empty afterwards.
  void SubmitIsUploaded(std::size_t expectedActions) {
    scripted.Answer(0, 204, "");
    HostResponse response;
    scripted.PostEvent(kSubmit, response);
    ASSERT_FALSE(response.failed()) << response.ErrorText();
    const std::string& body = scripted.host.externalRequests.back().body;
    std::size_t actions = 0;
    for (std::size_t at = body.find("\"action\": "); at != std::string::npos;
         at = body.find("\"action\": ", at + 1)) {
      ++actions;
    }
    EXPECT_EQ(actions, expectedActions);
  }

  PluginLibrary library;
  ScriptedHost scripted;
};

TEST_F(HostileBody, DeepMessagePackIsRefusedAndLaterAnswersStillGoOut) {
  const uint64_t before = scripted.plugin().LiveBytes();
  const auto start = std::chrono::steady_clock::now();
  HostResponse response;
  PostMsgPack(MsgPackEvent("close", std::string(100000, '\x91') + "\xC0"), response);
  EXPECT_LT(SecondsSince(start), kQuickSeconds);
  ASSERT_TRUE(response.failed());
  EXPECT_TRUE(Contains(response.ErrorText(), "deeper than 1000 levels"));
  EXPECT_TRUE(scripted.host.externalRequests.empty());
  response.Release();
  EXPECT_EQ(scripted.plugin().LiveBytes(), before);

  // Nesting within the limit is an answer like any other, and the next submit uploads it too.
  scripted.Answer(0, 500, "busy");
  PostMsgPack(MsgPackEvent("close", std::string(900, '\x91') + "\xC0"), response);
  EXPECT_EQ(response.ErrorText(), "Failed to save survey results for puuid 'p-1': 500-'busy'");
  SubmitIsUploaded(2);
}

TEST_F(HostileBody, AMillionNilsAreRefusedQuicklyAndLeaveNothingBehind) {
  const uint64_t before = scripted.plugin().LiveBytes();
  const std::string body = MsgPackEvent("close", ArrayHeader(1000000) + std::string(1000000, '\xC0'));
  const auto start = std::chrono::steady_clock::now();
  HostResponse response;
  PostMsgPack(body, response);
  EXPECT_LT(SecondsSince(start), kQuickSeconds);
  EXPECT_EQ(response.ErrorText(), "Error serializing event.");
  EXPECT_EQ(response.Status(), 500u);
  // Each nil is a 24-byte value node in the body's tree, the event and its value; the event's
  // text stops at the log's bound.
  EXPECT_LE(PeakBytes() - before, 128u << 20);
  EXPECT_TRUE(scripted.host.externalRequests.empty());
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
  const uint64_t before = scripted.plugin().LiveBytes();
  const auto start = std::chrono::steady_clock::now();
  HostResponse response;
  scripted.PostEvent(R"({"action": "open", "data": )" + data + "}", response);
  EXPECT_LT(SecondsSince(start), kQuickSeconds);
  EXPECT_EQ(response.ErrorText(), "Error serializing event.");
  response.Release();
  EXPECT_EQ(scripted.plugin().LiveBytes(), before);
}

TEST_F(HostileBody, AnAnswerTooLargeToUploadIsRefusedWithoutBlockingLaterOnes) {
  // 600,000 answers fit the log but their responses would pass the upload's bound.
  const std::string body = MsgPackEvent("close", ArrayHeader(600000) + std::string(600000, '\x01'));
  const auto start = std::chrono::steady_clock::now();
  HostResponse response;
  PostMsgPack(body, response);
  EXPECT_LT(SecondsSince(start), kQuickSeconds);
  EXPECT_EQ(response.ErrorText(), "Error serializing request payload.");
  EXPECT_TRUE(scripted.host.externalRequests.empty());
  // The refused event stays among the actions, which always fit.
  SubmitIsUploaded(2);
}

TEST_F(HostileBody, StoredEventsCostAboutTheirSize) {
  const std::string open =
      R"({"playerSurveyId":1,"action":"open","data":[{"questionId":1,"value":2}]})";
  ASSERT_LE(open.size(), 75u);
  const uint64_t before = scripted.plugin().LiveBytes();
  constexpr int kEvents = 2000;
  for (int i = 0; i < kEvents; ++i) {
    HostResponse response;
    scripted.PostEvent(open, response);
    ASSERT_FALSE(response.failed()) << response.ErrorText();
  }
  const uint64_t perEvent = (scripted.plugin().LiveBytes() - before) / kEvents;
  EXPECT_LE(perEvent, 512u);
  SubmitIsUploaded(kEvents + 1);
  EXPECT_EQ(scripted.plugin().LiveBytes(), before);
}

TEST_F(HostileBody, ABodyOfSmallAnswersPeaksNearItsSize) {
  std::string data = "[";
  for (int i = 0; i < 20000; ++i) {
    data += diagnostics::FormatText(R"({"questionId":%1,"value":"a%1"},)", i);
  }
  data.back() = ']';
  const std::string body =
      R"({"playerSurveyId":1,"action":"open","data":)" + data + "}";
  const uint64_t before = scripted.plugin().LiveBytes();
  HostResponse response;
  scripted.PostEvent(body, response);
  ASSERT_FALSE(response.failed()) << response.ErrorText();
  // The event stays in the log as the text the upload takes.
  const uint64_t kept = scripted.plugin().LiveBytes() - before;
  EXPECT_LE(kept, 4 * body.size());
  // The answers share one arena instead of one each; the peak is the pretty text while it is
  // written, twice over for a moment, and the body's tree.
  EXPECT_LE(PeakBytes() - before, 10 * body.size());
}

TEST_F(HostileBody, TextThatIsNotUtf8NeverReachesTheUpload) {
  const std::string bodies[][3] = {
      {"application/json", "{\"action\": \"close\", \"data\": [\"\xFF\xFE\"]}",
       "Invalid encoding in string."},
      {"application/x-msgpack", MsgPackEvent("close", "\x91\xA2\xFF\xFE"), "not valid UTF-8"},
  };
  for (const auto& [type, body, message] : bodies) {
    RequestBuilder request(6, "/vyn-pft/v2/events");
    request.Body(type, body);
    HostResponse response;
    scripted.Call("PostVynPftV2Events", request, response);
    EXPECT_TRUE(response.failed()) << type;
    EXPECT_TRUE(Contains(response.ErrorText(), message)) << type;
  }
  EXPECT_TRUE(scripted.host.externalRequests.empty());
}

TEST_F(HostileBody, ANegativeSurveyIdInTextIsOutOfRange) {
  HostResponse response;
  scripted.PostEvent(R"({"playerSurveyId": "-1", "action": "submit"})", response);
  EXPECT_EQ(response.ErrorText(),
            "Value -1 for 'playerSurveyId' of type uint64 is out of range");
  EXPECT_TRUE(scripted.host.externalRequests.empty());
  scripted.Answer(0, 204, "");
  HostResponse hexadecimal;
  scripted.PostEvent(R"({"playerSurveyId": "0x10", "action": "submit"})", hexadecimal);
  ASSERT_FALSE(hexadecimal.failed()) << hexadecimal.ErrorText();
  EXPECT_TRUE(Contains(scripted.host.externalRequests.back().url, "/surveys/16/results"));
}

}  // namespace
}  // namespace vyn::test
