// The cached platform tests: Windows 11 by version, build and WMI name, the version number and
// the WOW64 state, on stand-in platforms and once for real under this system.
#include "base/winver.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include "bitness.h"
#include "integrationenv.h"

namespace {

using WindowsVersion = ::testing::Test;

}  // namespace

TEST_F(WindowsVersion, Windows10BuildBelow22000IsNotWindows11WithoutAskingWmi) {
  SetPlatformOverride(&kWindows10);
  EXPECT_FALSE(IsWindows11());
  EXPECT_EQ(GetWindowsVersion(), 0x0A00u);
  EXPECT_EQ(GetPlatformQueryCounts().wmi, 0u);
}

TEST_F(WindowsVersion, Build22000DependsOnTheWmiName) {
  SetPlatformOverride(&kWindows11ByBuild);
  EXPECT_TRUE(IsWindows11());
  EXPECT_EQ(GetPlatformQueryCounts().wmi, 1u);

  SetPlatformOverride(&kWindows10HighBuild);
  EXPECT_FALSE(IsWindows11());
  EXPECT_EQ(GetPlatformQueryCounts().wmi, 1u);
  EXPECT_EQ(GetWindowsVersion(), 0x0A00u);

  PlatformOverride justBelow = kWindows11ByBuild;
  justBelow.build = 21999;
  SetPlatformOverride(&justBelow);
  EXPECT_FALSE(IsWindows11());
}

TEST_F(WindowsVersion, MajorVersionAbove10IsWindows11WithoutAskingWmi) {
  PlatformOverride platform = kWindowsMajor11;
  platform.wmiReportsWindows10 = true;  // must not be asked
  platform.build = 100;
  SetPlatformOverride(&platform);
  EXPECT_TRUE(IsWindows11());
  EXPECT_EQ(GetPlatformQueryCounts().wmi, 0u);
  EXPECT_EQ(GetWindowsVersion(), 0x0B00u);
}

TEST_F(WindowsVersion, OlderVersionsAndNonNtPlatforms) {
  SetPlatformOverride(&kWindows7);
  EXPECT_EQ(GetWindowsVersion(), 0x0601u);
  EXPECT_FALSE(IsWindows11());
  EXPECT_FALSE(IsWow64());

  SetPlatformOverride(&kWindowsXp);
  EXPECT_EQ(GetWindowsVersion(), 0x0501u);
  EXPECT_LT(GetWindowsVersion(), 0x0600u);

  PlatformOverride windows98 = {VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2222, false, false};
  SetPlatformOverride(&windows98);
  EXPECT_EQ(GetWindowsVersion(), 0x0501u);
  EXPECT_FALSE(IsWindows11());
}

TEST_F(WindowsVersion, VersionIsAskedOnceHoweverOftenTheTestsAreCalled) {
  SetPlatformOverride(&kWindows11ByBuild);
  for (int i = 0; i < 5; i++) {
    EXPECT_TRUE(IsWindows11());
    EXPECT_EQ(GetWindowsVersion(), 0x0A00u);
  }
  PlatformQueryCounts counts = GetPlatformQueryCounts();
  EXPECT_EQ(counts.version, 1u);
  EXPECT_EQ(counts.wmi, 1u);

  // A new override empties the caches.
  SetPlatformOverride(&kWindows7);
  EXPECT_FALSE(IsWindows11());
  EXPECT_EQ(GetPlatformQueryCounts().version, 1u);
}

TEST_F(WindowsVersion, Wow64FollowsTheOverrideAndTheRealProcess) {
  SetPlatformOverride(&kWindows10x64);
  EXPECT_TRUE(IsWow64());
  SetPlatformOverride(&kWindows10);
  EXPECT_FALSE(IsWow64());
  SetPlatformOverride(nullptr);
  // The 32-bit test program runs as the shipped program does on 64-bit Windows.
  EXPECT_EQ(IsWow64(), kWow64Process);
}

TEST_F(WindowsVersion, RealQueriesUnderTheTestSystem) {
  // The test prefix reports Windows 10 (build 18362 with our manifest), which is not Windows 11.
  EXPECT_EQ(GetWindowsVersion(), 0x0A00u);
  EXPECT_FALSE(IsWindows11());
  EXPECT_EQ(GetPlatformQueryCounts().version, 1u);
  EXPECT_EQ(GetPlatformQueryCounts().wmi, 0u);
}

TEST_F(WindowsVersion, RealWmiQueryNamesWindows10) {
  // Nothing started OLE before: the query starts it itself, as the program no longer does at
  // start-up.
  EXPECT_TRUE(WmiReportsWindows10());
}
