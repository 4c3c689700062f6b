// "vyn-host demo": one round of the player feedback tool, step by step.
#include "host/DemoCommand.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "host/FeatureResources.h"
#include "host/FeedbackService.h"
#include "host/HostNames.h"
#include "host/PluginHost.h"
#include "host/ResourceConfig.h"

namespace vyn::host {
namespace {

constexpr const char* kPuuid = "5b2f0c1e-demo-0000-0000-player000001";
constexpr const char* kIdToken = "demo-id-token";
constexpr unsigned long long kAccountId = 2000001;
constexpr unsigned long long kSummonerId = 3000001;
constexpr const char* kSurveyResource = "/vyn-pft/v2/survey";
constexpr auto kEventWait = std::chrono::seconds(5);

// Runs numbered steps, stops at the first that fails and says which one it was.
class Steps {
 public:
  explicit Steps(int total) : total_(total) {}

  // The step returns the empty text when it behaved, else what went wrong.
  bool Run(const char* title, const std::function<std::string()>& step) {
    if (failed_) return false;
    ++number_;
    std::printf("[%d/%d] %s\n", number_, total_, title);
    std::fflush(stdout);
    const std::string failure = step();
    if (failure.empty()) {
      std::printf("      ok\n");
      return true;
    }
    std::printf("      FAILED: %s\n", failure.c_str());
    failed_ = true;
    failedTitle_ = title;
    return false;
  }

  int Finish() const {
    if (failed_) {
      std::printf("demo: step %d of %d (%s) failed\n", number_, total_, failedTitle_.c_str());
      return 1;
    }
    std::printf("demo: all %d steps behaved\n", total_);
    return 0;
  }

 private:
  int total_;
  int number_ = 0;
  bool failed_ = false;
  std::string failedTitle_;
};

void Show(const char* label, const std::string& text) {
  std::printf("      %s%s\n", label, text.c_str());
}

// Indented, pretty JSON for the reader; the text itself when it is not JSON.
void ShowJson(const char* label, const std::string& json) {
  rapidjson::Document document;
  document.Parse(json.data(), json.size());
  if (document.HasParseError()) {
    Show(label, json);
    return;
  }
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  writer.SetIndent(' ', 2);
  document.Accept(writer);
  std::printf("      %s\n", label);
  const std::string text(buffer.GetString(), buffer.GetSize());
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    std::printf(
        "        %s\n",
        text.substr(start, end == std::string::npos ? std::string::npos : end - start).c_str());
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

// Collects what the plugin publishes, so that a step can wait for a resource's update.
class PublishedLog {
 public:
  void Add(const PublishedEvent& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    added_.notify_all();
  }

  // The payload of the first event about the uri, waiting up to the timeout for one.
  bool WaitForUri(const std::string& uri, rapidjson::Document& payload) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool found = false;
    added_.wait_for(lock, kEventWait, [&] {
      for (const auto& event : events_) {
        payload.Parse(event.payloadJson.c_str());
        if (payload.HasParseError() || !payload.IsObject()) continue;
        auto member = payload.FindMember("uri");
        if (member != payload.MemberEnd() && member->value.IsString() &&
            uri == member->value.GetString()) {
          found = true;
          return true;
        }
      }
      return false;
    });
    return found;
  }

  std::vector<std::string> Names() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    for (const auto& event : events_) names.push_back(event.name);
    return names;
  }

 private:
  mutable std::mutex mutex_;  // guards events_
  std::condition_variable added_;
  std::vector<PublishedEvent> events_;
};

std::string ExpectDelivered(const HttpReply& reply, const std::string& path) {
  if (reply.status != 200) {
    return "the host answered " + std::to_string(reply.status) + ": " + reply.body;
  }
  rapidjson::Document document;
  document.Parse(reply.body.c_str());
  if (document.HasParseError() || !document.IsObject() || !document.HasMember("delivered") ||
      !document["delivered"].IsUint64()) {
    return "the host's answer is not understood: " + reply.body;
  }
  Show("host: ", reply.body);
  if (document["delivered"].GetUint64() == 0) {
    return "the plugin has not subscribed to " + path + ", so nothing received the change";
  }
  return "";
}

HttpReply Put(PluginHost& host, const std::string& path, const std::string& json) {
  Show("PUT ", path + " " + json);
  return host.Handle({"PUT", path, {{"Content-Type", "application/json"}}, json});
}

}  // namespace

