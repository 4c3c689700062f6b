// What an endpoint call produces: the return value or the first error with its status, and what
// the host receives beside them (flag, result mode, text, headers, a stream).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingRegistry.h"
#include "binding/RecordToValue.h"
#include "diagnostics/FormatText.h"

namespace vyn::routing {

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

}  // namespace vyn::routing
