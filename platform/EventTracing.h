// The system's event tracing, where it has one: provider registration, event writes and the
// enable callback of a trace controller. Where there is none (or its library or calls are
// missing) every call does nothing and tracing stays off.
#pragma once

#include <cstdint>

namespace vyn::platform {

struct TraceGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

// What a controller asks of a provider: control code 1 enables, 0 disables, others (such as a
// request to capture state) carry no settings.
using TraceEnableCallback = void (*)(uint32_t controlCode, uint8_t level, uint64_t matchAny,
                                     uint64_t matchAll, void* context);

// One provider's registration; its address is what the system hands back to the callback, so
// it must stay put while registered. The handle is 0 while not registered.
struct TraceRegistration {
  TraceEnableCallback callback = nullptr;
  void* context = nullptr;
  uint64_t handle = 0;
};

struct TraceEventDescriptor {
  uint16_t id;
  uint8_t version;
  uint8_t channel;
  uint8_t level;
  uint8_t opcode;
  uint16_t task;
  uint64_t keyword;
};

struct TraceDataField {
  const void* data;
  uint32_t size;
};

// Loads the tracing library and looks up its calls; false when the library is missing (each
// call may still be missing on its own). Safe to call again: later calls change nothing.
bool OpenEventTracing() noexcept;

// Registers the provider: on success the handle is set, and the system may call the callback
// from then on, on any thread, also during this call.
bool RegisterTraceProvider(const TraceGuid& guid, TraceRegistration& registration) noexcept;

// The write call's status (0 is success); 0 as well when the call is missing.
uint32_t WriteTraceEvent(const TraceRegistration& registration,
                         const TraceEventDescriptor& descriptor, const TraceDataField* fields,
                         uint32_t fieldCount) noexcept;

// Unregisters a registered provider and clears its handle.
void UnregisterTraceProvider(TraceRegistration& registration) noexcept;

}  // namespace vyn::platform
