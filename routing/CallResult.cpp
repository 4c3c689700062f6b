// Setting a call's value and its error.
#include "routing/CallResult.h"

namespace vyn::routing {

using binding::BindingProperty;

void CallResult::SetValue(const BindingProperty& value) {
  if (!ok()) return;
  result_.copyFrom(value);
}

void CallResult::SetError(uint32_t errorStatus, std::string_view message) {
  if (!ok()) return;
  result_.SetError(message);
  status = errorStatus;
}

void CallResult::NotFoundResult(std::string_view message) {
  SetError(404, message.empty() ? std::string_view("Not found") : message);
}

void CallResult::InternalErrorResult(std::string_view message) {
  SetError(500, message.empty() ? std::string_view("Internal server error") : message);
}

}  // namespace vyn::routing
