// The event log's bounds and the one-pass results upload, which must write exactly what the
// pretty writer makes of the same results record.
#include "pft/EventLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/AssignValue.h"
#include "binding/RecordToValue.h"
#include "formats/Json.h"
#include "pft/PftTypes.h"

namespace vyn::pft {
namespace {

using binding::BindingProperty;
using namespace Tarn::Client::Pft::Api;

struct EventLogUpload : ::testing::Test {
  EventLogUpload() { RegisterPftTypes(registry_, "VynPft", std::vector<std::string>{"Plugins"}); }

  PFTEvent Event(const char* json) {
    PFTEvent event;
    const auto assigned = binding::ValueToNative(registry_, formats::ParseJson(json), event, "e");
    EXPECT_TRUE(assigned.ok()) << json << ": " << assigned.ErrorText();
    return event;
  }
  std::string Pretty(const auto& record) {
    return formats::ToJson(binding::NativeToValue(registry_, record), &registry_, "\r\n");
  }
  // The upload as the results record, built the straightforward way, turns into text.
  std::string ThroughTheRecord(const std::vector<PFTEvent>& logged, const PFTEvent& event) {
    SurveyResults results;
    for (const BindingProperty& answer : event.data) {
      PFTQuestionResponse& response = results.questionResponses.emplace_back();
      response.questionId = answer.member("questionId").toUnsigned();
      const BindingProperty& value = answer.member("value");
      const bool plain = value.kind() != binding::BindingPropertyKind::Structure;
      (plain ? response.responseData.memberAt("value") : response.responseData).copyFrom(value);
    }
    results.actions = logged;
    return Pretty(results);
  }
  bool Write(const EventLog& log, const PFTEvent& event, std::size_t max, std::string& out) {
    return WriteResultsUpload(log, event.data, &registry_, max, out);
  }

  binding::BindingRegistry registry_;
};

TEST_F(EventLogUpload, WritesWhatThePrettyWriterMakesOfTheResultsRecordUpToTheBound) {
  const char* const events[] = {
      R"({"playerSurveyId": 1, "action": "open", "data": []})",
      R"({"playerSurveyId": 2, "action": "view"})",
      R"({"playerSurveyId": 3, "action": "submit", "data": [
          {"questionId": 3, "value": "line\nbreak \u00e9"}, {"questionId": "0x1f", "value": {}},
          {"value": [1, [2, {"a": null}], []]}, {"questionId": -4}, 7, [],
          {"questionId": 1.9, "value": {"b": {"c": [true, false, -0.5, 1e300]}, "a": ""}}]})",
  };
  std::vector<PFTEvent> logged;
  EventLog log;
  std::string upload;
  for (const char* json : events) {
    logged.push_back(Event(json));
    std::size_t dropped = 9;
    ASSERT_TRUE(log.Append(Pretty(logged.back()), dropped)) << json;
    EXPECT_EQ(dropped, 0u);
    ASSERT_TRUE(Write(log, logged.back(), kMaxResultsUploadBytes, upload));
    EXPECT_EQ(upload, ThroughTheRecord(logged, logged.back())) << json;
  }
  const std::size_t size = upload.size();
  EXPECT_TRUE(Write(log, logged.back(), size, upload));
  EXPECT_FALSE(Write(log, logged.back(), size - 1, upload));
  // A bound that small stops the writing within the first action.
  EXPECT_FALSE(Write(log, logged.back(), 10, upload));
  EXPECT_LE(upload.size(), 10u + 32u + log.entries().front().size());

  ASSERT_TRUE(Write(EventLog(), PFTEvent{}, kMaxResultsUploadBytes, upload));
  EXPECT_EQ(upload, ThroughTheRecord({}, PFTEvent{}));
}

// The count bound is reached through the plugin, which reports each drop; the byte bound takes
// texts too large for that.
TEST_F(EventLogUpload, TheLogDropsItsOldestEventsAtTheByteBound) {
  EventLog log;
  std::size_t dropped = 9;
  const std::string half(EventLog::kMaxBytes / 2, 'x');
  for (const std::string& text : {std::string("a"), std::string("b"), half}) {
    ASSERT_TRUE(log.Append(text, dropped));
    EXPECT_EQ(dropped, 0u);
  }
  // Everything older than the first large text goes; the bound itself still fits.
  ASSERT_TRUE(log.Append(std::string(EventLog::kMaxBytes / 2, 'y'), dropped));
  EXPECT_EQ(dropped, 2u);
  EXPECT_EQ(log.entries().front(), half);
  EXPECT_EQ(log.size(), 2u);
  EXPECT_EQ(log.bytes(), EventLog::kMaxBytes);

  // Line breaks count with the indentation they take among the actions; a text that cannot fit
  // even alone is refused and leaves the log as it was.
  EXPECT_FALSE(log.Append(std::string(EventLog::kMaxBytes - 4, 'z') + "\r\n", dropped));
  EXPECT_EQ(log.size(), 2u);
  ASSERT_TRUE(log.Append("{\r\n    \"a\": 1\r\n}", dropped));
  EXPECT_EQ(log.entries().back(), "{\r\n            \"a\": 1\r\n        }");
  EXPECT_EQ(dropped, 1u);
  ASSERT_TRUE(log.Append(std::string(EventLog::kMaxBytes, 'w'), dropped)) << "the bound fits alone";
  EXPECT_EQ(log.size(), 1u);

  log.Clear();
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(log.bytes(), 0u);
}

}  // namespace
}  // namespace vyn::pft
