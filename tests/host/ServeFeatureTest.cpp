// vyn-host serve with the real feedback plugin, driven over real HTTP on the loopback interface:
// the plugin disabled without a backend, one whole survey round against a stand-in feedback
// service (login, end of game, the survey on the event stream, the submitted answers arriving at
// the service), and malformed bodies in every format the plugin reads.
#include <gtest/gtest.h>
#include <httplib.h>
#include <rapidjson/document.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "HostProcess.h"
#include "ReplyJson.h"
#include "host/FeedbackService.h"

namespace vyn::test {
namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 15000;
constexpr int kEventTimeoutMs = 5000;

constexpr char kPuuid[] = "0a1b2c3d-serve-0000-0000-player000042";
constexpr char kIdToken[] = "serve-id-token";
constexpr char kSurveyEvent[] = "OnJsonApiEvent_vyn-pft_v2_survey";
constexpr char kBackendMissing[] =
    "BackendURL missing from platform configuration, plugin disabled.";

// Everything the plugin reads locally, but the backend url, which comes first when given.
std::string Config(const std::string& backendUrl) {
  std::string text = "# Resources the feedback plugin reads.\n";
  if (!backendUrl.empty()) {
    text += "/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl: \"" + backendUrl +
            "\"\n";
  }
  text += R"(/tarnclient/region-locale:
  region: EUW
  locale: de_DE
  webRegion: euw
  webLanguage: de
/vyn-login/v1/login-data-packet:
  platformId: EUW1
/system/v1/builds:
  codeBuildId: "14.3.2"
  contentBuildId: "602"
)";
  return text;
}

std::string SessionJson() {
  return std::string(R"({"state":"SUCCEEDED","summonerId":3000042,"accountId":2000042,"puuid":")") +
         kPuuid + R"(","idToken":")" + kIdToken + R"("})";
}

// Reads GET /host/v1/events on a thread of its own until the host ends the stream, and splits
// what arrives into (event name, data) pairs.
class EventReader {
 public:
  explicit EventReader(int port)
      : thread_([this, port] {
          httplib::Client client("127.0.0.1", port);
          client.set_connection_timeout(2, 0);
          client.set_read_timeout(30, 0);
          client.Get("/host/v1/events", [this](const char* data, size_t length) {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.append(data, length);
            return true;
          });
        }) {}
  // The stream ends only when the host stops, so stop the host before this runs.
  ~EventReader() {
    if (thread_.joinable()) thread_.join();
  }
  EventReader(const EventReader&) = delete;
  EventReader& operator=(const EventReader&) = delete;

  bool WaitForConnected() {
    return Poll([this] { return received_.find(": connected\n\n") != std::string::npos; });
  }

  // Waits for the first complete event of that name and returns its data.
  bool WaitForEvent(const std::string& name, std::string& data) {
    return Poll([&] {
      for (const auto& [eventName, eventData] : EventsLocked()) {
        if (eventName == name) {
          data = eventData;
          return true;
        }
      }
      return false;
    });
  }

  std::string Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  template <typename Predicate>
  bool Poll(Predicate predicate) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kEventTimeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (predicate()) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  std::vector<std::pair<std::string, std::string>> EventsLocked() const {
    std::vector<std::pair<std::string, std::string>> events;
    size_t start = 0;
    for (;;) {
      const size_t end = received_.find("\n\n", start);
      if (end == std::string::npos) break;
      const std::string block = received_.substr(start, end - start);
      start = end + 2;
      std::string name;
      std::string data;
      size_t lineStart = 0;
      while (lineStart <= block.size()) {
        size_t lineEnd = block.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = block.size();
        const std::string line = block.substr(lineStart, lineEnd - lineStart);
        if (line.rfind("event: ", 0) == 0) name = line.substr(7);
        if (line.rfind("data: ", 0) == 0) data += (data.empty() ? "" : "\n") + line.substr(6);
        lineStart = lineEnd + 1;
      }
      if (!name.empty()) events.emplace_back(name, data);
    }
    return events;
  }

  std::mutex mutex_;  // guards received_
  std::string received_;
  std::thread thread_;
};

class ServeFeature : public ::testing::Test {
 protected:
  void Start(const std::string& config) {
    ASSERT_FALSE(dir_.path().empty());
    const std::string path = dir_.Write("resources.yaml", config);
    host_ = std::make_unique<HostProcess>(
        dir_, std::vector<std::string>{"serve", VYN_PLUGIN_PATH, "--config", path, "--port", "0"});
    ASSERT_TRUE(host_->started());
    ASSERT_TRUE(host_->WaitForPort(port_, kStartTimeoutMs)) << host_->Stderr();
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    client_->set_connection_timeout(2, 0);
    client_->set_read_timeout(10, 0);
  }

