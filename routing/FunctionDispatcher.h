// Endpoints: registration of typed handlers under a method and URL template, the API description
// handed to the host, and the invoke entry that binds a host request's headers, path, query,
// typed arguments and body to the handler's arguments and writes its outcome back.
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
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/AssignValue.h"
#include "binding/BindingProperty.h"
#include "binding/BindingRegistry.h"
#include "binding/BindingType.h"
#include "binding/BindingTypeId.h"
#include "binding/HostApiTables.h"
#include "binding/RecordToValue.h"
#include "diagnostics/FormatText.h"
#include "base/HostAbi.h"
#include "routing/HttpMethod.h"

namespace vyn::routing {

// Where an argument may come from. The numbers cross the host boundary.
enum class ArgumentLocation : uint32_t {
  Any = 0,
  Query = 1,
  Path = 2,
  Header = 4,
  Body = 5,
};

// ---------------------------------------------------------------------------------------------
// The call result.

// A stream handed to the host with the response; the host reads it and closes it once.
struct CallStream {
  uint8_t (*read)(void* stream, char* buffer, uint32_t* length, uint8_t* more) = nullptr;
  void (*close)(void* stream) = nullptr;
  uint64_t sizeHint = 0;
  void* object = nullptr;
};

struct ResponseHeader {
  std::string name;
  std::string value;
};

// What a call produces: the return value or the error (first error wins), an HTTP-style status
// (0 until set; 0 without an error means plain success), and what the host receives beside them.
class CallResult {
 public:
  // `registry` converts values set with SetValue; it must outlive the result.
  explicit CallResult(const binding::BindingRegistry* registry = nullptr) noexcept
      : registry_(registry) {}
  CallResult(const CallResult&) = delete;
  CallResult& operator=(const CallResult&) = delete;

  bool ok() const noexcept { return result_.ok(); }
  // The value, or the error structure {"error": message}.
  const binding::BindingResult& result() const noexcept { return result_; }
  binding::BindingResult& result() noexcept { return result_; }
  std::string ErrorText() const { return result_.ErrorText(); }
  const binding::BindingRegistry* registry() const noexcept { return registry_; }

  // Sets the return value from a native value, converted with the registry. A value that cannot
  // be converted becomes status 500 with the conversion's message. Nothing happens once the
  // result has failed.
  template <typename T>
  requires(!std::is_base_of_v<binding::BindingProperty, T>) void SetValue(const T& value) {
    if (!ok()) return;
    if (registry_ == nullptr) {
      SetError(500, "No type registry to convert the result");
      return;
    }
    binding::BindingResult converted = binding::NativeToValue(*registry_, value);
    if (!converted.ok()) {
      SetError(500, converted.ErrorText());
      return;
    }
    result_.moveFrom(converted);
  }
  // Sets the return value to a copy of a generic value.
  void SetValue(const binding::BindingProperty& value);

  // Fails the call with a status and a message. The first error stands: once the result has
  // failed, neither message nor status change.
  void SetError(uint32_t status, std::string_view message);
  // 404 with the message, or "Not found" when it is empty.
  void NotFoundResult(std::string_view message = {});
  // 500 with the message, or "Internal server error" when it is empty.
  void InternalErrorResult(std::string_view message = {});
  // The same with a "%1" template filled with one to three arguments.
  template <typename A, typename... Rest>
  void NotFoundResult(const char* format, const A& first, const Rest&... rest) {
    static_assert(sizeof...(Rest) <= 2, "one to three arguments");
    NotFoundResult(std::string_view(diagnostics::FormatText(format, first, rest...)));
  }
  template <typename A, typename... Rest>
  void InternalErrorResult(const char* format, const A& first, const Rest&... rest) {
    static_assert(sizeof...(Rest) <= 2, "one to three arguments");
    InternalErrorResult(std::string_view(diagnostics::FormatText(format, first, rest...)));
  }

  // Copied into the response as they are; the host is their only reader.
  uint8_t flag = 0;
  uint32_t resultMode = 0;  // 1, 2 or 3 reach the host; any other number is sent as 0
  uint32_t status = 0;
  std::string text;
  std::vector<ResponseHeader> headers;
  std::optional<CallStream> stream;

