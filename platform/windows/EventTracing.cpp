// Event tracing through the manifest-based provider calls of Advapi32, looked up once at load.
// The library stays loaded for the life of the process: releasing it from another library's
// unload is what the loader forbids.
#include "platform/EventTracing.h"

#include <atomic>
#include <cstring>

#include "platform/windows/SystemHeaders.h"

namespace vyn::platform {
namespace {

// The shapes of the calls and of the system's callback, as the system's headers declare them;
// the filter data of the callback is not used, so it stays an opaque pointer.
using SystemEnableCallback = void(NTAPI*)(const GUID* source, ULONG controlCode, UCHAR level,
                                          ULONGLONG matchAny, ULONGLONG matchAll, void* filter,
                                          void* context);
using RegisterCall = ULONG(WINAPI*)(const GUID*, SystemEnableCallback, void*, ULONGLONG*);
using WriteCall = ULONG(WINAPI*)(ULONGLONG, const void*, ULONG, void*);
using UnregisterCall = ULONG(WINAPI*)(ULONGLONG);

// The system's descriptor record and data field, laid out as the system's headers do.
struct SystemDescriptor {
  USHORT id;
  UCHAR version;
  UCHAR channel;
  UCHAR level;
  UCHAR opcode;
  USHORT task;
  ULONGLONG keyword;
};
struct SystemDataField {
  ULONGLONG pointer;
  ULONG size;
  ULONG reserved;
};
static_assert(sizeof(SystemDescriptor) == 16 && sizeof(SystemDataField) == 16);

std::atomic<RegisterCall> gRegister{nullptr};
std::atomic<WriteCall> gWrite{nullptr};
std::atomic<UnregisterCall> gUnregister{nullptr};
std::atomic<bool> gOpened{false};

void NTAPI OnEnable(const GUID*, ULONG controlCode, UCHAR level, ULONGLONG matchAny,
                    ULONGLONG matchAll, void*, void* context) {
  const auto* registration = static_cast<const TraceRegistration*>(context);
  if (registration != nullptr && registration->callback != nullptr) {
    registration->callback(controlCode, level, matchAny, matchAll, registration->context);
  }
}

}  // namespace

bool OpenEventTracing() noexcept {
  if (gOpened.load()) return true;
  const HMODULE advapi = LoadLibraryW(L"Advapi32.dll");
  if (advapi == nullptr) return false;
  gRegister.store(LookupCall<RegisterCall>(advapi, "EventRegister"));
  gWrite.store(LookupCall<WriteCall>(advapi, "EventWrite"));
  gUnregister.store(LookupCall<UnregisterCall>(advapi, "EventUnregister"));
  // A second open only bumped the library's count, which stays for the process's life anyway.
  gOpened.store(true);
  return true;
}

bool RegisterTraceProvider(const TraceGuid& guid, TraceRegistration& registration) noexcept {
  const RegisterCall call = gRegister.load();
  if (call == nullptr) return false;
  GUID id;
  static_assert(sizeof id == sizeof guid);
  std::memcpy(&id, &guid, sizeof id);
  ULONGLONG handle = 0;
  if (call(&id, OnEnable, &registration, &handle) != ERROR_SUCCESS) return false;
  registration.handle = handle;
  return true;
}

uint32_t WriteTraceEvent(const TraceRegistration& registration,
                         const TraceEventDescriptor& descriptor, const TraceDataField* fields,
                         uint32_t fieldCount) noexcept {
  const WriteCall call = gWrite.load();
  if (call == nullptr) return 0;
  const SystemDescriptor system{descriptor.id,     descriptor.version, descriptor.channel,
                                descriptor.level,  descriptor.opcode,  descriptor.task,
                                descriptor.keyword};
  SystemDataField data[8] = {};
  if (fieldCount > 8) fieldCount = 8;
  for (uint32_t i = 0; i < fieldCount; ++i) {
    data[i].pointer = reinterpret_cast<uintptr_t>(fields[i].data);
    data[i].size = fields[i].size;
  }
  return call(registration.handle, &system, fieldCount, data);
}

void UnregisterTraceProvider(TraceRegistration& registration) noexcept {
  const UnregisterCall call = gUnregister.load();
  if (registration.handle != 0 && call != nullptr) call(registration.handle);
  registration.handle = 0;
}

}  // namespace vyn::platform
