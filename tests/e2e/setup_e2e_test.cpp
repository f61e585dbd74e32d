// Setup for real: uninstall.exe /setup started from a sandbox installation folder with the sample
// files, its dialogs driven by UI automation, and the prefix's registry and shell folders checked
// afterwards. Each test takes its installation back with a silent uninstallation.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <string>

#include "base/owners.h"
#include "bitness.h"
#include "expectednames.h"
#include "machine.h"
#include "resources/resource.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

constexpr DWORD kExitTimeoutMs = 60000;
constexpr DWORD kDialogTimeoutMs = 30000;
constexpr DWORD kBatchTimeoutMs = 20000;

std::wstring ReadString(HKEY root, const std::wstring& subkey, const wchar_t* name = nullptr) {
  wchar_t text[2048] = {};
  DWORD bytes = sizeof text - sizeof(wchar_t);
  RegGetValueW(root, subkey.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &bytes);
  return text;
}

DWORD ReadSetting(const std::wstring& subkey, const wchar_t* name) {
  DWORD value = 0xDEADBEEF;
  DWORD bytes = sizeof value;
  RegGetValueW(HKEY_CURRENT_USER, (std::wstring(kSettingsKey) + L"\\" + subkey).c_str(), name,
               RRF_RT_REG_DWORD, nullptr, &value, &bytes);
  return value;
}

std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
  return path;
}

// Setup puts it on the user's desktop when one is there already, else on the common one.
bool DesktopShortcutExists() {
  return Exists(ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Ombrix.lnk") ||
         Exists(ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Ombrix.lnk");
}

class SetupE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    environment_.remove = {L"sfxcmd", L"sfxname"};
    ASSERT_NO_FATAL_FAILURE(CopySampleFiles(folder_));
    WriteFileBytes(At(L"Uninstall.lst"), SampleList());
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey)) << "left over by an earlier test";
  }

  // Everything setup may have done goes again, the way the product itself takes it back.
  void TearDown() override {
    TestProcess uninstall;
    if (Exists(program_) && uninstall.Start(program_, L"/S", environment_, folder_)) {
      uninstall.WaitForExit(kExitTimeoutMs);
      WaitUntilGone(program_, kBatchTimeoutMs);
      WaitUntilGone(RemovalBatchFile(), kBatchTimeoutMs);
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
    EXPECT_FALSE(DesktopShortcutExists());
  }

  void Start(const std::wstring& arguments) {
    ASSERT_TRUE(setup_.Start(program_, arguments, environment_, folder_))
        << "error " << setup_.lastError();
  }

  // A visible dialog of the setup process, other than except, that has a control with this id.
  HWND WaitForDialogWith(int id, HWND except = nullptr) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < kDialogTimeoutMs && setup_.Running()) {
      for (HWND dialog : FindDialogs(setup_.id()))
        if (dialog != except && GetDlgItem(dialog, id)) return dialog;
      Sleep(50);
    }
    return nullptr;
  }

  DWORD ExitCode() {
    EXPECT_TRUE(setup_.WaitForExit(kExitTimeoutMs));
    return setup_.exitCode();
  }

  void ExpectNothingApplied() {
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L".obx"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
    EXPECT_FALSE(DesktopShortcutExists());
  }

  std::wstring At(const std::wstring& name) const { return folder_ + L"\\" + name; }

  MachineStateLock lock_;  // first in, last out
  TempFolder root_;
  std::wstring folder_ = root_.path();
  std::wstring program_ = At(L"uninstall.exe");
  EnvironmentChanges environment_;
  TestProcess setup_;
};

}  // namespace

TEST_F(SetupE2E, ClickedChoicesAreAppliedAndTheCompletionDialogShowsTheFolder) {
  Start(L"/setup /noexplorer");
  HWND dialog = WaitForDialogWith(IDC_LINKPROGRAMS);
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(PressButton(dialog, IDC_ASSOCZIP));      // on by default: now off
  ASSERT_TRUE(PressButton(dialog, IDC_LINKDESKTOP));   // off by default: now on
  ASSERT_TRUE(PressButton(dialog, IDC_LINKPROGRAMS));  // on by default: now off
  ASSERT_TRUE(PressButton(dialog, IDOK));

  HWND done = WaitForDialogWith(IDC_VIEWHELP, dialog);
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(ReadControlText(done, IDC_INSTFOLDER), folder_);
  ASSERT_TRUE(PressButton(done, IDOK));
  // The 32-bit program on 64-bit Windows then says that the 64-bit one suits Explorer better.
  HWND note = WaitForDialogWith(kMessageBoxTextId, done);
  EXPECT_EQ(note != nullptr, kWow64Process);
  if (note) {
    wchar_t text[1024] = {};
    LoadStringW(GetModuleHandleW(nullptr), IDS_WARN32BIT, text, 1024);
    EXPECT_EQ(ReadControlText(note, kMessageBoxTextId), text);
    ASSERT_TRUE(PressButton(note, IDOK));
  }
  EXPECT_EQ(ExitCode(), 0u);

  EXPECT_EQ(ReadSetting(L"Setup\\.zip", L"Set"), 0u);
  EXPECT_EQ(ReadSetting(L"Setup\\.obx", L"Set"), 1u);
  EXPECT_EQ(ReadSetting(L"Setup\\Links", L"Desktop"), 1u);
  EXPECT_EQ(ReadSetting(L"Setup\\Links", L"Programs"), 0u);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".obx"), L"Ombrix");
  EXPECT_NE(ReadString(HKEY_CLASSES_ROOT, L".zip"), L"Ombrix.ZIP");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"Ombrix\\shell\\open\\command").find(At(L"Ombrix.exe")),
            1u);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kAppPathsKey), At(L"Ombrix.exe"));
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRecordKey, L"UninstallString"),
            L"\"" + program_ + L"\"");
  EXPECT_TRUE(DesktopShortcutExists());
  EXPECT_FALSE(Exists(ShellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Ombrix"));
  EXPECT_FALSE(Exists(ShellFolder(CSIDL_PROGRAMS) + L"\\Ombrix"));
}

TEST_F(SetupE2E, CancelAndEscapeEndWithOneAndApplyNothing) {
  for (bool escape : {false, true}) {
    Start(L"/setup");
    HWND dialog = WaitForDialogWith(IDC_LINKPROGRAMS);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(PressButton(dialog, IDC_LINKDESKTOP));
    if (escape) {
      PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 1);
    } else {
      ASSERT_TRUE(PressButton(dialog, IDCANCEL));
    }
    EXPECT_EQ(ExitCode(), 1u) << (escape ? "Escape" : "Cancel");
    ExpectNothingApplied();
  }
}

