// The running Windows system through its version and system-information calls. The calls that
// older systems lack, and the one outside the documented interface, are looked up at run time.
#include "platform/SystemFacts.h"

#include "platform/windows/SystemHeaders.h"

namespace vyn::platform {
namespace {

// The unrestricted version call of ntdll; its record is the wide twin of the ordinary one.
using RtlGetVersionCall = LONG(WINAPI*)(OSVERSIONINFOEXW*);
using SystemInfoCall = void(WINAPI*)(SYSTEM_INFO*);
using ProductInfoCall = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD*);

}  // namespace

bool ReadWindowsSystemFacts(WindowsSystemFacts& out) {
  out = WindowsSystemFacts{};
  OSVERSIONINFOEXA info{};
  info.dwOSVersionInfoSize = sizeof info;
  // Deprecated because compatibility settings cap its numbers; the unrestricted call below
  // corrects them where it exists.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const BOOL read = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info));
#pragma GCC diagnostic pop
  if (!read) return false;
  out.platformId = info.dwPlatformId;
  out.major = info.dwMajorVersion;
  out.minor = info.dwMinorVersion;
  out.build = info.dwBuildNumber;
  out.productType = info.wProductType;
  out.suiteMask = info.wSuiteMask;
  out.servicePack = info.szCSDVersion;

  if (const auto rtlGetVersion =
          LookupCall<RtlGetVersionCall>(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")) {
    OSVERSIONINFOEXW wide{};
    wide.dwOSVersionInfoSize = sizeof wide;
    if (rtlGetVersion(&wide) == 0) {
      out.unrestricted = true;
      out.platformId = wide.dwPlatformId;
      out.major = wide.dwMajorVersion;
      out.minor = wide.dwMinorVersion;
      out.build = wide.dwBuildNumber;
      static_assert(sizeof(wchar_t) == sizeof(char16_t));
      for (const wchar_t* c = wide.szCSDVersion; *c != L'\0'; ++c) {
        out.wideServicePack.push_back(static_cast<char16_t>(*c));
      }
    }
  }

  SYSTEM_INFO system{};
  if (const auto native =
          LookupCall<SystemInfoCall>(GetModuleHandleA("kernel32.dll"), "GetNativeSystemInfo")) {
    native(&system);
  } else {
    GetSystemInfo(&system);
  }
  out.architecture = system.wProcessorArchitecture;
  out.serverR2Metric = GetSystemMetrics(SM_SERVERR2);
  if (out.major >= 6) {
    if (const auto productInfo =
            LookupCall<ProductInfoCall>(GetModuleHandleA("kernel32.dll"), "GetProductInfo")) {
      // A failed call reports the undefined product (0), which names the unknown product.
      DWORD type = 0;
      static_cast<void>(productInfo(out.major, out.minor, 0, 0, &type));
      out.productInfo = type;
    }
  }
  return true;
}

bool ReadPosixSystemFacts(PosixSystemFacts& out) {
  out = PosixSystemFacts{};
  return false;
}

}  // namespace vyn::platform