  // SIGTERM must end the host cleanly, open event streams included.
  void Stop() {
    if (!host_) return;
    host_->Signal(SIGTERM);
    EXPECT_EQ(host_->WaitForExit(kStopTimeoutMs), 0) << host_->Stderr();
    host_.reset();
  }

  // The host goes first: its stop ends the event stream, which lets the reader's thread finish.
  void TearDown() override {
    Stop();
    events_.reset();
  }

  void PutJson(const char* path, const std::string& json, const char* eventType) {
    auto reply = client_->Put(path, json, "application/json");
    ASSERT_TRUE(reply) << path;
    ASSERT_EQ(reply->status, 200) << path << ": " << reply->body;
    const auto body = Json(reply->body);
    EXPECT_EQ(Text(body, "eventType"), eventType) << path;
    EXPECT_GE(Number(body, "delivered"), 1u) << path << ": the plugin does not watch it";
  }

  // The host's JSON error object around the plugin's status and message.
  void ExpectError(const httplib::Result& reply, int status, const std::string& message,
                   const std::string& desc) {
    ASSERT_TRUE(reply) << desc;
    EXPECT_EQ(reply->status, status) << desc << ": " << reply->body;
    const auto body = Json(reply->body);
    EXPECT_EQ(Text(body, "errorCode"), status == 400 ? "BAD_REQUEST" : "NOT_FOUND") << desc;
    EXPECT_EQ(Number(body, "httpStatus"), static_cast<uint64_t>(status)) << desc;
    EXPECT_EQ(Text(body, "message"), message) << desc << ": " << reply->body;
  }

  TempDir dir_;
  std::unique_ptr<HostProcess> host_;
  int port_ = 0;
  std::unique_ptr<httplib::Client> client_;
  std::unique_ptr<EventReader> events_;
};

TEST_F(ServeFeature, RefusesSurveysWhileNoBackendIsConfigured) {
  Start(Config(""));
  // Signed in, so that only the missing backend can be the reason.
  PutJson("/vyn-login/v1/session", SessionJson(), "Create");
  auto reply = client_->Get("/vyn-pft/v2/survey");
  ExpectError(reply, 404, kBackendMissing, "GET survey");

  reply = client_->Post("/vyn-pft/v2/events",
                        R"({"playerSurveyId":7,"action":"submit","data":[]})", "application/json");
  ExpectError(reply, 404, kBackendMissing, "POST submit event");
}

