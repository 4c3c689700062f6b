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

TEST_F(EventLogUpload, WritesWhatThePrettyWriterMakesOfTheResultsRecord) {
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
  for (const char* json : events) {
    const PFTEvent event = Event(json);
    logged.push_back(event);
    std::size_t dropped = 9;
    ASSERT_TRUE(log.Append(Pretty(event), dropped)) << json;
    EXPECT_EQ(dropped, 0u);
    std::string upload;
    ASSERT_TRUE(Write(log, event, kMaxResultsUploadBytes, upload));
    EXPECT_EQ(upload, ThroughTheRecord(logged, event)) << json;
  }
  std::string empty;
  ASSERT_TRUE(Write(EventLog(), PFTEvent{}, kMaxResultsUploadBytes, empty));
  EXPECT_EQ(empty, ThroughTheRecord({}, PFTEvent{}));
}

TEST_F(EventLogUpload, TheLogDropsItsOldestEventsAtEitherBound) {
  EventLog log;
  std::size_t dropped = 0;
  for (std::size_t i = 0; i < EventLog::kMaxEvents; ++i) {
    ASSERT_TRUE(log.Append(std::to_string(i), dropped));
    ASSERT_EQ(dropped, 0u);
  }
  ASSERT_TRUE(log.Append("last", dropped));
  EXPECT_EQ(dropped, 1u);
  EXPECT_EQ(log.size(), EventLog::kMaxEvents);
  EXPECT_EQ(log.entries().front(), "1");
  EXPECT_EQ(log.entries().back(), "last");

  ASSERT_TRUE(log.Append(std::string(EventLog::kMaxBytes / 2, 'x'), dropped));
  EXPECT_EQ(dropped, 1u);
  // The byte bound: everything older than the first large text goes.
  ASSERT_TRUE(log.Append(std::string(EventLog::kMaxBytes / 2, 'y'), dropped));
  EXPECT_EQ(dropped, EventLog::kMaxEvents - 1);
  EXPECT_EQ(log.size(), 2u);
  EXPECT_EQ(log.bytes(), EventLog::kMaxBytes);

  // Line breaks count with the indentation they take among the actions; a text that cannot fit
  // even alone is refused and leaves the log as it was.
  EXPECT_FALSE(log.Append(std::string(EventLog::kMaxBytes - 4, 'z') + "\r\n", dropped));
  EXPECT_EQ(log.size(), 2u);
  ASSERT_TRUE(log.Append("{\r\n    \"a\": 1\r\n}", dropped));
  EXPECT_EQ(log.entries().back(), "{\r\n            \"a\": 1\r\n        }");
  EXPECT_EQ(dropped, 1u);

  log.Clear();
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(log.bytes(), 0u);
}

TEST_F(EventLogUpload, StopsWritingAtTheBound) {
  EventLog log;
  std::size_t dropped = 0;
  ASSERT_TRUE(log.Append(R"({"a": 1})", dropped));
  const PFTEvent event = Event(R"({"data": [{"questionId": 1, "value": 2}, {"value": 3}]})");
  std::string upload;
  ASSERT_TRUE(Write(log, event, kMaxResultsUploadBytes, upload));
  const std::size_t size = upload.size();
  EXPECT_TRUE(Write(log, event, size, upload));
  EXPECT_FALSE(Write(log, event, size - 1, upload));
  // Within the actions already.
  EXPECT_FALSE(Write(log, event, 10, upload));
  EXPECT_LE(upload.size(), 10u + 32u);
}

}  // namespace
}  // namespace vyn::pft
