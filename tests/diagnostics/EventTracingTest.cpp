// The trace providers: what a controller's enable and disable leave in a provider, and their
// registration with the system's tracing where it has one.
#include <gtest/gtest.h>

#include "diagnostics/EventTracing.h"
#include "platform/Thread.h"

namespace vyn::diagnostics {
namespace {

// "1" per enabled event, "0" per disabled one.
std::string Bits(const TraceProvider& provider) {
  std::string bits;
  for (uint32_t i = 0; i < provider.eventCount; ++i) bits += provider.eventEnabled[i] ? "1" : "0";
  return bits;
}

TEST(EventTracing, ControllersEnableTheEventsWhoseLevelAndKeywordsTheyTake) {
  TraceProvider provider = TraceProviders()[3];  // events with keywords 1 and 2
  provider.eventLevels = {0, 5};
  const struct {
    uint32_t code;
    uint8_t level;
    uint64_t any, all;
    const char* bits;
  } steps[] = {
      {1, 0, ~0ull, 0, "11"},                      // level 0 takes every level
      {1, 4, ~0ull, 0, "10"},                      // below the second event's level
      {1, 5, ~0ull, 0, "11"}, {1, 0, 1, 0, "10"},  // keyword 2 shares no bit with match-any
      {1, 0, 3, 2, "01"},                          // keyword 1 lacks a bit of match-all
      {1, 0, 0, 0, "00"},     {2, 9, 9, 9, "00"},  // other codes change nothing
      {1, 0, ~0ull, 0, "11"}, {0, 0, 0, 0, "00"},  // disabled
  };
  for (const auto& step : steps) {
    OnTraceProviderEnable(step.code, step.level, step.any, step.all, &provider);
    EXPECT_EQ(Bits(provider), step.bits) << step.code << " " << +step.level << " " << step.any;
  }
  OnTraceProviderEnable(1, 7, 6, 4, &provider);
  EXPECT_TRUE(provider.enabled && provider.level == 7 && provider.matchAny == 6 &&
              provider.matchAll == 4);
  OnTraceProviderEnable(2, 1, 1, 1, &provider);
  EXPECT_TRUE(provider.enabled && provider.level == 7) << "a state capture keeps the settings";
  OnTraceProviderEnable(0, 7, 6, 4, &provider);
  EXPECT_TRUE(!provider.enabled && provider.level == 0 && provider.matchAny == 0 &&
              provider.matchAll == 0);
  // An event without a keyword is taken whatever the masks.
  TraceProvider keywordless = TraceProviders()[2];
  EXPECT_FALSE(keywordless.enabled) << "off until a controller enables it";
  OnTraceProviderEnable(1, 0, 0, 8, &keywordless);
  EXPECT_EQ(Bits(keywordless), "1");
}

TEST(EventTracing, ProvidersAreRegisteredOnceWhereTheSystemTracesAndAlwaysUnregistered) {
  auto& providers = TraceProviders();
  RegisterTraceProviders();
  const uint64_t first = providers[0].registration.handle;
#if defined(_WIN32)
  for (const TraceProvider& provider : providers) EXPECT_NE(provider.registration.handle, 0u);
#else
  for (const TraceProvider& provider : providers) EXPECT_EQ(provider.registration.handle, 0u);
#endif
  RegisterTraceProviders();
  EXPECT_EQ(providers[0].registration.handle, first) << "a registered provider stays as it is";
  EXPECT_EQ(WriteThreadNameEvent(providers[1], platform::CurrentThreadId(), nullptr), 0u);
  UnregisterTraceProviders();
  for (const TraceProvider& provider : providers) EXPECT_EQ(provider.registration.handle, 0u);
}

}  // namespace
}  // namespace vyn::diagnostics
