// The Windows headers as every implementation file here includes them: without the rarely used
// parts and without the min and max macros, which would break the C++ library's names. Also the
// one way to reach a call looked up at run time.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace vyn::platform {

// A function of a loaded module by name, typed; null when the module lacks it. The address goes
// through a generic function pointer, the documented way between function pointer types.
template <typename Call>
Call LookupCall(HMODULE module, const char* name) noexcept {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace vyn::platform
