// The test host with a script: sibling resources that local requests read, answers of the
// feedback service in order, and the plugin library loaded and initialised against it. Feature
// tests publish resource events, call endpoints and read what the plugin sent.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/FakeHost.h"
#include "support/HostRequests.h"

namespace vyn::test {

class ScriptedHost {
 public:
  // Loads the plugin library at `path` and initialises it; check ok() before use.
  explicit ScriptedHost(const char* path);
  ScriptedHost(const ScriptedHost&) = delete;
  ScriptedHost& operator=(const ScriptedHost&) = delete;

  bool ok() const { return initialized_; }
  const std::string& error() const { return library_.error(); }
  LoadedPlugin& plugin() { return *plugin_; }

  // A resource that local GETs answer with (JSON text); absent paths answer 404 "Not found".
  void SetResource(const std::string& path, const std::string& json) { resources_[path] = json; }
  void RemoveResource(const std::string& path) { resources_.erase(path); }
  // The usual siblings: backend url, region and locale, login data packet and builds.
  void SetUpSiblings();

  // Delivers a resource event as the sibling that owns `uri` would publish it.
  bool Publish(const std::string& uri, const std::string& eventType, const std::string& dataJson);
  // The next answers of the service, in order (the body is the error text when transport is not
  // 0); with none left a request fails to connect.
  void Answer(int32_t transport, uint32_t status, const std::string& body) {
    answers_.push_back({transport, status, body});
  }
  void ClearAnswers() { answers_.clear(); }  // drops the answers no request has taken

  // Calls an endpoint by function name; the outcome is "ok", or the status and message. The
  // response goes to `response` when one is given.
  std::string Call(const std::string& function, RequestBuilder& request,
                   HostResponse* response = nullptr);
  std::string Get(HostResponse* response = nullptr);  // GET "/vyn-pft/v2/survey"
  std::string PostEvent(const std::string& json);

  // The events the plugin published under `name`, oldest first.
  std::vector<const FakeHost::SentEvent*> SentUnder(const std::string& name) const;
  // The last request that reached the service; fails the test when none did.
  const FakeHost::SeenExternalRequest& LastServiceRequest() const;

  FakeHost host;

 private:
  struct ServiceAnswer { int32_t transport; uint32_t status; std::string body; };

  std::map<std::string, std::string> resources_;
  std::deque<ServiceAnswer> answers_;
  ServiceAnswer last_;  // the body is the host's until the next external request
  PluginLibrary library_;
  std::unique_ptr<LoadedPlugin> plugin_;  // unloads before the library closes
  bool initialized_ = false;
};

std::string Outcome(const HostResponse& response);  // as Call() gives it

}  // namespace vyn::test
