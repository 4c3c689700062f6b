// Loading a plugin library built to the host boundary, and the lifecycle calls on it.
#pragma once

#include <cstdint>
#include <string>

#include "base/HostAbi.h"

namespace vyn::host {

class LoadedLibrary {
 public:
  LoadedLibrary() = default;
  ~LoadedLibrary();
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  // Opens the library, unless it is open already (a path without a slash names a file in the
  // current directory), and calls its export with the host's plugin-API version. On failure
  // returns false with a reason.
  bool Load(const std::string& path, uint32_t major, uint32_t minor, uint32_t patch,
            std::string& error);
  bool Initialize(const HostApi* api);
  void Unload();
  void MemoryStats(uint32_t out[14]) const;

  const PluginLoadBlock& block() const { return block_; }

 private:
  void* handle_ = nullptr;
  PluginLoadBlock block_{};
  bool loaded_ = false;
};

}  // namespace vyn::host