int RunDemo(const std::string& pluginPath) {
  Steps steps(8);
  FeedbackService service;
  PublishedLog published;
  ResourceValues resources;
  std::unique_ptr<PluginHost> host;
  unsigned long long surveyId = 0;

  steps.Run("start the stand-in feedback service", [&]() -> std::string {
    if (!service.Start()) return "it cannot listen on 127.0.0.1";
    Show("listening on ", service.BaseUrl());
    std::string error;
    if (!ParseResourceConfig(DemoResourcesJson(service.BaseUrl()), resources, error)) return error;
    Show("platform configuration: BackendUrl = ", service.BaseUrl());
    return "";
  });

  steps.Run("load and initialise the plugin", [&]() -> std::string {
    host = std::make_unique<PluginHost>(std::move(resources));
    std::string error;
    if (!host->Start(pluginPath, error)) return pluginPath + ": " + error;
    host->AddEventListener([&published](const PublishedEvent& event) { published.Add(event); });
    const PluginLoadBlock& block = host->block();
    Show("plugin: ", block.shortName != nullptr ? block.shortName : "");
    bool hasEvents = false;
    for (const auto& endpoint : host->api().endpoints) {
      Show("endpoint: ", std::string(MethodName(endpoint.methodCode)) + " " +
                             endpoint.pathTemplate + " (" + endpoint.function + ")");
      if (endpoint.pathTemplate == "/vyn-pft/v2/events" && endpoint.methodCode == 6) {
        hasEvents = true;
      }
    }
    if (!host->ready()) return "the plugin says it is not ready";
    if (!hasEvents) return "the plugin registers no endpoint POST /vyn-pft/v2/events";
    return "";
  });

  steps.Run("sign the player in", [&]() -> std::string {
    const std::string path = "/vyn-login/v1/session";
    return ExpectDelivered(
        Put(*host, path,
            R"({"state":"SUCCEEDED","accountId":)" + std::to_string(kAccountId) +
                R"(,"summonerId":)" + std::to_string(kSummonerId) + R"(,"puuid":")" + kPuuid +
                R"(","idToken":")" + kIdToken + R"("})"),
        path);
  });

  steps.Run("end the game", [&]() -> std::string {
    const std::string path = "/vyn-gameflow/v1/session";
    return ExpectDelivered(
        Put(*host, path, R"({"phase":"EndOfGame","gameDodge":{"state":"Invalid","dodgeIds":[]}})"),
        path);
  });

  steps.Run("hand over the end-of-game statistics", [&]() -> std::string {
    const std::string path = "/vyn-end-of-game/v1/eog-stats-block";
    std::string failure = ExpectDelivered(
        Put(*host, path,
            R"({"gameId":7000123,"gameMode":"CLASSIC","gameType":"MATCHED_GAME","gameLength":1834,)"
            R"("accountId":)" +
                std::to_string(kAccountId) + R"(,"summonerId":)" + std::to_string(kSummonerId) +
                R"(,"summonerName":"DemoPlayer","teams":[]})"),
        path);
    if (!failure.empty()) return failure;
    const auto requests = service.surveyRequests();
    if (requests.empty()) return "the plugin asked the feedback service for no survey";
    const auto& request = requests.back();
    Show("service saw: POST .../players/", request.puuid + "/surveys?" + request.query);
    Show("authorization: ", request.authorization);
    if (request.puuid != kPuuid)
      return "the survey was asked for the player '" + request.puuid + "'";
    if (request.query.find("event_type=END_OF_GAME") == std::string::npos) {
      return "the survey request does not say that a game ended";
    }
    if (request.authorization != std::string("Bearer ") + kIdToken) {
      return "the survey request does not carry the player's token";
    }
    return "";
  });

  steps.Run("show the survey the plugin publishes", [&]() -> std::string {
    rapidjson::Document payload;
    if (!published.WaitForUri(kSurveyResource, payload)) {
      std::string names;
      for (const auto& name : published.Names()) names += " " + name;
      return std::string("the plugin published no update of ") + kSurveyResource +
             (names.empty() ? " (it published nothing)" : " (it published:" + names + ")");
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    payload.Accept(writer);
    ShowJson("event payload:", std::string(buffer.GetString(), buffer.GetSize()));
    if (!payload.HasMember("data") || !payload["data"].IsObject()) {
      return "the survey update carries no survey";
    }
    const auto& survey = payload["data"];
    if (!survey.HasMember("id") || !survey["id"].IsUint64()) return "the survey has no id";
    surveyId = survey["id"].GetUint64();
    if (surveyId != FeedbackService::kSurveyId) {
      return "the survey's id is " + std::to_string(surveyId) + ", not the one the service sent";
    }
    return "";
  });

  steps.Run("answer the survey and submit it", [&]() -> std::string {
    const std::string body = R"({"playerSurveyId":)" + std::to_string(surveyId) +
                             R"(,"action":"submit","data":[{"questionId":1,"value":5}]})";
    Show("POST /vyn-pft/v2/events ", body);
    const HttpReply reply =
        host->Handle({"POST", "/vyn-pft/v2/events", {{"Content-Type", "application/json"}}, body});
    Show("reply: ", std::to_string(reply.status) + (reply.body.empty() ? "" : " " + reply.body));
    if (reply.status < 200 || reply.status > 299) return "the plugin did not accept the answer";
    return "";
  });

  steps.Run("show the upload the service received", [&]() -> std::string {
    const auto uploads = service.uploads();
    if (uploads.empty()) return "the feedback service received no results";
    const auto& upload = uploads.back();
    Show("service saw: POST .../players/",
         upload.puuid + "/surveys/" + upload.surveyId + "/results");
    ShowJson("body:", upload.body);
    if (upload.puuid != kPuuid)
      return "the results were sent for the player '" + upload.puuid + "'";
    if (upload.surveyId != std::to_string(FeedbackService::kSurveyId)) {
      return "the results were sent for the survey '" + upload.surveyId + "'";
    }
    rapidjson::Document body;
    body.Parse(upload.body.c_str());
    if (body.HasParseError() || !body.IsObject() || !body.HasMember("questionResponses") ||
        !body["questionResponses"].IsArray() || body["questionResponses"].Empty()) {
      return "the results carry no answers";
    }
    const auto& first = body["questionResponses"][0];
    if (!first.IsObject() || !first.HasMember("questionId") || !first["questionId"].IsUint64() ||
        first["questionId"].GetUint64() != 1) {
      return "the first answer is not the one to question 1";
    }
    return "";
  });

  if (host) host->Stop();
  service.Stop();
  return steps.Finish();
}

}  // namespace vyn::host
