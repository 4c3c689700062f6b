// No system event tracing here: nothing is registered and nothing is written.
#include "platform/EventTracing.h"

namespace vyn::platform {

bool OpenEventTracing() noexcept { return false; }

bool RegisterTraceProvider(const TraceGuid&, TraceRegistration&) noexcept { return false; }

uint32_t WriteTraceEvent(const TraceRegistration&, const TraceEventDescriptor&,
                         const TraceDataField*, uint32_t) noexcept {
  return 0;
}

void UnregisterTraceProvider(TraceRegistration& registration) noexcept { registration.handle = 0; }

}  // namespace vyn::platform
