// Opening the plugin library as its host would, on either system (dlopen, or LoadLibrary on
// Windows), and the facts about the process that tests of loading and unloading read.
#pragma once

#include <string>

namespace vyn::test {

// The library's handle, or null with `error` set.
void* OpenSharedLibrary(const char* path, std::string& error);
void* FindSharedLibrarySymbol(void* library, const char* name);
void CloseSharedLibrary(void* library);
// Whether a library of that path's file name is mapped into this process.
bool IsSharedLibraryMapped(const char* path);

// Whether a death test's child ended through abort(): a signal here, status 3 on Windows.
bool EndedByAbort(int exitStatus);

}  // namespace vyn::test
