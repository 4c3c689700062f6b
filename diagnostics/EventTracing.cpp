// The library's trace providers and the controller settings they keep; the system calls live in
// the platform.
#include "diagnostics/EventTracing.h"

#include <cstring>

#include "platform/Thread.h"

namespace vyn::diagnostics {
namespace {

constexpr uint32_t kControlDisable = 0;
constexpr uint32_t kControlEnable = 1;

// The thread-name event of the second provider.
constexpr platform::TraceEventDescriptor kThreadNameEvent{103, 0, 0, 14, 2, 1, 0};
constexpr std::size_t kThreadNameProvider = 1;

std::array<TraceProvider, 4> gProviders = {{
    {.guid = {0x2F9EFE86, 0x4AF7, 0x4F37, {0xA4, 0x0F, 0x94, 0xB9, 0x09, 0xA1, 0x57, 0xD6}},
     .eventKeywords = {1, 0},
     .eventCount = 1},
    {.guid = {0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}},
     .eventKeywords = {1, 0},
     .eventCount = 1},
    {.guid = {0x10F6728C, 0xEF92, 0x4BF1, {0x83, 0x97, 0x49, 0xE6, 0x93, 0xA6, 0xEB, 0x74}},
     .eventKeywords = {0, 0},
     .eventCount = 1},
    {.guid = {0x46DD7F96, 0x60CB, 0x416B, {0x80, 0x85, 0xDA, 0x5C, 0xD8, 0xF4, 0x91, 0xDD}},
     .eventKeywords = {1, 2},
     .eventCount = 2},
}};

}  // namespace

std::array<TraceProvider, 4>& TraceProviders() noexcept { return gProviders; }

void OnTraceProviderEnable(uint32_t controlCode, uint8_t level, uint64_t matchAny,
                           uint64_t matchAll, void* context) noexcept {
  auto& provider = *static_cast<TraceProvider*>(context);
  if (controlCode == kControlEnable) {
    provider.level = level;
    provider.matchAny = matchAny;
    provider.matchAll = matchAll;
    provider.enabled = true;
    for (uint32_t i = 0; i < provider.eventCount; ++i) {
      const uint64_t keyword = provider.eventKeywords[i];
      const bool levelTaken = level == 0 || level >= provider.eventLevels[i];
      const bool keywordTaken =
          keyword == 0 || ((keyword & matchAny) != 0 && (keyword & matchAll) == matchAll);
      provider.eventEnabled[i] = levelTaken && keywordTaken;
    }
  } else if (controlCode == kControlDisable) {
    provider.level = 0;
    provider.matchAny = 0;
    provider.matchAll = 0;
    provider.enabled = false;
    provider.eventEnabled.fill(false);
  }
}

void RegisterTraceProviders() noexcept {
  if (!platform::OpenEventTracing()) return;
  for (TraceProvider& provider : gProviders) {
    if (provider.registration.handle != 0) continue;
    provider.registration.callback = OnTraceProviderEnable;
    provider.registration.context = &provider;
    static_cast<void>(platform::RegisterTraceProvider(provider.guid, provider.registration));
  }
  const TraceProvider& names = gProviders[kThreadNameProvider];
  if (names.eventEnabled[0]) {
    static_cast<void>(WriteThreadNameEvent(names, platform::CurrentThreadId(), "Main thread"));
  }
}

void UnregisterTraceProviders() noexcept {
  for (TraceProvider& provider : gProviders) {
    if (provider.registration.handle != 0) platform::UnregisterTraceProvider(provider.registration);
  }
}

uint32_t WriteThreadNameEvent(const TraceProvider& provider, uint32_t threadId,
                              const char* name) noexcept {
  if (name == nullptr) name = "NULL";
  const platform::TraceDataField fields[] = {{&threadId, sizeof threadId},
                                             {name, static_cast<uint32_t>(std::strlen(name) + 1)}};
  return platform::WriteTraceEvent(provider.registration, kThreadNameEvent, fields, 2);
}

}  // namespace vyn::diagnostics
