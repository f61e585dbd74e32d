#include "integration/winver.h"

#include <windows.h>

namespace {

constexpr wchar_t kKernelModule[] = L"kernel32";
constexpr char kIsWow64Process[] = "IsWow64Process";

struct PlatformCache {
  int wow64 = -1;  // -1 unknown, else the BOOL that IsWow64Process returned
};
PlatformCache platformCache;

using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);

}  // namespace

bool IsWow64() {
  if (platformCache.wow64 != -1) return platformCache.wow64 == 1;
  HMODULE kernel = GetModuleHandleW(kKernelModule);
  if (!kernel) return false;
  // Through void(*)(void), the one function type GCC lets any other be cast from.
  auto function = reinterpret_cast<IsWow64ProcessFunction>(
      reinterpret_cast<void (*)(void)>(GetProcAddress(kernel, kIsWow64Process)));
  BOOL wow64 = FALSE;
  // A failed query stays unknown, so the next call asks again.
  if (!function || !function(GetCurrentProcess(), &wow64)) return false;
  platformCache.wow64 = wow64;
  return wow64 == 1;
}