 private:
  binding::BindingResult result_;
  const binding::BindingRegistry* registry_;
};

// ---------------------------------------------------------------------------------------------
// The request context: what a handler may learn about the request beyond its arguments.

struct RequestHeader {
  std::string_view name;
  std::string_view value;
};

// Valid during the call only: the texts are the host's.
struct RequestContext {
  uint32_t callerHandle = 0;
  uint64_t time = 0;  // wall-clock time in 100-nanosecond units since 1970-01-01 UTC
  const binding::BindingRegistry* registry = nullptr;
  std::string_view path;  // as the host gave it, query included
  HttpMethod method = HttpMethod::None;
  std::string_view customMethod;
  std::vector<RequestHeader> headers;

  // The value of the first header of that name (ASCII case-insensitive); empty when absent.
  std::string_view Header(std::string_view name) const noexcept;
};

// The identities of the two request-context parameter types (a reference and a pointer to the
// context); a handler whose context type is one of them receives the context.
inline constexpr uint32_t kRequestContextTypeNumber = 0x466F9860;
inline constexpr uint32_t kRequestContextPointerTypeNumber = 0x89462EBF;
constexpr uint32_t BindingTypeNumber(binding::BindingTypeTag<RequestContext>) noexcept {
  return kRequestContextTypeNumber;
}
constexpr uint32_t BindingTypeNumber(binding::BindingTypeTag<const RequestContext*>) noexcept {
  return kRequestContextPointerTypeNumber;
}

// ---------------------------------------------------------------------------------------------
// Handlers.

// The native arguments of one call, made by PrepareCall and released after the response is
// written.
class CallState {
 public:
  virtual ~CallState() = default;
};

// The object behind one endpoint. The dispatcher calls PrepareCall with the bound argument
// values (one per argument, in argument order), then, when the result is still ok, InvokeCall,
// writes the response and hands the state back to ReleaseCall.
class CallHandler {
 public:
  CallHandler() = default;
  CallHandler(const CallHandler&) = delete;
  CallHandler& operator=(const CallHandler&) = delete;
  virtual ~CallHandler() = default;

  // Converts the argument values to native arguments; a failure goes into `result`.
  virtual std::unique_ptr<CallState> PrepareCall(
      CallResult& result, std::span<const binding::BindingProperty> arguments,
      uint32_t callerHandle) = 0;
  // Runs the handler with the state PrepareCall made (null when it made none). `context` is
  // given when RequestContextType is a request-context type.
  virtual void InvokeCall(CallResult& result, const RequestContext* context, CallState* state,
                          uint32_t callerHandle) = 0;
  virtual void ReleaseCall(std::unique_ptr<CallState> state) { state.reset(); }
  // The identity of the handler's request-context parameter, or null when it takes none.
  virtual const binding::BindingTypeId* RequestContextType() const { return nullptr; }

  // The function this handler serves; set at registration, before any call.
  const binding::BindingFunction* function() const noexcept { return function_; }

