// The API description handed to the host: the registry's description tables, each function record
// extended into an endpoint descriptor (invoke entry, endpoint context, argument locations, path
// template, method, flag, text lists).
#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "base/HostAbi.h"
#include "binding/HostApiTables.h"

namespace vyn::binding {
class BindingRegistry;
}

namespace vyn::routing {

// Owns the description and every record and text list it points to. Built during start-up, once
// every type and endpoint is registered; read by the host without a lock afterwards.
class EndpointDescriptors {
 public:
  // The endpoint context of a function, by name; null when the function is no endpoint.
  using ContextLookup = std::function<void*(std::string_view functionName)>;

  EndpointDescriptors() = default;
  EndpointDescriptors(const EndpointDescriptors&) = delete;
  EndpointDescriptors& operator=(const EndpointDescriptors&) = delete;

  // Builds the description of `registry` as it is now, with `invoke` as every descriptor's entry.
  // The result stays valid until the next build, a clear, or the object's end.
  const ApiDescription& Build(const binding::BindingRegistry& registry, InvokeEntry invoke,
                              const ContextLookup& contextOf);
  // Drops the description and everything it points to.
  void Clear();

  const ApiDescription& description() const noexcept { return apiDescription_; }

 private:
  binding::HostApiTables tables_;
  std::vector<EndpointDescriptor> descriptors_;
  std::vector<ArgumentLocationRecord> locations_;
  std::vector<TextListRecord> textLists_;
  std::vector<const char*> listTexts_;
  ApiDescription apiDescription_{};
};

}  // namespace vyn::routing
