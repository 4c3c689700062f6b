// The scripted test host.
#include "support/ScriptedHost.h"

#include <gtest/gtest.h>

#include <cstring>

#include "binding/HostValueConversion.h"
#include "formats/Json.h"
#include "plugin/EventSubscriber.h"

namespace vyn::test {

ScriptedHost::ScriptedHost(const char* path) : library_(path) {
  host.onRequest = [this](ResponseRecord* response, const RequestRecord* request) {
    const auto found = resources_.find(request->path != nullptr ? request->path : "");
    if (found == resources_.end()) {
      response->error.message = "Not found";
      response->error.failed = 1;
      response->status = 404;
      return;
    }
    binding::BindingResult value = formats::ParseJson(found->second);
    response->error.value = binding::ToHostValue(value, nullptr);
    response->cleanup = [](ResponseRecord* record) {
      HostValue lent = record->error.value;
      binding::ReleaseHostValue(lent);
      std::memset(static_cast<void*>(record), 0, sizeof *record);
    };
  };
  host.onExternalRequest = [this](ExternalResponseRecord* response,
                                  const ExternalRequestRecord*) {
    last_ = answers_.empty() ? ServiceAnswer{1, 0, "no service scripted"} : answers_.front();
    if (!answers_.empty()) answers_.pop_front();
    response->transport = last_.transport;
    response->status = last_.status;
    response->body = last_.body.c_str();
    response->bodyLength = static_cast<uint32_t>(last_.body.size());
  };
  if (library_.ok()) plugin_ = std::make_unique<LoadedPlugin>(library_);
  initialized_ = plugin_ != nullptr && plugin_->loaded() && plugin_->Initialize(host);
}

void ScriptedHost::SetUpSiblings() {
  SetResource("/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl",
              "\"https://pft.test\"");
  SetResource("/tarnclient/region-locale",
              R"({"region": "NA 1", "locale": "en_US", "webRegion": "na", "webLanguage": "en"})");
  SetResource("/vyn-login/v1/login-data-packet", R"({"platformId": "NA1", "other": 5})");
  SetResource("/system/v1/builds", R"({"codeBuildId": "code-7", "contentBuildId": "content-9"})");
}

bool ScriptedHost::Publish(const std::string& uri, const std::string& eventType,
                           const std::string& dataJson) {
  binding::BindingProperty event;
  event.memberAt("uri").setString(uri);
  event.memberAt("eventType").setString(eventType);
  binding::BindingResult data = formats::ParseJson(dataJson);
  if (!data.ok()) return false;
  event.memberAt("data").moveFrom(data);
  // The host's bus names the event after the resource, as the plugin subscribed to it.
  return host.Deliver(plugin::EventNameForPath(uri), event);
}

std::string ScriptedHost::Call(const std::string& function, RequestBuilder& request,
                               HostResponse* response) {
  HostResponse own;
  HostResponse& out = response != nullptr ? *response : own;
  InvokeEndpoint(FindEndpoint(*plugin_->block().api, function), request, out);
  return Outcome(out);
}

std::string ScriptedHost::Get(HostResponse* response) {
  RequestBuilder request(2, "/vyn-pft/v2/survey");
  return Call("GetVynPftV2Survey", request, response);
}

std::string ScriptedHost::PostEvent(const std::string& json) {
  RequestBuilder request(6, "/vyn-pft/v2/events");
  return Call("PostVynPftV2Events", request.Body("application/json", json));
}

std::vector<const FakeHost::SentEvent*> ScriptedHost::SentUnder(const std::string& name) const {
  std::vector<const FakeHost::SentEvent*> sent;
  for (const auto& event : host.sentEvents) {
    if (event.name == name) sent.push_back(&event);
  }
  return sent;
}

const FakeHost::SeenExternalRequest& ScriptedHost::LastServiceRequest() const {
  static const FakeHost::SeenExternalRequest kNone{};
  if (!host.externalRequests.empty()) return host.externalRequests.back();
  ADD_FAILURE() << "no request reached the service";
  return kNone;
}

std::string Outcome(const HostResponse& response) {
  if (!response.failed()) return "ok";
  return std::to_string(response.Status()) + " " + response.ErrorText();
}

}  // namespace vyn::test
