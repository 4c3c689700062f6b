// A stand-in feedback service on the loopback interface.
#include "host/FeedbackService.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>

namespace vyn::host {

std::string FeedbackService::SurveyJson() {
  return R"({"id":)" + std::to_string(kSurveyId) +
         R"(,"title":"How was your game?","caption":"Tell us in one click.",)"
         R"("type":"internal","display":"modal","data":{"questions":[)"
         R"({"id":"1","type":"rating","data":{"text":"How much did you enjoy this game?",)"
         R"("min":1,"max":5}}]}})";
}

FeedbackService::FeedbackService(bool announce)
    : server_(std::make_unique<httplib::Server>()), announce_(announce) {}

FeedbackService::~FeedbackService() { Stop(); }

bool FeedbackService::Start() {
  server_->Post(
      R"(/player-feedback-tool/v1/players/([^/]+)/surveys)",
      [this](const httplib::Request& request, httplib::Response& response) {
        const std::string target = request.target;
        const size_t query = target.find('?');
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (surveyRequests_.size() >= kKeptRecords)
            surveyRequests_.erase(surveyRequests_.begin());
          surveyRequests_.push_back({request.matches[1].str(),
                                     query == std::string::npos ? "" : target.substr(query + 1),
                                     request.get_header_value("Authorization"), request.body});
        }
        if (announce_) {
          std::fprintf(stderr, "vyn-host: feedback service: survey %llu offered to player %s\n",
                       kSurveyId, request.matches[1].str().c_str());
        }
        response.set_content(SurveyJson(), "application/json");
      });
  server_->Post(
      R"(/player-feedback-tool/v2/players/([^/]+)/surveys/([^/]+)/results)",
      [this](const httplib::Request& request, httplib::Response& response) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (uploads_.size() >= kKeptRecords) uploads_.erase(uploads_.begin());
          uploads_.push_back({request.matches[1].str(), request.matches[2].str(), request.body});
        }
        if (announce_) {
          std::fprintf(stderr,
                       "vyn-host: feedback service: results for survey %s from player %s: %s\n",
                       request.matches[2].str().c_str(), request.matches[1].str().c_str(),
                       request.body.c_str());
        }
        response.status = 204;
      });
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) return false;
  listening_ = true;
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    listening_ = false;
  });
  // A stop that comes before the server runs is lost, and the server would then run on.
  while (listening_ && !server_->is_running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return listening_;
}

void FeedbackService::Stop() {
  if (!thread_.joinable()) return;
  server_->stop();
  thread_.join();
}

std::string FeedbackService::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<FeedbackService::SurveyRequest> FeedbackService::surveyRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return surveyRequests_;
}

std::vector<FeedbackService::ResultsUpload> FeedbackService::uploads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return uploads_;
}

}  // namespace vyn::host
