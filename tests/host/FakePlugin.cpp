// A tiny plugin on the host boundary header alone, for driving the reference host in tests: four
// endpoints, a subscription, events, requests, memory counted honestly and a record of how the
// host gave answers back. Built as it is, it keeps the contract; the validator's tests also build
// one copy per fault that VYN_FAULT plants in it.
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "base/HostAbi.h"

namespace {

// In the order of the build's list; 0 plants nothing.
enum Fault { kNone, kSecondExport, kLeak, kCrash, kNoCleanup, kUndefinedType, kNoRefusal };
constexpr Fault kFault = static_cast<Fault>(VYN_FAULT);

constexpr char kSubscribed[] = "OnJsonApiEvent_vyn-login_v1_session";
constexpr uint32_t kGet = 2, kPost = 6;

struct State {
  const HostApi* api = nullptr;
  int contextTag = 0;
  std::string lastEvent = "none";  // "<count> <name> <uri> <event type> <data.puuid>"
  unsigned events = 0, answers = 0, cleanups = 0, badCleanups = 0;
  std::set<const void*> live;  // answers the host still holds
};
State* gState = nullptr;

struct Counters {
  uint64_t peakBytes, peakBlocks, bytesAllocated, blocksAllocated, bytesFreed, blocksFreed;
} gCounters;

void* Allocate(size_t size) {
  void* block = std::malloc(size);
  gCounters.bytesAllocated += malloc_usable_size(block);
  ++gCounters.blocksAllocated;
  if (gCounters.bytesAllocated - gCounters.bytesFreed > gCounters.peakBytes) {
    gCounters.peakBytes = gCounters.bytesAllocated - gCounters.bytesFreed;
    gCounters.peakBlocks = gCounters.blocksAllocated - gCounters.blocksFreed;
  }
  return block;
}

HostFunctions* Functions() { return gState->api->functions; }

std::string StringOf(const HostValue& value) {
  if (value.kind != kHostValueStringBorrowed && value.kind != kHostValueStringOwned) return "";
  return std::string(static_cast<const char*>(value.payload.ref.ptr), value.payload.ref.count);
}

HostValue MemberOf(const HostValue& structure, const char* name) {
  const auto* members = static_cast<const HostMember*>(structure.payload.ref.ptr);
  const uint32_t count = structure.kind == kHostValueStructure ? structure.payload.ref.count : 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (std::strcmp(members[i].name, name) == 0) return members[i].value;  // packed: copied
  }
  return HostValue{};
}

void OnEvent(const EventRecord* event) {
  State& s = *gState;
  const HostValue payload = event->payload;
  s.lastEvent = std::to_string(++s.events) + " " + event->name + " " +
                StringOf(MemberOf(payload, "uri")) + " " +
                StringOf(MemberOf(payload, "eventType")) + " " +
                StringOf(MemberOf(MemberOf(payload, "data"), "puuid")) +
                (event->context == &s.contextTag ? "" : " (wrong context)");
}

// The host must call this exactly once for every answer, and never for anything else.
void Cleanup(ResponseRecord* record) {
  const HostError error = record->error;
  void* key = const_cast<char*>(error.message != nullptr
                                    ? error.message
                                    : static_cast<const char*>(error.value.payload.ref.ptr));
  if (gState->live.erase(key) == 0) {
    ++gState->badCleanups;
  } else {
    ++gState->cleanups;
    gCounters.bytesFreed += malloc_usable_size(key);
    ++gCounters.blocksFreed;
    std::free(key);
  }
  std::memset(static_cast<void*>(record), 0, sizeof *record);
}

// A text answer; a failure when status is not 200, with that status (0 included).
void Answer(ResponseRecord* response, const std::string& text, uint32_t status = 200) {
  auto* kept = static_cast<char*>(Allocate(text.size() + 1));
  std::memcpy(kept, text.c_str(), text.size() + 1);
  if (status != 200) {
    response->error.message = kept;
    response->error.failed = 1;
    response->status = status;
  } else {
    const uint32_t size = static_cast<uint32_t>(text.size());
    response->error.value = {kHostValueStringOwned, {.ref = {kept, size}}};
  }
  response->cleanup = kFault == kNoCleanup ? nullptr : Cleanup;
  ++gState->answers;
  gState->live.insert(kept);
}

