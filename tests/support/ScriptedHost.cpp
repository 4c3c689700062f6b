// The scripted test host.
#include "support/ScriptedHost.h"

#include <cstring>

#include "binding/HostValueConversion.h"
#include "formats/Json.h"
#include "plugin/EventSubscriber.h"

namespace vyn::test {

namespace {

void ReleaseAnswer(ResponseRecord* record) {
  HostValue value = record->error.value;
  binding::ReleaseHostValue(value);
  std::memset(static_cast<void*>(record), 0, sizeof *record);
}

}  // namespace

ScriptedHost::ScriptedHost(const PluginLibrary& library) {
  host.onRequest = [this](ResponseRecord* response, const RequestRecord* request) {
    const std::string path = request->path != nullptr ? request->path : "";
    const auto found = resources_.find(path);
    if (found == resources_.end()) {
      static const char kNotFound[] = "Not found";
      response->error.message = kNotFound;
      response->error.failed = 1;
      response->status = 404;
      return;
    }
    binding::BindingResult value = formats::ParseJson(found->second);
    response->error.value = binding::ToHostValue(value, nullptr);
    response->cleanup = &ReleaseAnswer;
  };
  host.onExternalRequest = [this](ExternalResponseRecord* response,
                                  const ExternalRequestRecord*) {
    ServiceAnswer answer{1, 0, "no service scripted"};
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
    }
    lastAnswerBody_ = answer.body;
    response->transport = answer.transport;
    response->status = answer.status;
    response->body = lastAnswerBody_.c_str();
    response->bodyLength = static_cast<uint32_t>(lastAnswerBody_.size());
  };
  if (!library.ok()) return;
  plugin_ = std::make_unique<LoadedPlugin>(library);
  if (!plugin_->loaded()) return;
  api_ = *plugin_->block().api;
  initialized_ = plugin_->Initialize(host);
}

ScriptedHost::~ScriptedHost() { plugin_.reset(); }

void ScriptedHost::SetResource(const std::string& path, const std::string& json) {
  resources_[path] = json;
}

void ScriptedHost::RemoveResource(const std::string& path) { resources_.erase(path); }

void ScriptedHost::SetUpSiblings(const std::string& backendUrl) {
  SetResource("/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl",
              "\"" + backendUrl + "\"");
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
  const std::string name = plugin::EventNameForPath(uri);
  return host.Deliver(name, event);
}

void ScriptedHost::Answer(int32_t transport, uint32_t status, const std::string& body) {
  answers_.push_back({transport, status, body});
}

void ScriptedHost::Call(const std::string& function, RequestBuilder& request,
                        HostResponse& response) {
  InvokeEndpoint(FindEndpoint(api_, function), request, response);
}

void ScriptedHost::Get(HostResponse& response) {
  RequestBuilder request(2, "/vyn-pft/v2/survey");
  Call("GetVynPftV2Survey", request, response);
}

void ScriptedHost::PostSurvey(const std::string& json, HostResponse& response) {
  RequestBuilder request(6, "/vyn-pft/v2/survey");
  request.Body("application/json", json);
  Call("PostVynPftV2Survey", request, response);
}

void ScriptedHost::PostEvent(const std::string& json, HostResponse& response) {
  RequestBuilder request(6, "/vyn-pft/v2/events");
  request.Body("application/json", json);
  Call("PostVynPftV2Events", request, response);
}

std::vector<const FakeHost::SentEvent*> ScriptedHost::SentUnder(const std::string& name) const {
  std::vector<const FakeHost::SentEvent*> sent;
  for (const auto& event : host.sentEvents) {
    if (event.name == name) sent.push_back(&event);
  }
  return sent;
}

std::string Crlf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace vyn::test
