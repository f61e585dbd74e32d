// Checks of the test environment itself: the things every other test relies on.
#include <gtest/gtest.h>
#include <windows.h>

#include "driver/runstate.h"
#include "integration/handlerbackup.h"
#include "localisation/langmodule.h"
#include "processstate.h"
#include "settings/registry.h"
#include "settings/store.h"
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

// What one test leaves in the program's single objects is gone before the next: each owner's
// reset, called by ResetProcessState.
TEST(TestRig, ProcessResetPutsTheSingleObjectsBack) {
  ScratchRegistry scratch;
  SetRegView(KEY_WOW64_64KEY);
  DenyRegistryWrites(HKEY_CURRENT_USER, L"");
  SetRegChangeLimit(0);
  EXPECT_NE(SetRegString(HKEY_CURRENT_USER, L"Software\\ObxProbe", L"v", L"x"),
            static_cast<DWORD>(ERROR_SUCCESS));
  settingsStore.entryLimit = 3;
  NoteUnsavedHandler();
  runState.outcome = Outcome::kIncomplete;
  runState.silent = true;

  ResetProcessState();
  EXPECT_EQ(RegView, 0u);
  EXPECT_EQ(settingsStore.entryLimit, 0u);
  EXPECT_EQ(UnsavedHandlerCount(), 0u);
  EXPECT_EQ(runState.outcome, Outcome::kDone);
  EXPECT_FALSE(runState.silent);
  EXPECT_EQ(languageModule.resourceModule, GetModuleHandleW(nullptr));
  // Writes allowed again, and no change limit.
  EXPECT_EQ(SetRegString(HKEY_CURRENT_USER, L"Software\\ObxProbe", L"v", L"x"),
            static_cast<DWORD>(ERROR_SUCCESS));
}