const char* const kRoutes[] = {"/fake/v1/state", "/fake/v1/publish", "/fake/v1/fetch",
                               "/fake/v1/lookup"};

void Invoke(ResponseRecord* response, const RequestRecord* request) {
  State& s = *gState;
  const std::string path = request->path;
  const char* bytes = static_cast<const char*>(request->body);
  std::string body(bytes != nullptr ? bytes : "", request->bodyLength);
  // The host promises a NUL after the body.
  if (bytes != nullptr && bytes[request->bodyLength] != '\0') body = "<body not terminated>";
  if (kFault == kLeak) static_cast<void>(Allocate(8));
  // Nested at least 32 deep, as JSON or YAML flow text or as MessagePack arrays.
  if (kFault == kCrash &&
      (std::strspn(body.c_str(), "[") >= 32 || std::strspn(body.c_str(), "\x91") >= 32)) {
    *static_cast<volatile int*>(nullptr) = 1;  // as if the nesting had been followed blindly
  }
  const std::string route = static_cast<const char*>(request->endpointContext);
  if (path != route || request->method != (route == kRoutes[0] ? kGet : kPost)) {
    Answer(response, "Invalid function", 404);
  } else if (path == "/fake/v1/state") {
    Answer(response, "answers " + std::to_string(s.answers) + ", cleanups " +
                         std::to_string(s.cleanups) + ", bad " + std::to_string(s.badCleanups) +
                         "; " + s.lastEvent);
  } else if (path == "/fake/v1/publish" && body.empty()) {
    Answer(response, "nothing to publish", 0);
  } else if (path == "/fake/v1/publish" && std::any_of(body.begin(), body.end(), [](char c) {
               return static_cast<unsigned char>(c) - 0x20u >= 0x5fu;
             })) {
    Answer(response, "only printable text is published", 0);  // events carry UTF-8 text
  } else if (path == "/fake/v1/publish") {
    const uint32_t size = static_cast<uint32_t>(body.size());
    // "deep" publishes data nested deeper than any host converts.
    static HostValue deep[300];
    for (size_t i = 0; i + 1 < 300; ++i)
      deep[i] = {kHostValueCollection, {.ref = {&deep[i + 1], 1}}};
    const HostValue data = body == "deep"
                               ? deep[0]
                               : HostValue{kHostValueStringBorrowed, {.ref = {body.c_str(), size}}};
    const HostMember members[3] = {
        {"uri", {kHostValueStringBorrowed, {.ref = {"/fake/v1/thing", 14}}}, 0},
        {"eventType", {kHostValueStringBorrowed, {.ref = {"Update", 6}}}, 0},
        {"data", data, 0}};
    EventRecord event{
        "OnJsonApiEvent_fake_v1_thing", {kHostValueStructure, {.ref = {members, 3}}}, 0, nullptr};
    Functions()->sendEvent(Functions(), &event);
    event.name = "OnJsonApiEvent";
    Functions()->sendEvent(Functions(), &event);
  } else if (path == "/fake/v1/fetch") {
    const ExternalRequestRecord outgoing{kPost, body.c_str(), nullptr, 0, "ping", 4, 0, 0};
    ExternalResponseRecord answer{};
    Functions()->externalRequest(Functions(), &answer, &outgoing);
    const std::string text(answer.body, answer.bodyLength);
    if (answer.transport != 0) return Answer(response, "fetch failed: " + text, 502);
    Answer(response, std::to_string(answer.status) + " " + text);
  } else {  // lookup: a local GET of the body's path, and how its answer came
    const RequestRecord local{kGet, body.c_str(), nullptr, 0, nullptr,           nullptr,
                              0,    nullptr,      nullptr, 0, s.api->hostHandle, nullptr};
    ResponseRecord answer{};
    Functions()->request(Functions(), &answer, &local);
    const HostError error = answer.error;
    std::string text = std::to_string(answer.status) + " kind " + std::to_string(error.value.kind) +
                       " " + (error.message != nullptr ? error.message : StringOf(error.value)) +
                       StringOf(MemberOf(error.value, "region"));
    if (answer.cleanup == nullptr) text += " (no cleanup)";
    if (answer.cleanup != nullptr) answer.cleanup(&answer);
    if (answer.error.value.kind != 0 || answer.error.message != nullptr) text += " (kept)";
    Answer(response, text);
  }
}

