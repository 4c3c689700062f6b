// A recording test host: implements the ten host functions, answers requests from handlers
// the test sets, and records everything the plugin sends. Also loads the built plugin library.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "binding/BindingProperty.h"
#include "base/HostAbi.h"

namespace vyn::test {

struct CopiedMember;

// A deep, owning copy of a HostValue tree, for assertions after the call that lent it.
struct CopiedValue {
  uint32_t kind = kHostValueEmpty;
  bool flag = false;
  int64_t signedValue = 0;
  uint64_t unsignedValue = 0;
  std::string bytes;  // string text or blob bytes
  std::vector<CopiedValue> elements;
  std::vector<CopiedMember> members;  // in array order

  static CopiedValue From(const HostValue& value);
  const CopiedValue* Member(const std::string& name) const;
};

// A plain pair: a pair's constructors ask of CopiedValue, still incomplete, what clang cannot tell.
struct CopiedMember {
  std::string name;
  CopiedValue value;
};

class FakeHost {
 public:
  FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  struct LogLine { int32_t level; std::string message; };
  struct Subscription {
    std::string name;
    uint32_t hostHandle;
    EventCallback callback;
    void* context;
    uint8_t flag;
  };
  struct SentEvent { std::string name; CopiedValue payload; uint32_t word; };
  struct SeenRequest {
    uint32_t method;
    std::string path;
    uint32_t hostHandle;
    std::vector<std::pair<std::string, CopiedValue>> args;
  };
  struct SeenExternalRequest {
    uint32_t method;
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    uint32_t option;
    uint8_t flag;
  };

  // The plugin calls back with the table's address; the table sits at the start of a small
  // standard-layout record that leads back to this object.
  struct Table { HostFunctions functions; FakeHost* self; };
  Table table;
  HostApi api;

  std::function<void(ResponseRecord*, const RequestRecord*)> onRequest;
  std::function<void(ExternalResponseRecord*, const ExternalRequestRecord*)> onExternalRequest;

  std::vector<LogLine> logs;
  std::vector<Subscription> subscriptions;  // currently active, in subscription order
  std::vector<std::string> subscribeCalls;  // every subscribe, in order
  std::vector<std::string> unsubscribeCalls;
  std::vector<SentEvent> sentEvents;
  std::vector<SeenRequest> requests;
  std::vector<SeenExternalRequest> externalRequests;
  std::vector<std::string> waitCalls;  // "begin:<label>", "yield", "end"

  // Delivers an event to the subscription of that name, as the host's event bus would.
  // Returns false when the plugin has no such subscription.
  bool Deliver(const std::string& eventName, const HostValue& payload, uint32_t word = 0);
  // The same with a payload built as a value tree (lent to the plugin as host records).
  bool Deliver(const std::string& eventName, const binding::BindingProperty& payload,
               uint32_t word = 0);
  const Subscription* FindSubscription(const std::string& eventName) const;

  static FakeHost& From(HostFunctions* table);
};

// The plugin library opened as its host opens it; closes it on destruction.
class PluginLibrary {
 public:
  explicit PluginLibrary(const char* path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  bool ok() const { return entry_ != nullptr; }
  const std::string& error() const { return error_; }
  LoadPluginEntry entry() const { return entry_; }

 private:
  void* handle_ = nullptr;
  LoadPluginEntry entry_ = nullptr;
  std::string error_;
};

// One loaded plugin object: what load_vyn_pft wrote, and the lifecycle calls on it.
class LoadedPlugin {
 public:
  LoadedPlugin(const PluginLibrary& library, uint32_t major = 18, uint32_t minor = 0,
               uint32_t patch = 0);
  ~LoadedPlugin() { Unload(); }
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  const PluginLoadBlock& block() const { return block_; }
  bool loaded() const { return block_.context != nullptr; }
  bool Initialize(FakeHost& host);
  void Unload();
  // A 64-bit counter of the memory statistics: 0 peak bytes, 2 and 3 bytes and blocks allocated,
  // 4 and 5 bytes and blocks freed.
  uint64_t Counter(int index) const;
  uint64_t LiveBytes() const { return Counter(2) - Counter(4); }
  uint64_t LiveBlocks() const { return Counter(3) - Counter(5); }

 private:
  PluginLoadBlock block_{};
};

}  // namespace vyn::test