// The installer's silent run: the stored choices with the "/init" preset on top, no window.
TEST_F(SetupE2E, SilentSetupAppliesTheStoredChoicesWithThePresetAndShowsNothing) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Ombrix\\Setup\\.cab", L"Set",
                            REG_DWORD, "\0\0\0\0", 4),
            ERROR_SUCCESS);
  Start(L"/setup /S /initA01D1P0");
  EXPECT_EQ(setup_.WaitForDialog(kDialogTimeoutMs), nullptr);
  EXPECT_EQ(ExitCode(), 0u);

  EXPECT_EQ(ReadSetting(L"Setup\\.obx", L"Set"), 0u);
  EXPECT_EQ(ReadSetting(L"Setup\\.zip", L"Set"), 1u);
  EXPECT_EQ(ReadSetting(L"Setup\\.cab", L"Set"), 0u);
  EXPECT_EQ(ReadSetting(L"Setup\\Links", L"Desktop"), 1u);
  EXPECT_NE(ReadString(HKEY_CLASSES_ROOT, L".obx"), L"Ombrix");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".zip"), L"Ombrix.ZIP");
  EXPECT_NE(ReadString(HKEY_CLASSES_ROOT, L".cab"), L"Ombrix");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".7z"), L"Ombrix");
  EXPECT_TRUE(DesktopShortcutExists());
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
}

TEST_F(SetupE2E, SilentMsiSetupWritesNoInstalledProgramsRecord) {
  Start(L"/setup /S /msi /initD0P0");
  EXPECT_EQ(setup_.WaitForDialog(kDialogTimeoutMs), nullptr);
  EXPECT_EQ(ExitCode(), 0u);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".7z"), L"Ombrix");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kAppPathsKey), At(L"Ombrix.exe"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
}

// The program with HKLM and HKCR writes refused, as for a user without administrator rights:
// nothing integrated and no record; under /S no window at all, otherwise the message with the
// system's text instead of the completion dialog; exit code 5 either way.
TEST_F(SetupE2E, TestBuildWithoutMachineRightsWritesNoMachineOrClassesKeyAndEndsWithFive) {
  ASSERT_TRUE(CopyFileW(BuildFolderFile(L"obxdenied.exe").c_str(), program_.c_str(), FALSE));
  environment_.set.push_back({L"OBXDENY", L"HKLM;HKCR"});
  auto expectNothingIntegrated = [this] {
    EXPECT_NE(ReadString(HKEY_CLASSES_ROOT, L".7z"), L"Ombrix");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L".obx"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey));
    EXPECT_FALSE(DesktopShortcutExists());
  };
  Start(L"/setup /S");
  EXPECT_EQ(setup_.WaitForDialog(3000), nullptr);
  EXPECT_EQ(ExitCode(), 5u);
  expectNothingIntegrated();

  Start(L"/setup");
  HWND dialog = WaitForDialogWith(IDC_LINKPROGRAMS);
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(PressButton(dialog, IDOK));
  HWND box = WaitForDialogWith(kMessageBoxTextId, dialog);
  ASSERT_NE(box, nullptr);
  wchar_t caption[256] = {}, own[1024] = {};
  LoadStringW(GetModuleHandleW(nullptr), 5101, caption, 256);
  LoadStringW(GetModuleHandleW(nullptr), 5151, own, 1024);
  EXPECT_EQ(ReadWindowText(box), caption);
  std::wstring text = ReadControlText(box, kMessageBoxTextId);
  EXPECT_EQ(text.find(std::wstring(own) + L"\n\n"), 0u) << text;
  EXPECT_GT(text.size(), wcslen(own) + 2) << "the system's text follows";
  ASSERT_TRUE(PressButton(box, IDOK));
  EXPECT_EQ(WaitForDialogWith(IDC_VIEWHELP, box), nullptr);
  EXPECT_EQ(ExitCode(), 5u);
  expectNothingIntegrated();
  // The real program, with every right, takes back the saved choices in TearDown.
  environment_.set.pop_back();
  ASSERT_TRUE(CopyFileW(BuildFolderFile(L"uninstall.exe").c_str(), program_.c_str(), FALSE));
}
