// The real uninstall.exe in a scratch installation folder: silent setup, then the shell opening
// archives and the shortcuts it made, then the silent uninstallation taking all of it back.
// Works on the real registry and shell folders of the test prefix and cleans up after itself.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windows.h>

#include <string>
#include <vector>

#include "machine.h"
#include "shelltest.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

constexpr DWORD kExitTimeoutMs = 60000;
constexpr wchar_t kAppPathsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Ombrix.exe";
const wchar_t* const kArchives[] = {L"sample.obx", L"sample.zip", L"sample.tgz"};

// The uninstallation's self-removal batch file; it runs on after the program has ended.

std::wstring SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

class IntegrationE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_NO_FATAL_FAILURE(CopySampleFiles(install_.path()));
    WriteFileBytes(install_ / L"WhatsNew.txt", "new");
    WriteFileBytes(install_ / L"Uninstall.lst", "");
    environment_.remove = {L"sfxcmd", L"sfxname"};
  }
  void TearDown() override {
    // Whatever a failed step left behind.
    if (setupRan_ && PathExists(install_ / L"uninstall.exe")) Run(L"/S");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kAppPathsKey);
    RemoveTree(SpecialFolder(CSIDL_PROGRAMS) + L"\\Ombrix");
    RemoveTree(SpecialFolder(CSIDL_COMMON_PROGRAMS) + L"\\Ombrix");
    // Left running, the batch file would meet the next test's installation, and the command
    // interpreter outliving this process holds the test runner's output open.
    WaitUntilGone(RemovalBatchFile(), 20000);
    CoUninitialize();
  }

  DWORD Run(const std::wstring& arguments) {
    TestProcess process;
    EXPECT_TRUE(process.Start(install_ / L"uninstall.exe", arguments, environment_,
                              install_.path()));
    EXPECT_TRUE(process.WaitForExit(kExitTimeoutMs)) << testing::PrintToString(arguments);
    return process.exitCode();
  }

  // Asks the shell to open the file; true when the stub main program recorded its path.
  bool ShellStartsMainProgram(const std::wstring& file, DWORD timeoutMs,
                              INT_PTR* result = nullptr) {
    WriteFileBytes(file, "archive");
    HINSTANCE started =
        ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (result) *result = reinterpret_cast<INT_PTR>(started);
    return WaitForStart(install_.path(), L"\"" + file + L"\"", timeoutMs);
  }

  MachineStateLock machine_;  // first in, last out
  TempFolder install_;
  TempFolder documents_;
  EnvironmentChanges environment_;
  bool setupRan_ = false;
};

TEST_F(IntegrationE2E, SilentSetupThenUninstall_ShellAndShortcutsFollowTheIntegration) {
  setupRan_ = true;
  ASSERT_EQ(Run(L"/S /setup /msi /noexplorer"), 0u);

  for (const wchar_t* name : kArchives)
    EXPECT_TRUE(ShellStartsMainProgram(documents_ / name, 15000))
        << testing::PrintToString(std::wstring(name));

  std::wstring desktop = SpecialFolder(CSIDL_DESKTOPDIRECTORY);
  const std::vector<std::wstring> entries = {L"Ombrix Command-Line Manual.lnk",
                                             L"Ombrix Help.lnk", L"Ombrix.lnk",
                                             L"What's New in Ombrix.lnk"};
  const std::vector<std::wstring> targets = {L"Obx.txt", L"Ombrix.chm", L"Ombrix.exe",
                                             L"WhatsNew.txt"};
  for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS}) {
    std::wstring group = SpecialFolder(csidl) + L"\\Ombrix";
    ASSERT_EQ(ListFiles(group), entries) << testing::PrintToString(group);
    for (size_t i = 0; i < entries.size(); i++) {
      ShortcutInfo link = ReadShortcut(group + L"\\" + entries[i]);
      ASSERT_TRUE(link.loaded);
      EXPECT_EQ(link.target, install_ / targets[i]);
      EXPECT_EQ(link.description, L"Ombrix file archiver");
      EXPECT_EQ(link.workingFolder, desktop);
    }
  }

  // The list names no file, so the main program stays for the shell to find, were it still
  // associated; the batch file started at the end takes only uninstall.exe and the folder.
  ASSERT_EQ(Run(L"/S"), 0u);
  setupRan_ = false;
  ASSERT_TRUE(PathExists(install_ / L"Ombrix.exe"));
  for (const wchar_t* name : kArchives) {
    std::wstring again = documents_ / (std::wstring(L"after_") + name);
    INT_PTR result = 0;
    EXPECT_FALSE(ShellStartsMainProgram(again, 2000, &result))
        << testing::PrintToString(std::wstring(name));
    EXPECT_EQ(result, SE_ERR_NOASSOC) << testing::PrintToString(std::wstring(name));
  }
  EXPECT_FALSE(PathExists(SpecialFolder(CSIDL_PROGRAMS) + L"\\Ombrix"));
  EXPECT_FALSE(PathExists(SpecialFolder(CSIDL_COMMON_PROGRAMS) + L"\\Ombrix"));
}

}  // namespace
