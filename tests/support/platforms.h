// The Windows variants a test can make the program believe it runs on (SetPlatformOverride).
// Names without a suffix are 32-bit Windows; "x64" is the 32-bit program on 64-bit Windows, a
// WOW64 process.
#pragma once

#include <windows.h>

#include "base/winver.h"

constexpr PlatformOverride kWindowsXp = {VER_PLATFORM_WIN32_NT, 5, 1, 2600, false, false};
constexpr PlatformOverride kWindows7 = {VER_PLATFORM_WIN32_NT, 6, 1, 7601, false, false};
constexpr PlatformOverride kWindows7x64 = {VER_PLATFORM_WIN32_NT, 6, 1, 7601, false, true};
constexpr PlatformOverride kWindows10 = {VER_PLATFORM_WIN32_NT, 10, 0, 19045, true, false};
constexpr PlatformOverride kWindows10x64 = {VER_PLATFORM_WIN32_NT, 10, 0, 19045, true, true};
// Windows 10 systems can report build 22000 or later; WMI still names them "Windows 10".
constexpr PlatformOverride kWindows10HighBuild = {VER_PLATFORM_WIN32_NT, 10, 0, 22000, true, false};
constexpr PlatformOverride kWindows10HighBuildx64 = {VER_PLATFORM_WIN32_NT, 10, 0, 22000, true,
                                                     true};
// Windows 11 as it reports itself: version 10.0, a build from 22000 on, a name without
// "Windows 10".
constexpr PlatformOverride kWindows11ByBuild = {VER_PLATFORM_WIN32_NT, 10, 0, 22000, false, false};
constexpr PlatformOverride kWindows11 = {VER_PLATFORM_WIN32_NT, 10, 0, 22631, false, false};
constexpr PlatformOverride kWindows11x64 = {VER_PLATFORM_WIN32_NT, 10, 0, 22631, false, true};
// A Windows whose major version is above 10.
constexpr PlatformOverride kWindowsMajor11 = {VER_PLATFORM_WIN32_NT, 11, 0, 22631, false, false};
