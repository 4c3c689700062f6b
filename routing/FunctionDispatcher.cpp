// Endpoint registration, the endpoint contexts the host passes back, and the invoke entry: route
// match, argument binding, the handler call and the response record.
#include "routing/FunctionDispatcher.h"

#include <algorithm>
#include <cassert>
#include <exception>
#include <unordered_set>

#include "routing/AsciiCase.h"
#include "routing/EndpointInvocation.h"
#include "routing/HostText.h"
#include "routing/MakeIdentifier.h"
#include "routing/RequestBinder.h"
#include "routing/ResponseWriter.h"
#include "routing/Route.h"

namespace vyn::routing {

using binding::BindingFunction;
using binding::BindingTypeKind;

namespace {

// Every endpoint context alive in the process. The invoke entry accepts only these, so that a
// stale or foreign context pointer from the host is answered, never dereferenced.
struct LiveContexts {
  std::mutex mutex;
  std::unordered_set<const void*> contexts;  // guarded by mutex
};

LiveContexts& Live() {
  static LiveContexts live;
  return live;
}

void AddLive(const EndpointContext* context) {
  LiveContexts& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  live.contexts.insert(context);
}

void RemoveLive(const EndpointContext* context) {
  LiveContexts& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  live.contexts.erase(context);
}

const EndpointContext* FindLive(const void* pointer) {
  if (pointer == nullptr) return nullptr;
  LiveContexts& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  return live.contexts.count(pointer) != 0 ? static_cast<const EndpointContext*>(pointer) : nullptr;
}

bool IsContextType(const binding::BindingTypeId* identity) noexcept {
  return identity != nullptr && (identity->number == kRequestContextTypeNumber ||
                                 identity->number == kRequestContextPointerTypeNumber);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Registration.

FunctionDispatcher::FunctionDispatcher() = default;

FunctionDispatcher::~FunctionDispatcher() { ForgetEndpoints(); }

const BindingFunction* FunctionDispatcher::RegisterHandler(
    HttpMethod method, std::string_view pathTemplate, std::span<const std::string> tags,
    std::vector<EndpointArgument> arguments, const NativeTypeInfo& returnType,
    std::unique_ptr<CallHandler> handler, std::string_view description) {
  if (handler == nullptr) return nullptr;
  const auto bodyCount = std::count_if(arguments.begin(), arguments.end(), [](const auto& a) {
    return a.location == ArgumentLocation::Body;
  });
  assert(bodyCount <= 1 && "an endpoint has at most one body argument");
  if (bodyCount > 1) return nullptr;

  std::vector<binding::BindingArgument> described;
  described.reserve(arguments.size());
  for (const EndpointArgument& argument : arguments) {
    binding::BindingArgument entry;
    entry.name = argument.name;
    entry.nameHash = binding::Fnv1a32(argument.name);
    entry.description = argument.description;
    entry.optional = argument.optional;
    entry.type = {argument.type.kind, argument.type.elementKind,
                  LookupTypeById(argument.type.described)};
    described.push_back(std::move(entry));
  }
  const std::string name = MakeIdentifier(HttpMethodName(method), pathTemplate);
  BindingFunction* function = RegisterFunction(name, std::move(described));
  if (function == nullptr) return nullptr;
  function->returnType = {returnType.kind, returnType.elementKind,
                          LookupTypeById(returnType.described)};
  function->tags.assign(tags.begin(), tags.end());
  function->description.assign(description);

  std::string stored(pathTemplate);
  if (stored.size() > 1 && stored.back() == '/') stored.pop_back();
  auto invocation = std::make_unique<EndpointInvocation>(*function, std::move(handler),
                                                         std::move(stored), method);
  invocation->handler->function_ = function;
  invocation->wantsContext = IsContextType(invocation->handler->RequestContextType());
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const EndpointArgument& argument = arguments[i];
    invocation->locations.push_back(argument.location == ArgumentLocation::Body
                                        ? ArgumentLocation::Body
                                        : ArgumentLocation::Any);
    if (argument.location == ArgumentLocation::Body) invocation->bodyIndex = i;
    std::string headerName;
    if (invocation->locations[i] == ArgumentLocation::Any ||
        invocation->locations[i] == ArgumentLocation::Header) {
      headerName = argument.name;
      for (char& c : headerName) c = LowerAscii(c);
    }
    invocation->headerNames.push_back(std::move(headerName));
    invocation->argumentIndex.emplace(function->arguments[i].name, i);
    if (argument.type.kind == BindingTypeKind::Bool && !argument.optional) {
      invocation->falseBools.push_back(i);
    }
  }

  auto context = std::make_unique<EndpointContext>(EndpointContext{this, invocation.get()});
  function->invocation = std::move(invocation);
  AddLive(context.get());
  std::lock_guard<std::mutex> lock(contextsMutex_);
  contexts_[name] = std::move(context);
  return function;
}

bool FunctionDispatcher::RemoveEndpoint(std::string_view name) {
  {
    std::lock_guard<std::mutex> lock(contextsMutex_);
    const auto found = contexts_.find(std::string(name));
    if (found != contexts_.end()) {
      RemoveLive(found->second.get());
      contexts_.erase(found);
    }
  }
  // The description would point at the removed function's texts.
  endpointDescriptors_.Clear();
  return RemoveFunction(name);
}

void* FunctionDispatcher::EndpointContextOf(std::string_view functionName) const {
  std::lock_guard<std::mutex> lock(contextsMutex_);
  const auto found = contexts_.find(std::string(functionName));
  return found != contexts_.end() ? found->second.get() : nullptr;
}

void FunctionDispatcher::ForgetEndpoints() {
  std::lock_guard<std::mutex> lock(contextsMutex_);
  for (const auto& entry : contexts_) RemoveLive(entry.second.get());
  contexts_.clear();
}

void FunctionDispatcher::ClearPendingOperations() {
  ForgetEndpoints();
  endpointDescriptors_.Clear();
}

// ---------------------------------------------------------------------------------------------
// API description.

const ApiDescription& FunctionDispatcher::BuildApiDescription() {
  return endpointDescriptors_.Build(
      *this, &FunctionDispatcher::InvokeEndpoint,
      [this](std::string_view functionName) { return EndpointContextOf(functionName); });
}

// ---------------------------------------------------------------------------------------------
// Invocation.

namespace {

// The native arguments of one request. The bound values go before the handler runs: the natives
// may hold parts taken from them, which are freed fastest once nothing else shares their storage.
CallStatePtr PrepareArguments(const EndpointInvocation& endpoint, const RequestRecord& request,
                              const RouteMatch& match, std::string_view query, CallResult& call,
                              CallStateRoom& room) {
  RequestBinder binder(endpoint, request, call);
  binder.Bind(match, query);
  if (!call.ok()) return nullptr;
  return endpoint.handler->PrepareCall(call, binder.values(), request.hostHandle, room);
}

// Serves one request on a live endpoint; the response is written into `out`.
void Serve(const EndpointContext& context, const RequestRecord& request, ResponseRecord& out) {
  const EndpointInvocation& endpoint = *context.invocation;
  const BindingFunction& function = *endpoint.function;
  CallResult call(function.registry);
  CallStateRoom room;  // declared before the state, so that it outlives it
  CallStatePtr state;

  // The query is not part of what a route matches: it carries arguments.
  const std::string_view path = TextOrEmpty(request.path);
  const std::size_t question = path.find('?');
  const std::string_view routePath = path.substr(0, question);
  const std::string_view query =
      question == std::string_view::npos ? std::string_view() : path.substr(question + 1);

  RouteMatch match;
  if (!MatchRoutes(HttpMethodFromCode(request.method), TextOrEmpty(request.customMethod), routePath,
                   std::span<const Route>(&endpoint.route, 1), match)) {
    call.SetError(404, "Invalid function");
  } else if (CheckRequestShape(request, call)) {
    state = PrepareArguments(endpoint, request, match, query, call, room);
    if (call.ok()) {
      if (endpoint.wantsContext) {
        const RequestContext requestContext = MakeRequestContext(request, function);
        endpoint.handler->InvokeCall(call, &requestContext, state.get(), request.hostHandle);
      } else {
        endpoint.handler->InvokeCall(call, nullptr, state.get(), request.hostHandle);
      }
    }
  }
  WriteResponse(out, call, function.registry);
  if (state != nullptr) endpoint.handler->ReleaseCall(std::move(state));
}

}  // namespace

void FunctionDispatcher::InvokeEndpoint(ResponseRecord* response,
                                        const RequestRecord* request) noexcept {
  if (response == nullptr) return;
  ResponseRecord out{};
  try {
    const EndpointContext* context =
        request != nullptr ? FindLive(request->endpointContext) : nullptr;
    if (context == nullptr) {
      WriteError(out, 404, "Invalid function");
    } else {
      Serve(*context, *request, out);
    }
  } catch (const std::exception& error) {
    WriteFailure(out, error.what());
  } catch (...) {
    WriteFailure(out, nullptr);
  }
  *response = out;
}

}  // namespace vyn::routing