TEST_F(ServeFeature, PlaysOneSurveyRoundAgainstTheFeedbackService) {
  host::FeedbackService service;
  ASSERT_TRUE(service.Start());
  Start(Config(service.BaseUrl()));
  events_ = std::make_unique<EventReader>(port_);
  EventReader& events = *events_;
  ASSERT_TRUE(events.WaitForConnected()) << events.Received();

  PutJson("/vyn-login/v1/session", SessionJson(), "Create");
  PutJson("/vyn-gameflow/v1/session", R"({"phase":"EndOfGame"})", "Create");
  EXPECT_TRUE(service.surveyRequests().empty()) << "no survey before the game's statistics";

  PutJson("/vyn-end-of-game/v1/eog-stats-block",
          R"({"gameId":7000555,"gameMode":"CLASSIC","gameType":"MATCHED_GAME","gameLength":1500,)"
          R"("accountId":2000042,"summonerId":3000042,"teams":[]})",
          "Create");

  std::string data;
  ASSERT_TRUE(events.WaitForEvent(kSurveyEvent, data)) << events.Received();
  const auto published = Json(data);
  ASSERT_TRUE(published.IsObject()) << data;
  EXPECT_EQ(Text(published, "uri"), "/vyn-pft/v2/survey");
  ASSERT_TRUE(published.HasMember("data")) << data;
  const auto& survey = published["data"];
  EXPECT_EQ(Number(survey, "id"), host::FeedbackService::kSurveyId) << data;
  EXPECT_EQ(Text(survey, "title"), "How was your game?") << data;
  EXPECT_EQ(Text(survey, "type"), "internal") << data;

  const auto requests = service.surveyRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].puuid, kPuuid);
  EXPECT_EQ(requests[0].query, "shard=EUW1&iso_locale=de_DE&event_type=END_OF_GAME");
  EXPECT_EQ(requests[0].authorization, std::string("Bearer ") + kIdToken);
  const auto metadata = Json(requests[0].body);
  EXPECT_TRUE(metadata.IsObject()) << requests[0].body;

  // An action that is only logged travels with the next upload, before the submit.
  const std::string surveyId = std::to_string(host::FeedbackService::kSurveyId);
  auto reply = client_->Post("/vyn-pft/v2/events",
                             R"({"playerSurveyId":)" + surveyId + R"(,"action":"open","data":[]})",
                             "application/json");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200) << reply->body;
  EXPECT_TRUE(service.uploads().empty());

  reply = client_->Post("/vyn-pft/v2/events",
                        R"({"playerSurveyId":)" + surveyId +
                            R"(,"action":"submit","data":[{"questionId":1,"value":5},)"
                            R"({"questionId":"2","value":{"text":"fun"}}]})",
                        "application/json");
  ASSERT_TRUE(reply);
  EXPECT_GE(reply->status, 200) << reply->body;
  EXPECT_LE(reply->status, 204) << reply->body;

  const auto uploads = service.uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].puuid, kPuuid);
  EXPECT_EQ(uploads[0].surveyId, surveyId);
  const auto body = Json(uploads[0].body);
  ASSERT_TRUE(body.IsObject()) << uploads[0].body;
  ASSERT_TRUE(body.HasMember("questionResponses") && body["questionResponses"].IsArray())
      << uploads[0].body;
  const auto& answers = body["questionResponses"];
  ASSERT_EQ(answers.Size(), 2u) << uploads[0].body;
  EXPECT_EQ(Number(answers[0], "questionId"), 1u);
  ASSERT_TRUE(answers[0].HasMember("responseData")) << uploads[0].body;
  EXPECT_EQ(Number(answers[0]["responseData"], "value"), 5u) << "a plain answer is wrapped";
  EXPECT_EQ(Number(answers[1], "questionId"), 2u) << "a question id given as text";
  ASSERT_TRUE(answers[1].HasMember("responseData")) << uploads[0].body;
  EXPECT_EQ(Text(answers[1]["responseData"], "text"), "fun") << "a structured answer is kept";
  ASSERT_TRUE(body.HasMember("actions") && body["actions"].IsArray()) << uploads[0].body;
  const auto& actions = body["actions"];
  ASSERT_EQ(actions.Size(), 2u) << uploads[0].body;
  EXPECT_EQ(Text(actions[0], "action"), "open");
  EXPECT_EQ(Text(actions[1], "action"), "submit");
  EXPECT_EQ(Number(actions[1], "playerSurveyId"), host::FeedbackService::kSurveyId);
}

TEST_F(ServeFeature, AnswersMalformedBodiesWithThePluginsErrorAndKeepsServing) {
  // The backend is never reached: every body below fails before the event's handler runs.
  Start(Config("http://127.0.0.1:9"));
  struct Case {
    const char* desc;
    const char* contentType;
    std::string body;
    const char* message;
  };
  using namespace std::string_literals;
  // MessagePack positions count the type byte that was refused as read.
  const Case cases[] = {
      {"JSON with a trailing comma", "application/json", R"({"playerSurveyId":1,})",
       "Error: Missing a name for object member. at offset 20."},
      {"JSON cut short", "application/json", R"({"playerSurveyId":1,"action":"sub)",
       "Error: Missing a closing quotation mark in string. at offset 33."},
      {"MessagePack map cut short", "application/x-msgpack", "\x82\xa6" "action"s,
       "Invalid MessagePack data. Map of size 2 at position 1 is truncated."},
      {"MessagePack with a number as a key", "application/x-msgpack", "\x81\x01\x02"s,
       "Invalid MessagePack data at position 2. Map keys must be strings."},
      {"MessagePack with a reserved type byte", "application/x-msgpack", "\xc1"s,
       "Invalid MessagePack data at position 1."},
      {"MessagePack with bytes after the value", "application/x-msgpack", "\x80\x80"s,
       "Extra MessgePack data found in body"},
      {"YAML with an unclosed flow sequence", "application/x-yaml", "data: [1, 2\n",
       "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0"},
      {"YAML with two documents", "application/x-yaml", "action: close\n---\naction: submit\n",
       "Multi-document YAML is not supported."},
      {"a content type the plugin does not read", "text/plain", "action=submit",
       "Unsupported body content type"},
  };
  for (const Case& c : cases) {
    auto reply = client_->Post("/vyn-pft/v2/events", c.body, c.contentType);
    ExpectError(reply, 400, c.message, c.desc);
  }

  // Still serving, and still the plugin answering.
  auto reply = client_->Get("/vyn-pft/v2/survey");
  ExpectError(reply, 404, "No survey available, user not logged in.", "GET survey afterwards");
}

}  // namespace
}  // namespace vyn::test
