// Printing what a loaded plugin tells the host about itself. The tables are packed: every
// record is copied out before its fields are read.
#include "host/Describe.h"

#include <cinttypes>

namespace vyn::host {
namespace {

const char* Text(const char* text) { return text != nullptr ? text : ""; }

const char* MethodName(uint32_t code) {
  static const char* const kNames[] = {"", "DELETE", "GET", "HEAD", "OPTIONS",
                                       "PATCH", "POST", "PUT", "CUSTOM"};
  return code < 9 ? kNames[code] : "";
}

}  // namespace

void PrintApiDescription(std::FILE* out, const ApiDescription& api) {
  std::fprintf(out, "endpoints: %u\n", api.endpointCount);
  for (auto* e = api.endpoints; e != nullptr;
       e = static_cast<const EndpointDescriptor*>(EndpointDescriptor(*e).function.next)) {
    const EndpointDescriptor endpoint = *e;
    std::fprintf(out, "  %s %s -> %s (%u arguments)\n", MethodName(endpoint.methodCode),
                 Text(endpoint.pathTemplate), Text(endpoint.function.name),
                 endpoint.function.argumentCount);
  }
  std::fprintf(out, "types: %u\n", api.typeCount);
  for (auto* t = api.types; t != nullptr; t = HostTypeRecord(*t).next) {
    const HostTypeRecord type = *t;
    std::fprintf(out, "  %s (%u %s)\n", Text(type.name), type.count,
                 type.fields != nullptr ? "fields" : "enumerators");
  }
  std::fprintf(out, "events: %u\n", api.eventCount);
  for (auto* e = api.events; e != nullptr; e = HostEventRecord(*e).next) {
    const HostEventRecord event = *e;
    std::fprintf(out, "  %s (payload %s)\n", Text(event.name), Text(event.payloadTypeName));
  }
}

void PrintMemoryStats(std::FILE* out, const uint32_t stats[14]) {
  static const char* const kNames[] = {"peak bytes",  "peak blocks", "bytes allocated",
                                       "blocks allocated", "bytes freed", "blocks freed"};
  for (int i = 0; i < 6; ++i) {
    const uint64_t value = stats[2 * i] | (static_cast<uint64_t>(stats[2 * i + 1]) << 32);
    std::fprintf(out, "  %-16s %" PRIu64 "\n", kNames[i], value);
  }
}

}  // namespace vyn::host