 private:
  friend class FunctionDispatcher;
  const binding::BindingFunction* function_ = nullptr;
};

// The native type of an argument or a return value as registration needs it.
struct NativeTypeInfo {
  const binding::BindingTypeId* identity = nullptr;  // null for void
  binding::BindingTypeKind kind = binding::BindingTypeKind::None;
  binding::BindingTypeKind elementKind = binding::BindingTypeKind::None;
  // The record or enumeration the type refers to (itself, or its elements); looked up in the
  // registry at registration, so it must be registered before the endpoint.
  const binding::BindingTypeId* described = nullptr;
};

template <typename T>
NativeTypeInfo NativeTypeOf() {
  NativeTypeInfo info;
  if constexpr (!std::is_void_v<T>) {
    info.identity = binding::TypeIdOf<T>();
    info.kind = binding::NativeKindOf<T>();
    info.elementKind = binding::NativeElementKindOf<T>();
    using Described = typename binding::DescribedTypeOf<T>::type;
    if constexpr (!std::is_void_v<Described>) info.described = binding::TypeIdOf<Described>();
  }
  return info;
}

// One argument of an endpoint, as registration takes it.
struct EndpointArgument {
  std::string name;
  std::string description;
  ArgumentLocation location = ArgumentLocation::Any;
  // An optional argument that receives no value keeps its native default; any other argument
  // without a value fails as the assignment rules say ("A value for '%1' is required.").
  bool optional = false;
  NativeTypeInfo type;
};

// An argument taken from headers, path, query or typed values.
template <typename T>
EndpointArgument Argument(std::string_view name, std::string_view description = {}) {
  return EndpointArgument{std::string(name), std::string(description), ArgumentLocation::Any, false,
                          NativeTypeOf<T>()};
}
template <typename T>
EndpointArgument OptionalArgument(std::string_view name, std::string_view description = {}) {
  return EndpointArgument{std::string(name), std::string(description), ArgumentLocation::Any, true,
                          NativeTypeOf<T>()};
}
// The argument that receives the request body (at most one per endpoint).
template <typename T>
EndpointArgument BodyArgument(std::string_view name, std::string_view description = {}) {
  return EndpointArgument{std::string(name), std::string(description), ArgumentLocation::Body,
                          false, NativeTypeOf<T>()};
}

namespace endpoint_internal {

template <typename... T>
struct TypeList {};

// The return and parameter types of a callable (lambda, function object or function pointer).
template <typename F>
struct Signature : Signature<decltype(&F::operator())> {};
template <typename R, typename... A>
struct Signature<R (*)(A...)> {
  using Return = R;
  using Params = TypeList<A...>;
};
template <typename R, typename... A>
struct Signature<R (*)(A...) noexcept> : Signature<R (*)(A...)> {};
template <typename C, typename R, typename... A>
struct Signature<R (C::*)(A...)> : Signature<R (*)(A...)> {};
template <typename C, typename R, typename... A>
struct Signature<R (C::*)(A...) const> : Signature<R (*)(A...)> {};
template <typename C, typename R, typename... A>
struct Signature<R (C::*)(A...) noexcept> : Signature<R (*)(A...)> {};
template <typename C, typename R, typename... A>
struct Signature<R (C::*)(A...) const noexcept> : Signature<R (*)(A...)> {};

// Splits the parameters after CallResult& into the context type (void, RequestContext or
// const RequestContext*) and the argument types.
template <typename... P>
struct SplitParams {
  using Context = void;
  using Args = TypeList<std::remove_cvref_t<P>...>;
};
template <typename... P>
struct SplitParams<const RequestContext&, P...> {
  using Context = RequestContext;
  using Args = TypeList<std::remove_cvref_t<P>...>;
};
template <typename... P>
struct SplitParams<const RequestContext*, P...> {
  using Context = const RequestContext*;
  using Args = TypeList<std::remove_cvref_t<P>...>;
};

template <typename Params>
struct AfterResult;
template <typename First, typename... Rest>
struct AfterResult<TypeList<First, Rest...>> {
  static_assert(std::is_same_v<First, CallResult&>, "a handler takes CallResult& first");
  using Split = SplitParams<Rest...>;
};

template <typename F, typename Context, typename Return, typename Args>
class TypedCallHandler;

template <typename F, typename Context, typename Return, typename... Args>
class TypedCallHandler<F, Context, Return, TypeList<Args...>> final : public CallHandler {
 public:
  static_assert(!std::is_reference_v<Return>, "a handler returns a value or nothing");
  static_assert((std::is_default_constructible_v<Args> && ...),
                "argument types must be default-constructible");

  explicit TypedCallHandler(F callable) : function_(std::move(callable)) {}

  std::unique_ptr<CallState> PrepareCall(CallResult& result,
                                         std::span<const binding::BindingProperty> arguments,
                                         uint32_t /*callerHandle*/) override {
    auto state = std::make_unique<State>();
    AssignAll(result, arguments, *state, std::index_sequence_for<Args...>{});
    return state;
  }

