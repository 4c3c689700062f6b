// Shared by the fuzz targets: reporting a broken contract, and comparing two value trees.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "binding/BindingProperty.h"

namespace vyn::fuzz {

[[noreturn]] inline void Violated(const char* what) {
  std::fprintf(stderr, "contract violated: %s\n", what);
  __builtin_trap();
}

// Float equality where a NaN equals a NaN.
inline bool SameFloatOrBothNaN(double u, double v) { return u == v || (u != u && v != v); }

// Float equality bit for bit (so -0 and 0 differ).
inline bool SameFloatBits(double u, double v) { return std::memcmp(&u, &v, sizeof u) == 0; }

// Structural equality without recursion: fuzzed trees are as deep as the input is long. Floats
// compare through `sameFloat`; `alike`, when given, may declare two nodes equal before their
// kinds are compared (a reader that normalises some values).
inline bool SameTree(const binding::BindingProperty& a, const binding::BindingProperty& b,
                     bool (*sameFloat)(double, double),
                     bool (*alike)(const binding::BindingProperty&,
                                   const binding::BindingProperty&) = nullptr) {
  using binding::BindingProperty;
  using binding::BindingPropertyKind;
  std::vector<std::pair<const BindingProperty*, const BindingProperty*>> pending{{&a, &b}};
  while (!pending.empty()) {
    const auto [x, y] = pending.back();
    pending.pop_back();
    if (alike != nullptr && alike(*x, *y)) continue;
    if (x->kind() != y->kind() || x->size() != y->size()) return false;
    switch (x->kind()) {
      case BindingPropertyKind::Bool:
        if (x->asBool() != y->asBool()) return false;
        break;
      case BindingPropertyKind::Signed:
        if (x->asSigned() != y->asSigned()) return false;
        break;
      case BindingPropertyKind::Unsigned:
        if (x->asUnsigned() != y->asUnsigned()) return false;
        break;
      case BindingPropertyKind::Float:
        if (!sameFloat(x->asFloat(), y->asFloat())) return false;
        break;
      case BindingPropertyKind::String:
        if (x->asString() != y->asString()) return false;
        break;
      case BindingPropertyKind::Blob: {
        const auto u = x->asBlob(), v = y->asBlob();
        if (!std::equal(u.begin(), u.end(), v.begin(), v.end())) return false;
        break;
      }
      case BindingPropertyKind::Collection:
        for (std::size_t i = 0; i < x->size(); ++i) {
          pending.emplace_back(&x->element(i), &y->element(i));
        }
        break;
      case BindingPropertyKind::Structure: {
        auto u = x->members().begin();
        for (const auto& member : y->members()) {
          if ((*u).name != member.name) return false;
          pending.emplace_back(&(*u).value, &member.value);
          ++u;
        }
        break;
      }
      default:
        break;
    }
  }
  return true;
}

}  // namespace vyn::fuzz
