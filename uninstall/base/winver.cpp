#include "base/winver.h"

#include <wbemidl.h>

#include <cwchar>

#include "base/ole.h"
#include "base/owners.h"
#include "base/procaddress.h"

namespace {

constexpr char kIsWow64Process[] = "IsWow64Process";
constexpr wchar_t kWmiNamespace[] = L"ROOT\\CIMV2";
constexpr wchar_t kWmiLanguage[] = L"WQL";
constexpr wchar_t kWmiQuery[] = L"SELECT * FROM Win32_OperatingSystem";
constexpr wchar_t kWmiNameProperty[] = L"Name";
constexpr wchar_t kWindows10Name[] = L"Windows 10";
constexpr DWORD kFirstWindows11Build = 22000;
constexpr unsigned kOlderThanNt = 0x0501;

struct PlatformCache {
  int wow64 = -1;  // -1 unknown, else the BOOL that IsWow64Process returned
  bool windows11Known = false;
  bool windows11 = false;
  int platformId = -1;  // -1 not read yet
  DWORD major = 0;
  DWORD minor = 0;
  DWORD build = 0;
  bool overridden = false;
  PlatformOverride platform = {};
  PlatformQueryCounts counts = {};
};
PlatformCache platformCache;

using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);

struct BstrTraits {
  static BSTR Empty() { return nullptr; }
  static bool IsValid(BSTR text) { return text != nullptr; }
  static void Close(BSTR text) { SysFreeString(text); }
};
using ScopedBstr = Owner<BSTR, BstrTraits>;

// One query serves both the version number and the Windows 11 test.
void ReadVersion() {
  if (platformCache.platformId != -1) return;
  platformCache.counts.version++;
  if (platformCache.overridden) {
    const PlatformOverride& platform = platformCache.platform;
    platformCache.platformId = static_cast<int>(platform.platformId);
    platformCache.major = platform.major;
    platformCache.minor = platform.minor;
    platformCache.build = platform.build;
    return;
  }
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  // A failed query counts as an old system rather than being asked again.
  if (!GetVersionExW(&info)) info = {};
  platformCache.platformId = static_cast<int>(info.dwPlatformId);
  platformCache.major = info.dwMajorVersion;
  platformCache.minor = info.dwMinorVersion;
  platformCache.build = info.dwBuildNumber;
}

bool NameSaysWindows10(IWbemClassObject* object) {
  VARIANT name;
  VariantInit(&name);
  bool found = SUCCEEDED(object->Get(kWmiNameProperty, 0, &name, nullptr, nullptr)) &&
               name.vt == VT_BSTR && name.bstrVal && wcsstr(name.bstrVal, kWindows10Name);
  VariantClear(&name);
  return found;
}

}  // namespace

bool IsWow64() {
  if (platformCache.overridden) return platformCache.platform.wow64;
  if (platformCache.wow64 != -1) return platformCache.wow64 == 1;
  auto function = KernelFunction<IsWow64ProcessFunction>(kIsWow64Process);
  BOOL wow64 = FALSE;
  // A failed query stays unknown, so the next call asks again.
  if (!function || !function(GetCurrentProcess(), &wow64)) return false;
  platformCache.wow64 = wow64;
  return wow64 == 1;
}

bool IsWindows11() {
  if (!platformCache.windows11Known) {
    ReadVersion();
    DWORD major = platformCache.major;
    platformCache.windows11 =
        major > 10 ||
        (major == 10 && platformCache.build >= kFirstWindows11Build && !WmiReportsWindows10());
    platformCache.windows11Known = true;
  }
  return platformCache.windows11;
}

unsigned GetWindowsVersion() {
  ReadVersion();
  if (platformCache.platformId != VER_PLATFORM_WIN32_NT) return kOlderThanNt;
  return (platformCache.major << 8) + platformCache.minor;
}

bool WmiReportsWindows10() {
  platformCache.counts.wmi++;
  if (platformCache.overridden) return platformCache.platform.wmiReportsWindows10;

  EnsureCom();
  ComPtr<IWbemLocator> locator;
  if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                              locator.put_void())))
    return false;
  ScopedBstr wmiNamespace(SysAllocString(kWmiNamespace));
  ComPtr<IWbemServices> services;
  if (!wmiNamespace || FAILED(locator->ConnectServer(wmiNamespace.get(), nullptr, nullptr, nullptr,
                                                     0, nullptr, nullptr, services.put())))
    return false;
  if (FAILED(CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                               RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                               EOAC_NONE)))
    return false;
  ScopedBstr language(SysAllocString(kWmiLanguage));
  ScopedBstr query(SysAllocString(kWmiQuery));
  ComPtr<IEnumWbemClassObject> objects;
  if (!language || !query ||
      FAILED(services->ExecQuery(language.get(), query.get(),
                                 WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                 objects.put())))
    return false;

  bool windows10 = false;
  for (;;) {
    ComPtr<IWbemClassObject> object;
    ULONG returned = 0;
    objects->Next(static_cast<LONG>(WBEM_INFINITE), 1, object.put(), &returned);
    if (returned == 0 || !object) break;
    if (NameSaysWindows10(object.get())) windows10 = true;
  }
  return windows10;
}

void SetPlatformOverride(const PlatformOverride* platform) {
  platformCache = PlatformCache();
  if (!platform) return;
  platformCache.overridden = true;
  platformCache.platform = *platform;
}

PlatformQueryCounts GetPlatformQueryCounts() { return platformCache.counts; }

bool CanMapDllAsData() {
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
#pragma GCC diagnostic pop
  if (info.dwPlatformId != VER_PLATFORM_WIN32_NT) return false;
  return info.dwMajorVersion > 5 || (info.dwMajorVersion == 5 && info.wServicePackMajor >= 2);
}
