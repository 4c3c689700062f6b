// A tiny plugin built only on the host boundary header, for driving the reference host in
// tests: four endpoints, one subscription, published events, local and outgoing requests, and
// a record of how the host gave its answers back.
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "plugin/HostAbi.h"

namespace {

constexpr char kSubscribed[] = "OnJsonApiEvent_vyn-login_v1_session";
constexpr uint32_t kGet = 2;
constexpr uint32_t kPost = 6;

// Every answer this plugin hands the host, kept until the host calls its cleanup.
struct Answer {
  std::vector<std::unique_ptr<std::string>> texts;
  std::vector<HostMember> members;
  std::string message;
};

struct State {
  const HostApi* api = nullptr;
  int contextTag = 0;
  // What arrived through the subscription.
  unsigned events = 0;
  std::string lastEvent, lastUri, lastEventType, lastPuuid;
  bool contextMatched = true;
  // How the host gave answers back: every answer once, never an unknown one.
  unsigned answers = 0, cleanups = 0, badCleanups = 0;
  std::map<const void*, std::unique_ptr<Answer>> live;
};

State* gState = nullptr;

HostFunctions* Functions() { return gState->api->functions; }

void Log(int32_t level, const char* message) { Functions()->log(Functions(), level, message); }

std::string StringOf(const HostValue& value) {
  if (value.kind != kHostValueStringBorrowed && value.kind != kHostValueStringOwned) return "";
  return std::string(static_cast<const char*>(value.payload.ref.ptr), value.payload.ref.count);
}

bool MemberOf(const HostValue& structure, const char* name, HostValue& out) {
  if (structure.kind != kHostValueStructure) return false;
  const auto* members = static_cast<const HostMember*>(structure.payload.ref.ptr);
  for (uint32_t i = 0; i < structure.payload.ref.count; ++i) {
    HostMember member;
    std::memcpy(&member, members + i, sizeof member);
    if (member.name != nullptr && std::strcmp(member.name, name) == 0) {
      out = member.value;
      return true;
    }
  }
  return false;
}

void OnEvent(const EventRecord* event) {
  State& s = *gState;
  ++s.events;
  s.lastEvent = event->name != nullptr ? event->name : "";
  s.contextMatched = s.contextMatched && event->context == &s.contextTag;
  const HostValue payload = event->payload;
  HostValue member{};
  s.lastUri = MemberOf(payload, "uri", member) ? StringOf(member) : "";
  s.lastEventType = MemberOf(payload, "eventType", member) ? StringOf(member) : "";
  HostValue data{};
  s.lastPuuid =
      MemberOf(payload, "data", data) && MemberOf(data, "puuid", member) ? StringOf(member) : "";
}

class ResultBuilder {
 public:
  void Text(const char* name, const std::string& text) {
    HostValue value{};
    value.kind = kHostValueStringOwned;
    answer_->texts.push_back(std::make_unique<std::string>(text));
    value.payload.ref.ptr = answer_->texts.back()->c_str();
    value.payload.ref.count = static_cast<uint32_t>(text.size());
    Add(name, value);
  }
  void Number(const char* name, uint64_t number) {
    HostValue value{};
    value.kind = kHostValueUnsigned;
    value.payload.u = number;
    Add(name, value);
  }
  void Flag(const char* name, bool flag) {
    HostValue value{};
    value.kind = kHostValueBool;
    value.payload.b = flag ? 1 : 0;
    Add(name, value);
  }

  void Succeed(ResponseRecord* response) {
    HostValue root{};
    root.kind = kHostValueStructure;
    root.payload.ref.ptr = answer_->members.data();
    root.payload.ref.count = static_cast<uint32_t>(answer_->members.size());
    response->error.value = root;
    Keep(response, answer_->members.data());
  }

  void Fail(ResponseRecord* response, uint32_t status, const std::string& message) {
    answer_->message = message;
    response->error.message = answer_->message.c_str();
    response->error.failed = 1;
    response->status = status;
    Keep(response, answer_->message.c_str());
  }

 private:
  void Add(const char* name, const HostValue& value) {
    HostMember member{};
    answer_->texts.push_back(std::make_unique<std::string>(name));
    member.name = answer_->texts.back()->c_str();
    member.value = value;
    answer_->members.push_back(member);
  }

  static void Cleanup(ResponseRecord* record) {
    State& s = *gState;
    const HostError error = record->error;
    const void* key = error.message != nullptr ? static_cast<const void*>(error.message)
                                               : error.value.payload.ref.ptr;
    if (s.live.erase(key) == 1) {
      ++s.cleanups;
    } else {
      ++s.badCleanups;
    }
    std::memset(static_cast<void*>(record), 0, sizeof *record);
  }

