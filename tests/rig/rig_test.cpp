// Checks of the test environment itself: the things every other test relies on.
#include <gtest/gtest.h>
#include <windows.h>

#include "testenv.h"

TEST(TestRig, WindowsVersionIsReportedAsTen) {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ASSERT_TRUE(GetVersionExW(&info));
#pragma GCC diagnostic pop
  EXPECT_EQ(info.dwMajorVersion, 10u);
}

TEST(TestRig, WindowsCanBeCreated) {
  HWND window = CreateWindowExW(0, L"STATIC", L"probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  DestroyWindow(window);
}

TEST(TestRig, ScratchRegistryRedirectsAndCleansUp) {
  HKEY real = nullptr;
  {
    ScratchRegistry scratch;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\ObxProbe", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    // The key landed in the scratch tree, not in the machine's own.
    EXPECT_EQ(RegOpenKeyExW(scratch.Real(HKEY_LOCAL_MACHINE), L"Software\\ObxProbe", 0, KEY_READ,
                            &real),
              ERROR_SUCCESS);
    RegCloseKey(real);
  }
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\ObxProbe", 0, KEY_READ, &real),
            ERROR_SUCCESS);
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\ObxTest", 0, KEY_READ, &real),
            ERROR_SUCCESS);
}

TEST(TestRig, TempFolderIsRemovedWithItsContents) {
  std::wstring path;
  {
    TempFolder temp;
    path = temp.path();
    CreateDirectoryW((temp / L"sub").c_str(), nullptr);
    WriteFileBytes(temp / L"sub\\file.txt", "x");
    SetFileAttributesW((temp / L"sub\\file.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  }
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}
