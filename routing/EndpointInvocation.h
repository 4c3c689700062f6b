// What registration prepares for one endpoint, and the endpoint context the host passes back with
// each request. Internal to the dispatcher, the argument binding and the endpoint descriptors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/BindingType.h"
#include "routing/CallHandler.h"
#include "routing/EndpointArgument.h"
#include "routing/HttpMethod.h"
#include "routing/Route.h"

namespace vyn::routing {

class FunctionDispatcher;

// What registration prepares for one endpoint, so that a call does no work that registration
// could do. Immutable once registered; owned by its BindingFunction.
class EndpointInvocation final : public binding::BindingInvocationData {
 public:
  EndpointInvocation(binding::BindingFunction& owner, std::unique_ptr<CallHandler> callHandler,
                     std::string storedTemplate, HttpMethod methodCode)
      : function(&owner),
        handler(std::move(callHandler)),
        pathTemplate(std::move(storedTemplate)),
        method(methodCode),
        route(methodCode, MethodSpecification{methodCode, {}}, pathTemplate) {}

  binding::BindingFunction* function;
  std::unique_ptr<CallHandler> handler;
  std::string pathTemplate;  // without a trailing "/"
  HttpMethod method;
  std::string customMethod;  // cleared at registration
  uint8_t flag = 0;
  std::vector<std::vector<std::string>> textLists;
  std::vector<ArgumentLocation> locations;  // one per argument

  Route route;  // compiled once, here
  // Per argument: its lower-cased name when it may come from a header, else empty.
  std::vector<std::string> headerNames;
  // Argument names (views of the function's own) to their index; the first of a name wins.
  std::unordered_map<std::string_view, std::size_t> argumentIndex;
  std::optional<std::size_t> bodyIndex;
  // Arguments that start as false before binding: bools that are not optional.
  std::vector<std::size_t> falseBools;
  bool wantsContext = false;
};

// What the host passes back as request->endpointContext.
struct EndpointContext {
  FunctionDispatcher* dispatcher;
  EndpointInvocation* invocation;
};

}  // namespace vyn::routing
