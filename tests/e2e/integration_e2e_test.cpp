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

#include "base/owners.h"
#include "bitness.h"
#include "expectednames.h"
#include "machine.h"
#include "regsnapshot.h"
#include "shelltest.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

constexpr DWORD kExitTimeoutMs = 60000;
const wchar_t* const kArchives[] = {L"sample.obx", L"sample.zip", L"sample.tgz"};
constexpr wchar_t kClasses[] = L"Software\\Classes\\";
constexpr wchar_t kOtherVendor[] = L"ObxOtherVendor";

// A string value of HKLM as the given view (KEY_WOW64_32KEY or KEY_WOW64_64KEY) shows it.
std::wstring ReadIn(REGSAM view, const std::wstring& subkey, const wchar_t* name = nullptr) {
  wchar_t text[1024] = {};
  DWORD bytes = sizeof text - sizeof(wchar_t);
  ScopedKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | view, key.put()) == 0)
    RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, text, &bytes);
  return text;
}

// HKLM\Software of one view, opened for changes.
ScopedKey SoftwareIn(REGSAM view) {
  ScopedKey key;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | view, key.put());
  return key;
}

// The differences DescribeRegDifferences lists, but for what uninstallation leaves on purpose:
// new empty handler-list parents, which other programs register under too.
std::wstring UnexpectedChanges(const std::wstring& changes) {
  std::wstring unexpected;
  for (size_t start = 0, end; start < changes.size(); start = end + 1) {
    end = changes.find(L'\n', start);
    if (end == std::wstring::npos) end = changes.size();
    std::wstring line = changes.substr(start, end - start);
    if (line.empty()) continue;
    std::wstring name = line.substr(line.find_last_of(L"\\[") + 1);
    bool sharedParent = line.compare(0, 7, L"+ key [") == 0 &&
                        (name == L"SHELLEX]" || name == L"DRIVE]" ||
                         name == L"REGISTEREDAPPLICATIONS]" ||
                         (name.size() > 9 && name.compare(name.size() - 9, 9, L"HANDLERS]") == 0));
    if (!sharedParent) unexpected += line + L"\n";
  }
  return unexpected;
}

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

// A 32-bit program on 64-bit Windows registers both Explorer modules, each module's class in its
// own view, and App Paths in both views; the record and the program key go to its own view. The
// 64-bit build registers the one module in its one view. Uninstallation takes all of it back in
// both views and leaves another program's keys in either view alone.
TEST_F(IntegrationE2E, EachKeyInItsViewAndUninstallationTakesBackBothViewsOnly) {
  const REGSAM views[] = {kOwnView, kOtherView};
  for (REGSAM view : views) {
    ScopedKey other;
    ASSERT_EQ(RegCreateKeyExW(SoftwareIn(view).get(), kOtherVendor, 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, other.put(), nullptr),
              ERROR_SUCCESS);
  }
  RegSnapshot before[2];
  for (int i : {0, 1}) before[i] = TakeRegSnapshot(HKEY_LOCAL_MACHINE, L"Software", views[i]);
  setupRan_ = true;
  ASSERT_EQ(Run(L"/S /setup /noexplorer /initS1"), 0u);

  const std::wstring mainProgram = install_ / L"Ombrix.exe";
  for (REGSAM view : views) {
    bool own = view == kOwnView;
    // Wine keeps one App Paths key for both views: the 64-bit build's absence from the other
    // view cannot show here.
    if (own || kWow64Process) {
      EXPECT_EQ(ReadIn(view, kAppPathsKey), mainProgram) << view;
    }
    EXPECT_EQ(KeyExistsInView(HKEY_LOCAL_MACHINE, kRecordKey, view), own) << view;
    EXPECT_EQ(KeyExistsInView(HKEY_LOCAL_MACHINE, L"Software\\Ombrix", view), own) << view;
  }
  // Each module's class in its own view, each module under its own handler name.
  auto server = [](const wchar_t* classId) {
    return kClasses + std::wstring(L"CLSID\\") + classId + L"\\InProcServer32";
  };
  const std::wstring module32 = install_ / L"obxext.dll", module64 = install_ / L"obxext64.dll";
  EXPECT_EQ(ReadIn(KEY_WOW64_32KEY, server(kClassId32)), kWow64Process ? module32 : L"");
  EXPECT_EQ(ReadIn(KEY_WOW64_64KEY, server(kClassId32)), kWow64Process ? L"" : module32);
  EXPECT_EQ(ReadIn(KEY_WOW64_64KEY, server(kClassId64)), kWow64Process ? module64 : L"");
  EXPECT_EQ(ReadIn(KEY_WOW64_32KEY, server(kClassId64)), L"");
  const std::wstring handlers = kClasses + std::wstring(L"Folder\\shellex\\DragDropHandlers\\");
  EXPECT_EQ(ReadIn(kOwnView, handlers + L"Ombrix32"), kWow64Process ? kClassId32 : L"");
  EXPECT_EQ(ReadIn(kOwnView, handlers + L"Ombrix"), kWow64Process ? kClassId64 : kClassId32);

  ASSERT_EQ(Run(L"/S"), 0u);
  setupRan_ = false;
  for (int i : {0, 1}) {
    RegSnapshot after = TakeRegSnapshot(HKEY_LOCAL_MACHINE, L"Software", views[i]);
    EXPECT_EQ(UnexpectedChanges(DescribeRegDifferences(before[i], after)), L"")
        << "view " << views[i];
  }
  for (REGSAM view : views)
    EXPECT_EQ(RegDeleteTreeW(SoftwareIn(view).get(), kOtherVendor), ERROR_SUCCESS) << view;
}

}  // namespace
