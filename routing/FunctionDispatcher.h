// The function dispatcher: endpoints registered as typed handlers under a method and URL template,
// the API description handed to the host, and the invoke entry that serves a host request on its
// endpoint and writes the outcome back.
//
// A feature registers an endpoint in one call; the handler's parameter types are the argument
// types:
//
//   dispatcher.RegisterEndpoint(HttpMethod::Post, "/vyn-pft/v2/survey", tags,
//                               {BodyArgument<PFTSurvey>("survey")},
//                               [this](CallResult& result, const PFTSurvey& survey) { ... });
//
// A handler takes CallResult& first, optionally a `const RequestContext&` (or
// `const RequestContext*`) next, then one parameter per argument, in order. It reports failure
// with a status and a message on the CallResult; a handler that returns a value has it converted
// into the response when the call result is still ok.
#pragma once

#include <cassert>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/HostAbi.h"
#include "binding/BindingRegistry.h"
#include "binding/BindingTypeId.h"
#include "routing/CallHandler.h"
#include "routing/CallResult.h"
#include "routing/EndpointArgument.h"
#include "routing/EndpointDescriptors.h"
#include "routing/HttpMethod.h"
#include "routing/RequestContext.h"

namespace vyn::routing {

struct EndpointContext;

// The plugin's registry: a BindingRegistry that also calls its functions as endpoints.
// Endpoints are registered during start-up, before the API description is built and before any
// request; afterwards requests may arrive on any host thread, and every request reads only
// immutable endpoint data.
class FunctionDispatcher : public binding::BindingRegistry {
 public:
  FunctionDispatcher();
  ~FunctionDispatcher() override;

  // Registers `handler` as the endpoint `method` `pathTemplate`, named
  // MakeIdentifier(method name, template), with the given tags, arguments and description. The
  // argument types must be the handler's parameter types, in order (checked: a mismatch, a second
  // body argument or a name already registered gives null). Returns the registered function.
  template <typename F>
  const binding::BindingFunction* RegisterEndpoint(
      HttpMethod method, std::string_view pathTemplate, std::span<const std::string> tags,
      std::initializer_list<EndpointArgument> arguments, F handler,
      std::string_view description = {}) {
    using Handler = typename endpoint_internal::HandlerOf<F>::type;
    using Return = typename endpoint_internal::HandlerOf<F>::Return;
    const std::vector<const binding::BindingTypeId*> expected = Handler::ArgumentIdentities();
    bool matches = expected.size() == arguments.size();
    for (std::size_t i = 0; matches && i < expected.size(); ++i) {
      matches = expected[i] == arguments.begin()[i].type.identity;
    }
    assert(matches && "the argument types must be the handler's parameter types");
    if (!matches) return nullptr;
    return RegisterHandler(method, pathTemplate, tags, std::vector<EndpointArgument>(arguments),
                           NativeTypeOf<Return>(), std::make_unique<Handler>(std::move(handler)),
                           description);
  }

  // The untyped form: any handler object, with its arguments and return type described.
  const binding::BindingFunction* RegisterHandler(HttpMethod method, std::string_view pathTemplate,
                                                  std::span<const std::string> tags,
                                                  std::vector<EndpointArgument> arguments,
                                                  const NativeTypeInfo& returnType,
                                                  std::unique_ptr<CallHandler> handler,
                                                  std::string_view description = {});

  // Removes an endpoint (and its function). False when there is none of that name.
  bool RemoveEndpoint(std::string_view name);

  // Builds the endpoint descriptors and the API description from the registry as it is now, once
  // every type and endpoint is registered. The description and everything it points to stay valid
  // until the next build, a clear of the registry, or the dispatcher's end.
  const ApiDescription& BuildApiDescription();
  const ApiDescription& apiDescription() const noexcept {
    return endpointDescriptors_.description();
  }

  // What the host passes back as request->endpointContext for a function; null when the
  // function is no endpoint.
  void* EndpointContextOf(std::string_view functionName) const;

  // The invoke entry of every endpoint descriptor. Finds its endpoint through
  // request->endpointContext; nothing escapes it.
  static void InvokeEndpoint(ResponseRecord* response, const RequestRecord* request) noexcept;

 protected:
  // Registrations are being cleared: the endpoint contexts and the API description go with them.
  void ClearPendingOperations() override;

 private:
  void ForgetEndpoints();

  mutable std::mutex contextsMutex_;
  // Guarded by contextsMutex_: the endpoint contexts by function name.
  std::unordered_map<std::string, std::unique_ptr<EndpointContext>> contexts_;

  // Built by BuildApiDescription; read by the host without a lock afterwards.
  EndpointDescriptors endpointDescriptors_;
};

}  // namespace vyn::routing
