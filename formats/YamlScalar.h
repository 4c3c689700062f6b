// The typing of one YAML scalar: by its tag, or by its text when it has none.
#pragma once

#include <cstddef>

#include "binding/BindingProperty.h"

namespace vyn::formats {

// Types one scalar into `slot`: by `tag` when there is one (null for none), else a quoted scalar
// is a string and a plain one is null, a number, a bool or a string by its text. `text` holds
// `length` bytes and need not end in NUL. A tag-driven failure only sets the error on `result`
// (which drops the tree `slot` may belong to). Nothing happens when `result` already failed.
void ResolveYamlScalar(binding::BindingResult& result, binding::BindingProperty& slot,
                       const char* tag, const char* text, std::size_t length, bool quoted);

}  // namespace vyn::formats
