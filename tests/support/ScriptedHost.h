// The test host with a script: sibling resources that local requests read, answers of the
// feedback service in order, and the plugin library loaded and initialised against it. Feature
// tests publish resource events, call endpoints and read what the plugin sent.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "support/FakeHost.h"
#include "support/HostRequests.h"

namespace vyn::test {

class ScriptedHost {
 public:
  struct ServiceAnswer {
    int32_t transport = 0;
    uint32_t status = 200;
    std::string body;  // the error text when transport is not 0
  };

  // Loads the plugin from `library` and initialises it; check ok() before use.
  explicit ScriptedHost(const PluginLibrary& library);
  ~ScriptedHost();
  ScriptedHost(const ScriptedHost&) = delete;
  ScriptedHost& operator=(const ScriptedHost&) = delete;

  bool ok() const { return plugin_ != nullptr && plugin_->loaded() && initialized_; }
  LoadedPlugin& plugin() { return *plugin_; }

  // A resource that local GETs answer with (JSON text); absent paths answer 404 "Not found".
  void SetResource(const std::string& path, const std::string& json);
  void RemoveResource(const std::string& path);
  // The usual siblings: backend url, region and locale, login data packet and builds.
  void SetUpSiblings(const std::string& backendUrl = "https://pft.test");

  // Delivers a resource event as the sibling that owns `uri` would publish it.
  bool Publish(const std::string& uri, const std::string& eventType, const std::string& dataJson);
  // The next answers of the service, in order; with none left a request fails to connect.
  void Answer(int32_t transport, uint32_t status, const std::string& body);
  // Drops the answers no request has taken yet.
  void ClearAnswers() { answers_.clear(); }

  // Calls an endpoint by function name.
  void Call(const std::string& function, RequestBuilder& request, HostResponse& response);
  void Get(HostResponse& response);  // GET "/vyn-pft/v2/survey"
  void PostSurvey(const std::string& json, HostResponse& response);
  void PostEvent(const std::string& json, HostResponse& response);

  // The events the plugin published under `name`, oldest first.
  std::vector<const FakeHost::SentEvent*> SentUnder(const std::string& name) const;

  FakeHost host;

 private:
  std::map<std::string, std::string> resources_;
  std::deque<ServiceAnswer> answers_;
  std::string lastAnswerBody_;  // the host's until the next external request
  std::unique_ptr<LoadedPlugin> plugin_;
  bool initialized_ = false;
  ApiDescription api_{};
};

// Text with every "\n" written as "\r\n", as the plugin's pretty JSON has it.
std::string Crlf(const std::string& text);

}  // namespace vyn::test
