// The library's one export. Nothing C++ leaves it: a failure to create the plugin leaves the
// load block as the host wrote it, so the host sees no callbacks and no context.
#include <memory>
#include <new>

#include "base/HostAbi.h"
#include "diagnostics/EventTracing.h"
#include "pft/PftPlugin.h"
#include "platform/LibraryExport.h"

namespace __gnu_cxx {
void __freeres();  // the statically linked C++ runtime's release of its own buffers
}

namespace {

// The C++ runtime linked into this library keeps an emergency buffer for exceptions that it
// never frees by itself; without this, every dlopen/dlclose cycle of the host would leak it.
__attribute__((destructor)) void ReleaseRuntimeBuffers() { __gnu_cxx::__freeres(); }

// The trace providers live as long as the library is mapped: registered before the host calls
// anything, unregistered when it unloads the library.
struct LibraryTraceProviders {
  LibraryTraceProviders() { vyn::diagnostics::RegisterTraceProviders(); }
  ~LibraryTraceProviders() { vyn::diagnostics::UnregisterTraceProviders(); }
};
const LibraryTraceProviders gTraceProviders;

}  // namespace

extern "C" VYN_LIBRARY_EXPORT void load_vyn_pft(PluginLoadBlock* block) noexcept {
  if (block == nullptr) return;
  try {
    auto plugin = std::make_unique<vyn::pft::PftPlugin>();
    plugin->Register("vyn-pft", *block);
    // From here the host owns the object through the context word; unload destroys it.
    static_cast<void>(plugin.release());
  } catch (...) {
    // Out of memory while loading: the output words stay as the host left them.
  }
}