  void InvokeCall(CallResult& result, const RequestContext* context, CallState* state,
                  uint32_t /*callerHandle*/) override {
    if (state == nullptr) {
      result.InternalErrorResult("The call was not prepared");
      return;
    }
    std::apply([&](Args&... values) { Call(result, context, values...); },
               static_cast<State*>(state)->values);
  }

  const binding::BindingTypeId* RequestContextType() const override {
    if constexpr (std::is_void_v<Context>) {
      return nullptr;
    } else {
      return binding::TypeIdOf<Context>();
    }
  }

  static std::vector<const binding::BindingTypeId*> ArgumentIdentities() {
    return {binding::TypeIdOf<Args>()...};
  }

 private:
  struct State final : CallState {
    std::tuple<Args...> values;
  };

  template <std::size_t... I>
  void AssignAll(CallResult& result, std::span<const binding::BindingProperty> arguments,
                 State& state, std::index_sequence<I...>) {
    (void)arguments;  // unused without arguments
    (void)state;
    (AssignOne(result, arguments, I, std::get<I>(state.values)), ...);
  }

  template <typename T>
  void AssignOne(CallResult& result, std::span<const binding::BindingProperty> arguments,
                 std::size_t index, T& out) {
    if (!result.ok()) return;
    const binding::BindingFunction& described = *function();
    const binding::BindingArgument& argument = described.arguments[index];
    const binding::BindingProperty& input =
        index < arguments.size() ? arguments[index] : binding::BindingProperty::EmptyNode();
    if (argument.optional && input.kind() == binding::BindingPropertyKind::Empty) return;
    binding::AssignNative(*described.registry, result.result(), out, input, argument.name.c_str(),
                          argument.type.type);
  }

  void Call(CallResult& result, const RequestContext* context, Args&... values) {
    if constexpr (std::is_void_v<Return>) {
      Run(result, context, values...);
    } else {
      Return returned = Run(result, context, values...);
      result.SetValue(returned);
    }
  }

  Return Run(CallResult& result, const RequestContext* context, Args&... values) {
    if constexpr (std::is_void_v<Context>) {
      (void)context;
      return function_(result, std::move(values)...);
    } else if constexpr (std::is_same_v<Context, RequestContext>) {
      assert(context != nullptr);
      return function_(result, *context, std::move(values)...);
    } else {
      return function_(result, context, std::move(values)...);
    }
  }

  F function_;
};

// The handler class for a callable F.
template <typename F>
struct HandlerOf {
  using Sig = Signature<F>;
  using Split = typename AfterResult<typename Sig::Params>::Split;
  using Return = std::remove_cv_t<typename Sig::Return>;
  using type = TypedCallHandler<F, typename Split::Context, Return, typename Split::Args>;
};

}  // namespace endpoint_internal

// ---------------------------------------------------------------------------------------------
// The dispatcher.

struct EndpointContext;
class EndpointInvocation;

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
  const ApiDescription& apiDescription() const noexcept { return apiDescription_; }

  // What the host passes back as request->endpointContext for a function; null when the
  // function is no endpoint.
  void* EndpointContextOf(std::string_view functionName) const;

  // The invoke entry of every endpoint descriptor. Finds its endpoint through
  // request->endpointContext; nothing escapes it.
  static void InvokeEndpoint(ResponseRecord* response, const RequestRecord* request) noexcept;
  // The clean-up function set in every response record: frees what the plugin allocated there and
  // zeroes the record.
  static void CleanupResponse(ResponseRecord* record) noexcept;

 protected:
  // Registrations are being cleared: the endpoint contexts and the API description go with them.
  void ClearPendingOperations() override;

 private:
  void ForgetEndpoints();

  mutable std::mutex contextsMutex_;
  // Guarded by contextsMutex_: the endpoint contexts by function name.
  std::unordered_map<std::string, std::unique_ptr<EndpointContext>> contexts_;

  // Built by BuildApiDescription; read by the host without a lock afterwards.
  binding::HostApiTables tables_;
  std::vector<EndpointDescriptor> descriptors_;
  std::vector<ArgumentLocationRecord> locations_;
  std::vector<TextListRecord> textLists_;
  std::vector<const char*> listTexts_;
  ApiDescription apiDescription_{};
};

}  // namespace vyn::routing
