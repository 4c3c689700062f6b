#include "binding/ValueTaking.h"

namespace vyn::binding {
namespace {
thread_local bool tTaking = false;
}  // namespace

TakingScope::TakingScope() noexcept : outer_(tTaking) { tTaking = true; }
TakingScope::~TakingScope() { tTaking = outer_; }

bool TakesFrom(const BindingProperty& input) noexcept {
  return tTaking && (input.kind() == BindingPropertyKind::Collection ||
                     input.kind() == BindingPropertyKind::Structure);
}

void TakeOrCopy(BindingProperty& out, const BindingProperty& input) {
  if (TakesFrom(input)) {
    // The input belongs to the caller that opened the scope, which handed it over as mutable.
    out.takeFrom(const_cast<BindingProperty&>(input));
  } else {
    out.copyFrom(input);
  }
}

}  // namespace vyn::binding
