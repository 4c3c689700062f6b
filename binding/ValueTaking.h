// Whether values are assigned by taking their input apart instead of copying it: on for the
// lifetime of a TakingScope, on its thread. The assignments see their input as const; a caller
// opens the scope only over an input that is its own temporary and mutable (AssignNativeTaking).
#pragma once

#include "binding/BindingProperty.h"

namespace vyn::binding {

class TakingScope {
 public:
  TakingScope() noexcept;
  ~TakingScope();
  TakingScope(const TakingScope&) = delete;
  TakingScope& operator=(const TakingScope&) = delete;

 private:
  bool outer_;
};

// Whether a value assigned from `input` now takes it (BindingProperty::takeFrom). Only containers
// are taken: they are where copies cost, and never the shared empty node, which stands in for
// missing input and must not be written.
bool TakesFrom(const BindingProperty& input) noexcept;

// `input` into `out`: taken when TakesFrom(input), else copied.
void TakeOrCopy(BindingProperty& out, const BindingProperty& input);

}  // namespace vyn::binding
