// The recording test host.
#include "support/FakeHost.h"

#include <type_traits>

#include "binding/HostValueConversion.h"
#include "support/SharedLibrary.h"

namespace vyn::test {
namespace {

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

void Request(HostFunctions* self, ResponseRecord* response, const RequestRecord* request) {
  FakeHost& host = FakeHost::From(self);
  FakeHost::SeenRequest seen{request->method, OrEmpty(request->path), request->hostHandle, {}};
  for (uint32_t i = 0; i < request->argCount; ++i) {
    const HostArgument arg = request->args[i];
    seen.args.emplace_back(OrEmpty(arg.name), CopiedValue::From(arg.value));
  }
  host.requests.push_back(std::move(seen));
  if (host.onRequest) return host.onRequest(response, request);
  response->error.message = "no handler";
  response->error.failed = 1;
  response->status = 404;
}

void ExternalRequest(HostFunctions* self, ExternalResponseRecord* response,
                     const ExternalRequestRecord* request) {
  FakeHost& host = FakeHost::From(self);
  FakeHost::SeenExternalRequest seen{
      request->method, OrEmpty(request->url), {}, {}, request->option, request->flag};
  for (uint32_t i = 0; i < request->headerCount; ++i) {
    const HostHeader header = request->headers[i];
    seen.headers.emplace_back(OrEmpty(header.name), OrEmpty(header.value));
  }
  if (request->body != nullptr) seen.body.assign(request->body, request->bodyLength);
  host.externalRequests.push_back(std::move(seen));
  if (host.onExternalRequest) return host.onExternalRequest(response, request);
  response->transport = 1;
  response->body = "no service";
  response->bodyLength = 10;
}

void SendEvent(HostFunctions* self, const EventRecord* event) {
  FakeHost::From(self).sentEvents.push_back(
      {OrEmpty(event->name), CopiedValue::From(event->payload), event->word});
}

void Subscribe(HostFunctions* self, const char* eventName, uint32_t hostHandle,
               EventCallback callback, void* context, uint8_t flag) {
  FakeHost& host = FakeHost::From(self);
  host.subscribeCalls.emplace_back(eventName);
  host.subscriptions.push_back({eventName, hostHandle, callback, context, flag});
}

void Unsubscribe(HostFunctions* self, const char* eventName, uint32_t) {
  FakeHost& host = FakeHost::From(self);
  host.unsubscribeCalls.emplace_back(eventName);
  std::erase_if(host.subscriptions,
                [&](const FakeHost::Subscription& s) { return s.name == eventName; });
}

void Reserved5(HostFunctions*, uint32_t, uint32_t, uint32_t, double, uint32_t) {}

void Yield(HostFunctions* self) { FakeHost::From(self).waitCalls.emplace_back("yield"); }

void BeginWait(HostFunctions* self, const char* label, uint32_t) {
  FakeHost::From(self).waitCalls.push_back(std::string("begin:") + OrEmpty(label));
}

void EndWait(HostFunctions* self) { FakeHost::From(self).waitCalls.emplace_back("end"); }

void Log(HostFunctions* self, int32_t level, const char* message) {
  FakeHost::From(self).logs.push_back({level, OrEmpty(message)});
}

}  // namespace

CopiedValue CopiedValue::From(const HostValue& value) {
  CopiedValue copy;
  copy.kind = value.kind;
  const HostValueRef ref = value.payload.ref;  // meaningful for the kinds that refer to data
  switch (value.kind) {
    case kHostValueBool: copy.flag = value.payload.b != 0; break;
    case kHostValueSigned: copy.signedValue = value.payload.i; break;
    case kHostValueUnsigned: copy.unsignedValue = value.payload.u; break;
    case kHostValueStringBorrowed:
    case kHostValueStringOwned:
    case kHostValueBlobBorrowed:
    case kHostValueBlobOwned:
      if (ref.ptr != nullptr) copy.bytes.assign(static_cast<const char*>(ref.ptr), ref.count);
      break;
    case kHostValueCollection:
      for (uint32_t i = 0; i < ref.count; ++i) {
        copy.elements.push_back(From(static_cast<const HostValue*>(ref.ptr)[i]));
      }
      break;
    case kHostValueStructure:
      for (uint32_t i = 0; i < ref.count; ++i) {
        const HostMember member = static_cast<const HostMember*>(ref.ptr)[i];  // packed: copy
        copy.members.push_back({OrEmpty(member.name), From(member.value)});
      }
      break;
    default: break;
  }
  return copy;
}

const CopiedValue* CopiedValue::Member(const std::string& name) const {
  for (const auto& [memberName, value] : members) {
    if (memberName == name) return &value;
  }
  return nullptr;
}

FakeHost::FakeHost()
    : table{{Request, ExternalRequest, SendEvent, Subscribe, Unsubscribe, Reserved5, Yield,
             BeginWait, EndWait, Log},
            this},
      api{&table.functions, 0x5157u} {}

FakeHost& FakeHost::From(HostFunctions* table) {
  static_assert(std::is_standard_layout_v<Table>);
  return *reinterpret_cast<Table*>(table)->self;
}

const FakeHost::Subscription* FakeHost::FindSubscription(const std::string& eventName) const {
  for (const auto& s : subscriptions) {
    if (s.name == eventName) return &s;
  }
  return nullptr;
}

bool FakeHost::Deliver(const std::string& eventName, const HostValue& payload, uint32_t word) {
  const Subscription* s = FindSubscription(eventName);
  if (s == nullptr) return false;
  EventRecord record{s->name.c_str(), payload, word, s->context};
  s->callback(&record);
  return true;
}

bool FakeHost::Deliver(const std::string& eventName, const binding::BindingProperty& payload,
                       uint32_t word) {
  HostValue value = binding::ToHostValue(payload, nullptr);
  const bool delivered = Deliver(eventName, value, word);
  binding::ReleaseHostValue(value);
  return delivered;
}

PluginLibrary::PluginLibrary(const char* path) : handle_(OpenSharedLibrary(path, error_)) {
  if (handle_ == nullptr) return;
  entry_ = reinterpret_cast<LoadPluginEntry>(FindSharedLibrarySymbol(handle_, "load_vyn_pft"));
  if (entry_ == nullptr) error_ = "load_vyn_pft not found";
}

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr) CloseSharedLibrary(handle_);
}

LoadedPlugin::LoadedPlugin(const PluginLibrary& library, uint32_t major, uint32_t minor,
                           uint32_t patch)
    : block_{major, minor, patch, nullptr, nullptr, nullptr, nullptr} {
  if (library.ok()) library.entry()(&block_);
}

bool LoadedPlugin::Initialize(FakeHost& host) {
  return block_.callbacks->initialize(block_.context, &host.api) != 0;
}

void LoadedPlugin::Unload() {
  if (block_.context == nullptr) return;
  block_.callbacks->unload(block_.context);
  block_.context = nullptr;
}

uint64_t LoadedPlugin::Counter(int index) const {
  std::array<uint32_t, 14> s{};
  if (block_.callbacks != nullptr) block_.callbacks->memoryStats(block_.context, s.data());
  return s[2 * index] | (static_cast<uint64_t>(s[2 * index + 1]) << 32);
}

}  // namespace vyn::test
