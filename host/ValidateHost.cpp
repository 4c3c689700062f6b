// The host that a plugin under validation sees.
#include "host/ValidateHost.h"

#include <algorithm>
#include <cstring>

#include "host/HostValueJson.h"

namespace vyn::host {
namespace {

// Static texts: nothing is allocated for the plugin, so its answers need no clean-up.
constexpr char kNoResource[] = "Not found";
constexpr char kNoNetwork[] = "the validating host sends no request outside the process";

uint64_t Counter(const uint32_t stats[14], int index) {
  return stats[2 * index] | (uint64_t{stats[2 * index + 1]} << 32);
}

}  // namespace

MemoryCounters ReadCounters(const LoadedLibrary& library) {
  uint32_t stats[14];
  library.MemoryStats(stats);
  MemoryCounters counters;
  counters.peakBytes = Counter(stats, 0);
  counters.liveBytes = Counter(stats, 2) - Counter(stats, 4);
  counters.liveBlocks = Counter(stats, 3) - Counter(stats, 5);
  return counters;
}

bool IsUtf8Text(const char* text) {
  if (text == nullptr) return false;
  HostValue value{};
  value.kind = kHostValueStringBorrowed;
  value.payload.ref = {text, static_cast<uint32_t>(std::strlen(text))};
  std::string json, error;
  return HostValueToJson(value, json, error);
}

bool StartPlugin(LoadedLibrary& library, const std::string& path, const ValidationHost& host,
                 ChildProbe& probe) {
  probe.Step("load the plugin");
  std::string error;
  if (!library.Load(path, kHostMajor, kHostMinor, kHostPatch, error)) {
    probe.Fail("the plugin does not load: " + error);
    return false;
  }
  probe.Step("initialise the plugin");
  // A plugin that reports itself not ready still takes calls; only a breach fails here.
  static_cast<void>(library.Initialize(host.api()));
  if (!host.breach().empty()) probe.Fail(host.breach());
  return !probe.failed();
}

ApiSnapshot SnapshotOf(const LoadedLibrary& library) {
  if (library.block().api == nullptr) return ApiSnapshot{};
  const ApiDescription description = *library.block().api;
  return SnapshotApi(description);
}

ValidationHost::ValidationHost() {
  table_.owner = this;
  table_.functions.request = [](HostFunctions* self, ResponseRecord* response,
                                const RequestRecord* request) {
    if (response == nullptr || request == nullptr || request->path == nullptr) {
      return From(self).Breach("a local request came without its records or its path");
    }
    HostError error{};
    error.message = kNoResource;
    error.failed = 1;
    response->error = error;
    response->status = 404;
  };
  table_.functions.externalRequest = [](HostFunctions* self, ExternalResponseRecord* response,
                                        const ExternalRequestRecord* request) {
    if (response == nullptr || request == nullptr) {
      return From(self).Breach("an outside request came without its records");
    }
    ExternalResponseRecord answer{};
    answer.transport = 1;
    answer.body = kNoNetwork;
    answer.bodyLength = sizeof kNoNetwork - 1;
    *response = answer;
  };
  table_.functions.sendEvent = [](HostFunctions* self, const EventRecord* event) {
    if (event == nullptr || event->name == nullptr) {
      return From(self).Breach("an event was sent without a record or a name");
    }
    std::string json, why;
    const HostValue payload = event->payload;
    if (!HostValueToJson(payload, json, why)) {
      From(self).Breach(std::string("the event '") + event->name +
                        "' has an unreadable payload: " + why);
    }
  };
  table_.functions.subscribe = [](HostFunctions* self, const char* name, uint32_t handle,
                                  EventCallback callback, void* context, uint8_t) {
    ValidationHost& host = From(self);
    if (name == nullptr || callback == nullptr) {
      return host.Breach("a subscription came without a name or a callback");
    }
    if (handle != kPluginHandle) {
      host.Breach(std::string("the subscription to '") + name + "' has the host handle " +
                  std::to_string(handle) + ", not the plugin's " + std::to_string(kPluginHandle));
    }
    auto& list = host.subscriptions_;
    auto found = std::find_if(list.begin(), list.end(), [&](auto& s) { return s.name == name; });
    if (found != list.end()) {
      *found = Subscription{name, callback, context};
    } else {
      list.push_back(Subscription{name, callback, context});
    }
  };
  table_.functions.unsubscribe = [](HostFunctions* self, const char* name, uint32_t) {
    if (name == nullptr) return From(self).Breach("an unsubscription came without a name");
    auto& list = From(self).subscriptions_;
    std::erase_if(list, [&](const Subscription& s) { return s.name == name; });
  };
  table_.functions.reserved5 = [](HostFunctions* self, uint32_t, uint32_t, uint32_t, double,
                                  uint32_t) {
    From(self).Breach("the reserved entry 5 was called");
  };
  table_.functions.yield = [](HostFunctions*) {};
  table_.functions.beginWait = [](HostFunctions*, const char*, uint32_t) {};
  table_.functions.endWait = [](HostFunctions*) {};
  table_.functions.log = [](HostFunctions* self, int32_t, const char* message) {
    if (message == nullptr) return From(self).Breach("a log message came without its text");
    From(self).log_.append(message).append("\n");
  };
  api_.functions = &table_.functions;
  api_.hostHandle = kPluginHandle;
}

ValidationHost& ValidationHost::From(HostFunctions* self) {
  return *reinterpret_cast<Table*>(self)->owner;
}

void ValidationHost::Breach(const std::string& what) {
  if (breach_.empty()) breach_ = what;
}

}  // namespace vyn::host
