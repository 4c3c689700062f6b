// A small stand-in for the remote feedback service, on the loopback interface: it offers one
// survey to every player who asks and records the results it is sent. The demo points the
// plugin at it.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace vyn::host {

class FeedbackService {
 public:
  struct SurveyRequest {
    std::string puuid;
    std::string query;
    std::string authorization;
    std::string body;
  };
  struct ResultsUpload {
    std::string puuid;
    std::string surveyId;
    std::string body;
  };

  // The survey offered: an internal one with a single rating question.
  static constexpr unsigned long long kSurveyId = 4242;
  static std::string SurveyJson();

  // When announcing, each request received is told on stderr, so that someone serving the
  // plugin sees the service at work.
  explicit FeedbackService(bool announce = false);
  ~FeedbackService();  // Stop()
  FeedbackService(const FeedbackService&) = delete;
  FeedbackService& operator=(const FeedbackService&) = delete;

  // Listens on 127.0.0.1 at a free port; returns false when it cannot.
  [[nodiscard]] bool Start();
  void Stop();
  // "http://127.0.0.1:<port>"
  std::string BaseUrl() const;

  // The latest requests and uploads, at most kKeptRecords of each: a service that runs inside
  // a long-lived host must not grow with every round.
  static constexpr size_t kKeptRecords = 64;
  std::vector<SurveyRequest> surveyRequests() const;
  std::vector<ResultsUpload> uploads() const;

 private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::atomic<bool> listening_{false};
  int port_ = 0;
  bool announce_ = false;
  mutable std::mutex mutex_;  // guards surveyRequests_ and uploads_
  std::vector<SurveyRequest> surveyRequests_;
  std::vector<ResultsUpload> uploads_;
};

}  // namespace vyn::host
