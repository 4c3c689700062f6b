// The host that a plugin under validation sees: the ten host functions, answered so that every
// call stays inside the process (no local resource exists, no outside request is sent), with a
// record of subscriptions and of every contract breach the plugin commits through them. Also
// the plugin's memory counters as a host reads them. Single-threaded, like the validator's
// children.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/HostAbi.h"
#include "host/ApiSnapshot.h"
#include "host/LoadedLibrary.h"
#include "host/ValidateChild.h"

namespace vyn::host {

struct MemoryCounters {
  uint64_t peakBytes = 0;
  uint64_t liveBytes = 0;   // bytes allocated less bytes freed
  uint64_t liveBlocks = 0;  // blocks allocated less blocks freed
};

MemoryCounters ReadCounters(const LoadedLibrary& library);

// Whether a text the plugin handed over is there and valid UTF-8.
bool IsUtf8Text(const char* text);

// The plugin-API version the validating host speaks.
inline constexpr uint32_t kHostMajor = 18, kHostMinor = 0, kHostPatch = 0;

class ValidationHost;

// Loads the plugin under the host's version and initialises it with the host, which must
// outlive the plugin object. On failure fails the check and returns false.
bool StartPlugin(LoadedLibrary& library, const std::string& path, const ValidationHost& host,
                 ChildProbe& probe);
// The API description of a loaded plugin, copied out of its tables.
ApiSnapshot SnapshotOf(const LoadedLibrary& library);

class ValidationHost {
 public:
  static constexpr uint32_t kPluginHandle = 7;

  struct Subscription {
    std::string name;
    EventCallback callback;
    void* context;
  };

  ValidationHost();
  ValidationHost(const ValidationHost&) = delete;
  ValidationHost& operator=(const ValidationHost&) = delete;

  const HostApi* api() const { return &api_; }
  const std::vector<Subscription>& subscriptions() const { return subscriptions_; }
  // The first breach of the contract seen in a host function; empty while there is none.
  const std::string& breach() const { return breach_; }
  // Everything the plugin logged through the host, one message a line.
  const std::string& log() const { return log_; }

 private:
  struct Table {
    HostFunctions functions;
    ValidationHost* owner;
  };
  static ValidationHost& From(HostFunctions* self);
  void Breach(const std::string& what);

  Table table_{};
  HostApi api_{};
  std::vector<Subscription> subscriptions_;
  std::string breach_;
  std::string log_;
};

}  // namespace vyn::host