  void Keep(ResponseRecord* response, const void* key) {
    ++gState->answers;
    response->cleanup = Cleanup;
    gState->live[key] = std::move(answer_);
  }

  std::unique_ptr<Answer> answer_ = std::make_unique<Answer>();
};

std::string BodyText(const RequestRecord* request) {
  if (request->body == nullptr) return "";
  const char* body = static_cast<const char*>(request->body);
  // The host promises a NUL after the body.
  if (body[request->bodyLength] != '\0') return "<body not terminated>";
  return std::string(body, request->bodyLength);
}

void State_(ResponseRecord* response) {
  const State& s = *gState;
  ResultBuilder result;
  result.Number("events", s.events);
  result.Text("lastEvent", s.lastEvent);
  result.Text("lastUri", s.lastUri);
  result.Text("lastEventType", s.lastEventType);
  result.Text("lastPuuid", s.lastPuuid);
  result.Flag("contextMatched", s.contextMatched);
  result.Number("answers", s.answers);
  result.Number("cleanups", s.cleanups);
  result.Number("badCleanups", s.badCleanups);
  result.Succeed(response);
}

void Publish(const RequestRecord* request) {
  const std::string body = BodyText(request);
  HostMember members[3] = {};
  members[0].name = "uri";
  members[0].value.kind = kHostValueStringBorrowed;
  members[0].value.payload.ref.ptr = "/fake/v1/thing";
  members[0].value.payload.ref.count = 14;
  members[1].name = "eventType";
  members[1].value.kind = kHostValueStringBorrowed;
  members[1].value.payload.ref.ptr = "Update";
  members[1].value.payload.ref.count = 6;
  members[2].name = "data";
  members[2].value.kind = kHostValueStringBorrowed;
  members[2].value.payload.ref.ptr = body.c_str();
  members[2].value.payload.ref.count = static_cast<uint32_t>(body.size());
  EventRecord event{};
  event.payload.kind = kHostValueStructure;
  event.payload.payload.ref.ptr = members;
  event.payload.payload.ref.count = 3;
  event.name = "OnJsonApiEvent_fake_v1_thing";
  Functions()->sendEvent(Functions(), &event);
  event.name = "OnJsonApiEvent";
  Functions()->sendEvent(Functions(), &event);
}

void Fetch(ResponseRecord* response, const RequestRecord* request) {
  const std::string url = BodyText(request);
  const HostHeader headers[] = {{"X-Fake", "yes"}};
  ExternalRequestRecord outgoing{};
  outgoing.method = kPost;
  outgoing.url = url.c_str();
  outgoing.headers = headers;
  outgoing.headerCount = 1;
  outgoing.body = "ping";
  outgoing.bodyLength = 4;
  ExternalResponseRecord answer{};
  Functions()->externalRequest(Functions(), &answer, &outgoing);
  ResultBuilder result;
  const std::string text =
      answer.body != nullptr ? std::string(answer.body, answer.bodyLength) : "";
  if (answer.transport != 0) {
    result.Fail(response, 502, "fetch failed: " + text);
    return;
  }
  std::string upstream;
  for (uint32_t i = 0; i < answer.headerCount; ++i) {
    HostHeader header;
    std::memcpy(&header, answer.headers + i, sizeof header);
    if (std::strcmp(header.name, "X-Upstream") == 0) upstream = header.value;
  }
  result.Number("status", answer.status);
  result.Text("body", text);
  result.Text("header", upstream);
  result.Succeed(response);
}

void Lookup(ResponseRecord* response, const RequestRecord* request) {
  const std::string path = BodyText(request);
  RequestRecord local{};
  local.method = kGet;
  local.path = path.c_str();
  local.hostHandle = gState->api->hostHandle;
  ResponseRecord answer{};
  Functions()->request(Functions(), &answer, &local);
  const HostError error = answer.error;
  ResultBuilder result;
  result.Number("status", answer.status);
  result.Text("error", error.message != nullptr ? error.message : "");
  result.Number("kind", error.value.kind);
  result.Text("text", StringOf(error.value));
  HostValue member{};
  result.Text("region", MemberOf(error.value, "region", member) ? StringOf(member) : "");
  result.Flag("cleanupSet", answer.cleanup != nullptr);
  if (answer.cleanup != nullptr) answer.cleanup(&answer);
  result.Flag("zeroedAfterCleanup",
              answer.error.value.kind == 0 && answer.error.message == nullptr);
  result.Succeed(response);
}

struct Endpoint {
  uint32_t method;
  const char* path;
  void (*handle)(ResponseRecord*, const RequestRecord*);
};

const Endpoint kEndpoints[] = {
    {kGet, "/fake/v1/state", [](ResponseRecord* r, const RequestRecord*) { State_(r); }},
    {kPost, "/fake/v1/publish", [](ResponseRecord*, const RequestRecord* q) { Publish(q); }},
    {kPost, "/fake/v1/fetch", Fetch},
    {kPost, "/fake/v1/lookup", Lookup},
};
constexpr uint32_t kEndpointCount = sizeof kEndpoints / sizeof kEndpoints[0];

void Invoke(ResponseRecord* response, const RequestRecord* request) {
  const auto* endpoint = static_cast<const Endpoint*>(request->endpointContext);
  if (endpoint == nullptr || request->method != endpoint->method ||
      std::strcmp(request->path, endpoint->path) != 0) {
    ResultBuilder().Fail(response, 404, "Invalid function");
    return;
  }
  endpoint->handle(response, request);
}

// The description tables, linked at load.
EndpointDescriptor gDescriptors[kEndpointCount];
HostArgumentRecord gArgument;
ArgumentLocationRecord gLocation;
HostFieldRecord gFields[2];
HostEnumeratorRecord gEnumerators[2];
HostTypeRecord gTypes[2];
HostEventRecord gEvent;
ApiDescription gDescription;
const char* const kTags[] = {"fake", "test"};

void BuildDescription() {
  gArgument = HostArgumentRecord{nullptr, "url", "", 12, 0, "", 0};
  gLocation = ArgumentLocationRecord{nullptr, 5};
  const char* const names[] = {"GetFakeV1State", "PostFakeV1Publish", "PostFakeV1Fetch",
                               "PostFakeV1Lookup"};
  for (uint32_t i = 0; i < kEndpointCount; ++i) {
    EndpointDescriptor d{};
    d.function.next = i + 1 < kEndpointCount ? &gDescriptors[i + 1] : nullptr;
    d.function.endpointContext = const_cast<Endpoint*>(&kEndpoints[i]);
    d.function.name = names[i];
    d.function.nameSpace = "";
    d.function.tags = kTags;
    d.function.tagCount = 2;
    if (i == 2) {
      d.function.arguments = &gArgument;
      d.function.argumentCount = 1;
      d.argumentLocations = &gLocation;
    }
    d.invoke = Invoke;
    d.pathTemplate = kEndpoints[i].path;
    d.methodCode = kEndpoints[i].method;
    std::memcpy(&gDescriptors[i], &d, sizeof d);
  }
  gFields[0] = HostFieldRecord{&gFields[1], "count", "", 0, 7, 0, "", 0};
  gFields[1] = HostFieldRecord{nullptr, "colors", "", 8, 15, 16, "FakeColor", 1};
  gEnumerators[0] = HostEnumeratorRecord{&gEnumerators[1], "Blue", "", 7};
  gEnumerators[1] = HostEnumeratorRecord{nullptr, "Red", "", -1};
  gTypes[0] = HostTypeRecord{&gTypes[1], "FakeState", "", 32, "", kTags, 2, gFields, nullptr, 2};
  gTypes[1] = HostTypeRecord{nullptr, "FakeColor", "", 4, "", nullptr, 0, nullptr, gEnumerators, 2};
  gEvent = HostEventRecord{nullptr,
                           "OnJsonApiEvent",
                           "",
                           "PluginResourceEvent",
                           "Fired when a resource is changed.",
                           nullptr,
                           0};
  gDescription = ApiDescription{gDescriptors, kEndpointCount, gTypes, 2, &gEvent, 1};
}

uint8_t Initialize(void* context, const HostApi* api) {
  gState = static_cast<State*>(context);
  gState->api = api;
  Functions()->subscribe(Functions(), kSubscribed, api->hostHandle, OnEvent, &gState->contextTag,
                         0);
  Log(3, "fake plugin ready");
  return 1;
}

void Unload(void* context) {
  auto* state = static_cast<State*>(context);
  if (state->api != nullptr) {
    Functions()->unsubscribe(Functions(), kSubscribed, state->api->hostHandle);
    Log(3, "fake plugin unloading");
  }
  std::unique_ptr<State> owned(state);
  gState = nullptr;
}

void MemoryStats(void*, uint32_t out[14]) { std::memset(out, 0, 14 * sizeof(uint32_t)); }

const PluginCallbacks kCallbacks = {Initialize, Unload, MemoryStats};

}  // namespace

extern "C" __attribute__((visibility("default"))) void load_vyn_pft(PluginLoadBlock* block) {
  if (block == nullptr || block->major != 18) return;
  BuildDescription();
  auto state = std::make_unique<State>();
  gState = state.get();
  block->major = 18;
  block->minor = 0;
  block->patch = 0;
  block->callbacks = &kCallbacks;
  block->context = state.release();
  block->shortName = "fake";
  block->api = &gDescription;
}
