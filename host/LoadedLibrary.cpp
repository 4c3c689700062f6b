// Loading a plugin library built to the host boundary.
#include "host/LoadedLibrary.h"

#include <dlfcn.h>

namespace vyn::host {

LoadedLibrary::~LoadedLibrary() {
  Unload();
  if (handle_ != nullptr) dlclose(handle_);
}

bool LoadedLibrary::Load(const std::string& path, uint32_t major, uint32_t minor, uint32_t patch,
                         std::string& error) {
  // A name without a slash would be looked up on the library search path only, never in the
  // current directory, which is where a user who types a file name means. Loading again after an
  // unload reuses the mapping: the plugin must cope with that too.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  if (handle_ == nullptr) handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    error = dlerror();
    return false;
  }
  auto entry = reinterpret_cast<LoadPluginEntry>(dlsym(handle_, "load_vyn_pft"));
  if (entry == nullptr) {
    error = "the library has no load_vyn_pft export";
    return false;
  }
  block_ = PluginLoadBlock{};
  block_.major = major;
  block_.minor = minor;
  block_.patch = patch;
  entry(&block_);
  if (block_.context == nullptr || block_.callbacks == nullptr) {
    error = "the plugin did not load";
    return false;
  }
  loaded_ = true;
  return true;
}

bool LoadedLibrary::Initialize(const HostApi* api) {
  return loaded_ && block_.callbacks->initialize(block_.context, api) != 0;
}

void LoadedLibrary::Unload() {
  if (!loaded_) return;
  block_.callbacks->unload(block_.context);
  loaded_ = false;
}

void LoadedLibrary::MemoryStats(uint32_t out[14]) const {
  for (int i = 0; i < 14; ++i) out[i] = 0;
  if (block_.callbacks != nullptr) block_.callbacks->memoryStats(block_.context, out);
}

}  // namespace vyn::host
