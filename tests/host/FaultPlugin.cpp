// A small plugin on the host boundary header alone that keeps its contract, built once as it is
// and once for each fault that VYN_FAULT plants in it, for the validator's tests: one endpoint
// taking a record as its body, one subscription, and memory counters kept honestly.
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/HostAbi.h"

#define FAULT_SECOND_EXPORT 1
#define FAULT_LEAK 2
#define FAULT_CRASH 3
#define FAULT_NO_CLEANUP 4
#define FAULT_UNDEFINED_TYPE 5
#define FAULT_NO_REFUSAL 6

namespace {

constexpr uint32_t kPost = 6;
constexpr char kRoute[] = "/fault/v1/items";
constexpr char kSubscribed[] = "OnJsonApiEvent_fault_v1_thing";

struct Counters {
  uint64_t peakBytes, peakBlocks, bytesAllocated, blocksAllocated, bytesFreed, blocksFreed;
} gCounters;
const HostApi* gApi = nullptr;
int gContext = 0;

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

void Release(const void* block) {
  if (block == nullptr) return;
  gCounters.bytesFreed += malloc_usable_size(const_cast<void*>(block));
  ++gCounters.blocksFreed;
  std::free(const_cast<void*>(block));
}

void Cleanup(ResponseRecord* record) {
  const HostError error = record->error;
  Release(error.message);
  if (error.value.kind == kHostValueStringOwned) Release(error.value.payload.ref.ptr);
  std::memset(static_cast<void*>(record), 0, sizeof *record);
}

// A text answer in the plugin's own memory: a failure with its status, or a value.
void Answer(ResponseRecord* response, uint32_t status, const char* text) {
  const size_t length = std::strlen(text);
  auto* copy = static_cast<char*>(Allocate(length + 1));
  std::memcpy(copy, text, length + 1);
  HostError error{};
  if (status >= 400) {
    error.message = copy;
    error.failed = 1;
  } else {
    error.value.kind = kHostValueStringOwned;
    error.value.payload.ref = {copy, static_cast<uint32_t>(length)};
  }
  response->error = error;
  response->status = status;
  response->cleanup = VYN_FAULT == FAULT_NO_CLEANUP ? nullptr : Cleanup;
}

void Invoke(ResponseRecord* response, const RequestRecord* request) {
  if (VYN_FAULT == FAULT_LEAK) static_cast<void>(Allocate(8));
  const char* path = request->path;
  const size_t length = std::strcspn(path, "?");
  const auto* body = static_cast<const char*>(request->body);
  if (request->method != kPost || length != sizeof kRoute - 1 ||
      std::strncmp(path, kRoute, length) != 0) {
    return Answer(response, 404, "Invalid function");
  }
  if (body == nullptr || request->bodyLength == 0) return Answer(response, 400, "no item");
  // Nested at least 32 deep, as JSON or YAML flow text or as MessagePack arrays.
  if (VYN_FAULT == FAULT_CRASH &&
      (std::strspn(body, "[") >= 32 || std::strspn(body, "\x91") >= 32)) {
    *static_cast<volatile int*>(nullptr) = 1;  // as if the nesting had been followed blindly
  }
  char text[64];
  std::snprintf(text, sizeof text, "took %u bytes", request->bodyLength);
  Answer(response, 200, text);
}

void OnEvent(const EventRecord* event) {
  if (event->context != &gContext) std::abort();
}

const char* const kTags[] = {"fault"};
const HostArgumentRecord kArgument{nullptr, "item", "The item.", 17, 0, "FaultItem", 0};
const ArgumentLocationRecord kLocation{nullptr, 5};
const HostFieldRecord kFields[3] = {
    {&kFields[1], "count", "", 0, 7, 0, "", 0},
    {&kFields[2], "name", "", 8, 12, 0, "", 1},
    {nullptr, "shade", "", 40, 16, 0,
     VYN_FAULT == FAULT_UNDEFINED_TYPE ? "FaultTint" : "FaultShade", 1}};
const HostEnumeratorRecord kShades[2] = {{&kShades[1], "Dark", "", 1}, {nullptr, "Light", "", 2}};
const HostTypeRecord kTypes[2] = {
    {&kTypes[1], "FaultItem", "", 48, "An item.", kTags, 1, kFields, nullptr, 3},
    {nullptr, "FaultShade", "", 4, "A shade.", kTags, 1, nullptr, kShades, 2}};
EndpointDescriptor gEndpoint;
const ApiDescription kDescription{&gEndpoint, 1, kTypes, 2, nullptr, 0};

uint8_t Initialize(void*, const HostApi* api) {
  gApi = api;
  api->functions->subscribe(api->functions, kSubscribed, api->hostHandle, OnEvent, &gContext, 0);
  return 1;
}

void Unload(void*) { gApi->functions->unsubscribe(gApi->functions, kSubscribed, gApi->hostHandle); }

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

#if VYN_FAULT == FAULT_SECOND_EXPORT
extern "C" __attribute__((visibility("default"))) int fault_second_export() { return 1; }
#endif

extern "C" __attribute__((visibility("default"))) void load_vyn_pft(PluginLoadBlock* block) {
  if (block->major != 18 && VYN_FAULT != FAULT_NO_REFUSAL) {
    std::fprintf(stderr, "Assertion failed!\n\nExpression: host plugin API %u\n", block->major);
    std::abort();
  }
  HostFunctionRecord& function = gEndpoint.function;
  function.endpointContext = const_cast<char*>(kRoute);
  function.name = "PostFaultV1Items";
  function.arguments = &kArgument;
  function.argumentCount = 1;
  function.tags = kTags;
  function.tagCount = 1;
  gEndpoint.invoke = Invoke;
  gEndpoint.argumentLocations = &kLocation;
  gEndpoint.pathTemplate = kRoute;
  gEndpoint.methodCode = kPost;
  *block = PluginLoadBlock{18, 0, 0, &kCallbacks, &gContext, "fault", &kDescription};
}