const char* const kTags[] = {"fake", "test", "tclient"};  // the last marks a built-in type
const char* const kNames[] = {"GetFakeV1State", "PostFakeV1Publish", "PostFakeV1Fetch",
                              "PostFakeV1Lookup"};
// Lookup declares a record, which the validator fills its well-formed bodies from; it reads any
// body as a path.
const HostArgumentRecord kArguments[2] = {{nullptr, "url", "", 12, 0, "", 0},
                                          {nullptr, "state", "", 17, 0, "FakeState", 0}};
const ArgumentLocationRecord kLocation{nullptr, 5};
const HostFieldRecord kFields[2] = {
    {&kFields[1], "count", "", 0, 7, 0, "", 0},
    {nullptr, "colors", "", 8, 15, 16, kFault == kUndefinedType ? "FakeTint" : "FakeColor", 1}};
const HostEnumeratorRecord kEnumerators[2] = {{&kEnumerators[1], "Blue", "", 7},
                                              {nullptr, "Red", "", -1}};
const HostTypeRecord kTypes[3] = {
    {&kTypes[1], "FakeState", "", 32, "", kTags, 2, kFields, nullptr, 2},
    {&kTypes[2], "FakeColor", "", 4, "", &kTags[2], 1, nullptr, kEnumerators, 2},
    {nullptr, "PluginResourceEvent", "", 0, "", &kTags[2], 1, nullptr, nullptr, 0}};
const HostEventRecord kEvents[1] = {{nullptr, "OnJsonApiEvent", "", "PluginResourceEvent",
                                     "Fired when a resource is changed.", nullptr, 0}};
EndpointDescriptor gDescriptors[4];
const ApiDescription kDescription{gDescriptors, 4, kTypes, 3, kEvents, 1};

uint8_t Initialize(void* context, const HostApi* api) {
  gState = static_cast<State*>(context);
  gState->api = api;
  Functions()->subscribe(Functions(), kSubscribed, api->hostHandle, OnEvent, &gState->contextTag,
                         0);
  Functions()->log(Functions(), 3, "fake plugin ready");
  return 1;
}

void Unload(void* context) {
  std::unique_ptr<State> state(static_cast<State*>(context));
  Functions()->unsubscribe(Functions(), kSubscribed, state->api->hostHandle);
  Functions()->log(Functions(), 3, "fake plugin unloading");
}

void MemoryStats(void*, uint32_t out[14]) {
  const uint64_t counters[6] = {gCounters.peakBytes,      gCounters.peakBlocks,
                                gCounters.bytesAllocated, gCounters.blocksAllocated,
                                gCounters.bytesFreed,     gCounters.blocksFreed};
  for (int i = 0; i < 6; ++i) {
    out[2 * i] = static_cast<uint32_t>(counters[i]);
    out[2 * i + 1] = static_cast<uint32_t>(counters[i] >> 32);
  }
  out[12] = out[13] = 0;
}

const PluginCallbacks kCallbacks = {Initialize, Unload, MemoryStats};

}  // namespace

#if VYN_FAULT == 1  // kSecondExport
extern "C" __attribute__((visibility("default"))) int fault_second_export() { return 1; }
#endif

extern "C" __attribute__((visibility("default"))) void load_vyn_pft(PluginLoadBlock* block) {
  if (block->major != 18 && kFault != kNoRefusal) {
    std::fprintf(stderr, "Assertion failed!\n\nExpression: host plugin API %u\n", block->major);
    std::abort();
  }
  for (uint32_t i = 0; i < 4; ++i) {
    EndpointDescriptor& d = gDescriptors[i];
    d.function.next = i < 3 ? &gDescriptors[i + 1] : nullptr;
    d.function.endpointContext = const_cast<char*>(kRoutes[i]);
    d.function.name = kNames[i];
    d.function.arguments = i >= 2 ? &kArguments[i - 2] : nullptr;
    d.function.argumentCount = i >= 2 ? 1 : 0;
    d.function.tags = kTags;
    d.function.tagCount = 2;
    d.invoke = Invoke;
    d.argumentLocations = i >= 2 ? &kLocation : nullptr;
    d.pathTemplate = kRoutes[i];
    d.methodCode = i == 0 ? kGet : kPost;
  }
  gState = new State();
  *block = PluginLoadBlock{18, 0, 0, &kCallbacks, gState, "fake", &kDescription};
}
