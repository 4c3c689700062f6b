// The object behind an endpoint, and the typed handler made from a callable whose parameters are
// CallResult& first, optionally the request context (`const RequestContext&` or
// `const RequestContext*`) next, then one parameter per argument, in order.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/AssignValue.h"
#include "binding/BindingProperty.h"
#include "binding/BindingRegistry.h"
#include "binding/BindingTypeId.h"
#include "routing/CallResult.h"
#include "routing/RequestContext.h"

namespace vyn::routing {

// The native arguments of one call, made by PrepareCall and released after the response is
// written.
class CallState {
 public:
  virtual ~CallState() = default;
};

// Owns a call state: destroys it where it was built, in a CallStateRoom or on the heap.
struct CallStateRelease {
  bool inRoom = false;
  void operator()(CallState* state) const noexcept {
    if (inRoom) {
      state->~CallState();
    } else {
      delete state;
    }
  }
};
using CallStatePtr = std::unique_ptr<CallState, CallStateRelease>;

// Room for one call's state in the dispatcher's frame. A state that fits is built there, so that
// a call takes no heap block for its arguments; a larger one goes to the heap.
class CallStateRoom {
 public:
  CallStateRoom() = default;
  CallStateRoom(const CallStateRoom&) = delete;
  CallStateRoom& operator=(const CallStateRoom&) = delete;

  // Builds a default state; one per room, which must outlive it.
  template <typename State>
  CallStatePtr Make() {
    if constexpr (sizeof(State) <= kBytes && alignof(State) <= kAlignment) {
      assert(!taken_ && "a room holds one call's state");
      taken_ = true;
      return CallStatePtr(::new (static_cast<void*>(bytes_)) State(), CallStateRelease{true});
    } else {
      return CallStatePtr(new State(), CallStateRelease{false});
    }
  }

 private:
  static constexpr std::size_t kBytes = 512;
  static constexpr std::size_t kAlignment = alignof(std::max_align_t);
  alignas(kAlignment) unsigned char bytes_[kBytes];
  bool taken_ = false;
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

  // Converts the argument values to native arguments, in a state built in `room` when it fits;
  // a failure goes into `result`. The values are the call's own: their collections and
  // structures may be taken apart.
  virtual CallStatePtr PrepareCall(CallResult& result,
                                   std::span<binding::BindingProperty> arguments,
                                   uint32_t callerHandle, CallStateRoom& room) = 0;
  // Runs the handler with the state PrepareCall made (null when it made none). `context` is
  // given when RequestContextType is a request-context type.
  virtual void InvokeCall(CallResult& result, const RequestContext* context, CallState* state,
                          uint32_t callerHandle) = 0;
  virtual void ReleaseCall(CallStatePtr state) { state.reset(); }
  // The identity of the handler's request-context parameter, or null when it takes none.
  virtual const binding::BindingTypeId* RequestContextType() const { return nullptr; }

  // The function this handler serves; set at registration, before any call.
  const binding::BindingFunction* function() const noexcept { return function_; }

 private:
  friend class FunctionDispatcher;
  const binding::BindingFunction* function_ = nullptr;
};

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

  CallStatePtr PrepareCall(CallResult& result, std::span<binding::BindingProperty> arguments,
                           uint32_t /*callerHandle*/, CallStateRoom& room) override {
    CallStatePtr state = room.Make<State>();
    AssignAll(result, arguments, static_cast<State&>(*state), std::index_sequence_for<Args...>{});
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
  void AssignAll(CallResult& result, std::span<binding::BindingProperty> arguments, State& state,
                 std::index_sequence<I...>) {
    (void)arguments;  // unused without arguments
    (void)state;
    (AssignOne(result, arguments, I, std::get<I>(state.values)), ...);
  }

  template <typename T>
  void AssignOne(CallResult& result, std::span<binding::BindingProperty> arguments,
                 std::size_t index, T& out) {
    if (!result.ok()) return;
    const binding::BindingFunction& described = *function();
    const binding::BindingArgument& argument = described.arguments[index];
    if (index >= arguments.size() ||
        arguments[index].kind() == binding::BindingPropertyKind::Empty) {
      if (argument.optional) return;
      binding::AssignNative(*described.registry, result.result(), out,
                            binding::BindingProperty::EmptyNode(), argument.name.c_str(),
                            argument.type.type);
      return;
    }
    binding::AssignNativeTaking(*described.registry, result.result(), out, arguments[index],
                                argument.name.c_str(), argument.type.type);
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

}  // namespace vyn::routing
