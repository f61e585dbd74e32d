// Cached facts about the Windows this process runs on.
#pragma once

#include <windows.h>

// Whether LoadLibraryEx can map a DLL as data reliably: from XP with Service Pack 2 on.
bool CanMapDllAsData();
// True when this 32-bit process runs on 64-bit Windows.
bool IsWow64();
// The Windows 11 shell: a version above 10, or 10 with build 22000 or later that WMI does not
// name "Windows 10" (some Windows 10 systems report such builds).
bool IsWindows11();
// (major << 8) + minor on NT systems, 0x0501 otherwise; callers compare with kWindowsVista
// (base/product.h).
unsigned GetWindowsVersion();
// Whether WMI names the operating system "Windows 10". Needs COM; false on any failure.
bool WmiReportsWindows10();

// What the platform queries answer in tests, in place of the system. Never set by the program.
struct PlatformOverride {
  DWORD platformId;  // VER_PLATFORM_WIN32_NT or another platform id
  DWORD major;
  DWORD minor;
  DWORD build;
  bool wmiReportsWindows10;
  bool wow64;
};
// Answers from *platform from now on (a copy is kept), or from the system again when null.
// Empties every cache either way.
void SetPlatformOverride(const PlatformOverride* platform);

// How often the version and the WMI name were really asked for since the caches were emptied.
struct PlatformQueryCounts {
  unsigned version;
  unsigned wmi;
};
PlatformQueryCounts GetPlatformQueryCounts();
