// The plugin's event-tracing providers: four providers registered when the library is loaded and
// unregistered when it is unloaded, the controller's settings each one keeps, and the thread-name
// event that names the loading thread for trace consumers. Where the system has no tracing,
// nothing is registered and every event stays disabled.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/EventTracing.h"

namespace vyn::diagnostics {

inline constexpr std::size_t kMaxProviderEvents = 2;

// A provider and its events; every event level is 0.
struct TraceProvider {
  platform::TraceGuid guid{};
  std::array<uint64_t, kMaxProviderEvents> eventKeywords{};
  std::array<uint8_t, kMaxProviderEvents> eventLevels{};
  uint32_t eventCount = 0;
  platform::TraceRegistration registration{};
  // What the enabling controller asked for, written only by the enable callback.
  uint8_t level = 0;
  uint64_t matchAny = 0;
  uint64_t matchAll = 0;
  bool enabled = false;
  std::array<bool, kMaxProviderEvents> eventEnabled{};
};

// The four providers, in registration order; the second one carries the thread-name event.
std::array<TraceProvider, 4>& TraceProviders() noexcept;

// The common enable callback; the context is the provider. Enabling stores the controller's
// settings and enables each event whose level and keyword the controller takes; disabling
// clears them all; other control codes change nothing.
void OnTraceProviderEnable(uint32_t controlCode, uint8_t level, uint64_t matchAny,
                           uint64_t matchAll, void* provider) noexcept;

// At load: opens the system's tracing, registers every provider not yet registered, and writes
// the thread-name event "Main thread" for the calling thread if a controller enabled it.
void RegisterTraceProviders() noexcept;
// At unload: unregisters every registered provider.
void UnregisterTraceProviders() noexcept;

// Writes the thread-name event of `provider`: the thread id and the name with its terminator
// ("NULL" for none). The write call's status; 0 when there is no write call.
uint32_t WriteThreadNameEvent(const TraceProvider& provider, uint32_t threadId,
                              const char* name) noexcept;

}  // namespace vyn::diagnostics
