#include "support/SharedLibrary.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/wait.h>

#include <csignal>
#include <fstream>
#include <iterator>
#endif

namespace vyn::test {

#if defined(_WIN32)
void* OpenSharedLibrary(const char* path, std::string& error) {
  HMODULE module = LoadLibraryA(path);
  if (module == nullptr) error = "LoadLibrary failed with error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(module);
}
void* FindSharedLibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void CloseSharedLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
bool IsSharedLibraryMapped(const char* path) { return GetModuleHandleA(path) != nullptr; }
bool EndedByAbort(int exitStatus) { return exitStatus == 3; }
#else
void* OpenSharedLibrary(const char* path, std::string& error) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) error = dlerror();
  return library;
}
void* FindSharedLibrarySymbol(void* library, const char* name) { return dlsym(library, name); }
void CloseSharedLibrary(void* library) { dlclose(library); }
bool IsSharedLibraryMapped(const char* path) {
  std::ifstream maps("/proc/self/maps");
  const std::string text(std::istreambuf_iterator<char>(maps), {});
  const std::string name(path);
  return text.find(name.substr(name.rfind('/') + 1)) != std::string::npos;
}
bool EndedByAbort(int exitStatus) {
  return WIFSIGNALED(exitStatus) && WTERMSIG(exitStatus) == SIGABRT;
}
#endif

}  // namespace vyn::test
