// The whole product as the installer and the installed-programs panel run it: silent setup of a
// sample installation, then the uninstallation from the record's command line, checked against
// the prefix's registry as it was before. Also portable installations, installer variables, and
// installations in a drive root and in a folder with an awkward name.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/owners.h"
#include "expectednames.h"
#include "machine.h"
#include "regsnapshot.h"
#include "shelltest.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

constexpr DWORD kExitTimeoutMs = 60000;
constexpr DWORD kBatchTimeoutMs = 20000;
constexpr wchar_t kSetup[] = L"/setup /S /noexplorer /initA01D1";
// Another archiver's types, planted before setup so that there is something to save.
const wchar_t* const kForeignKeys[] = {L".zip", L".7z", L"OtherArc.zip", L"OtherArc.7z"};

std::wstring ReadString(HKEY root, const std::wstring& subkey, const wchar_t* name = nullptr) {
  wchar_t text[2048] = {};
  DWORD bytes = sizeof text - sizeof(wchar_t);
  RegGetValueW(root, subkey.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &bytes);
  return text;
}

void SetString(HKEY root, const std::wstring& subkey, const wchar_t* name,
               const std::wstring& text) {
  ASSERT_EQ(RegSetKeyValueW(root, subkey.c_str(), name, REG_SZ, text.c_str(),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

std::vector<std::wstring> ProductShortcuts() {
  std::vector<std::wstring> found;
  for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY})
    if (Exists(ShellFolder(csidl) + L"\\Ombrix.lnk")) found.push_back(ShellFolder(csidl));
  for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
    if (Exists(ShellFolder(csidl) + L"\\Ombrix")) found.push_back(ShellFolder(csidl));
  return found;
}

// The parts of the registry that setup writes to.
struct RegistryState {
  RegSnapshot classes = TakeRegSnapshot(HKEY_CLASSES_ROOT, L"");
  RegSnapshot user = TakeRegSnapshot(HKEY_CURRENT_USER, L"Software");
  RegSnapshot machine = TakeRegSnapshot(HKEY_LOCAL_MACHINE, L"Software");
};

// Removal deletes only the product's own keys and values, one key at a time, so the shared
// handler-list parents that registration created stay behind, empty. Only those are allowed.
RegSnapshot WithoutEmptyParents(const RegSnapshot& before, RegSnapshot after) {
  const std::wstring parents[] = {L"DRIVE", L"SHELLEX", L"DRAGDROPHANDLERS",
                                  L"PROPERTYSHEETHANDLERS", L"CONTEXTMENUHANDLERS",
                                  L"REGISTEREDAPPLICATIONS"};
  for (auto it = after.begin(); it != after.end();) {
    const std::wstring& path = it->first;
    std::wstring last = path.substr(path.rfind(L'\\') + 1);
    bool parent = std::find(std::begin(parents), std::end(parents), last) != std::end(parents);
    if (parent && it->second.empty() && !before.count(path))
      it = after.erase(it);
    else
      ++it;
  }
  return after;
}

std::wstring Differences(const RegistryState& before, const RegistryState& after) {
  return DescribeRegDifferences(before.classes, WithoutEmptyParents(before.classes, after.classes)) +
         DescribeRegDifferences(before.user, WithoutEmptyParents(before.user, after.user)) +
         DescribeRegDifferences(before.machine, WithoutEmptyParents(before.machine, after.machine));
}

// The UTF-16 lines of an ini file as the program writes it; false when it lacks the mark.
// Entries are sorted by key, the text before the first "=".
bool KeysSorted(const std::vector<std::wstring>& lines) {
  return std::is_sorted(lines.begin(), lines.end(), [](const std::wstring& a, const std::wstring& b) {
    return a.substr(0, a.find(L'=')) < b.substr(0, b.find(L'='));
  });
}

bool ReadIniLines(const std::wstring& path, std::vector<std::wstring>* lines) {
  std::string bytes = ReadFileBytes(path);
  if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE' || bytes.size() % 2) return false;
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
  lines->clear();
  size_t start = 0;
  for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    lines->push_back(text.substr(start, end - start));
  return start == text.size();
}

class SystemE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    environment_.remove = {L"sfxcmd", L"sfxname"};
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey)) << "left over by an earlier test";
  }

  void TearDown() override {
    if (!program_.empty() && Exists(program_)) {
      TestProcess uninstall;
      if (uninstall.Start(program_, L"/S", environment_, folder_))
        uninstall.WaitForExit(kExitTimeoutMs);
      WaitUntilGone(program_, kBatchTimeoutMs);
    }
    WaitUntilGone(RemovalBatchFile(), kBatchTimeoutMs);
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kAppPathsKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kRecordKey);
    for (const wchar_t* key : kForeignKeys) RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
    for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
      RemoveTree(ShellFolder(csidl) + L"\\Ombrix");
    for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY})
      DeleteFileW((ShellFolder(csidl) + L"\\Ombrix.lnk").c_str());
    CoUninitialize();
  }

  // The sample installation in folder (created when missing), with its list file.
  void Install(const std::wstring& folder) {
    folder_ = folder;
    program_ = At(L"uninstall.exe");
    CreateDirectoryW(folder_.c_str(), nullptr);
    ASSERT_NO_FATAL_FAILURE(CopySampleFiles(folder_));
    WriteFileBytes(At(L"Uninstall.lst"), SampleList());
  }

  // Setup and uninstallation of a program installed in the root of drive (e.g. "R:"); marker is
  // a file there that no list names.
  void InstallInDriveRoot(const std::wstring& drive, const std::wstring& marker);

  DWORD Run(const std::wstring& program, const std::wstring& arguments) {
    TestProcess process;
    EXPECT_TRUE(process.Start(program, arguments, environment_, folder_))
        << "error " << process.lastError();
    EXPECT_TRUE(process.WaitForExit(kExitTimeoutMs)) << testing::PrintToString(arguments);
    return process.exitCode();
  }
  DWORD Run(const std::wstring& arguments) { return Run(program_, arguments); }

  // As the installed-programs panel does: the record's command line, here with the silent
  // switch; then the self-removal batch file is given time to finish.
  void UninstallFromTheRecord() {
    std::wstring command = ReadString(HKEY_LOCAL_MACHINE, kRecordKey, L"UninstallString");
    ASSERT_EQ(command, L"\"" + program_ + L"\"");
    ASSERT_EQ(Run(command.substr(1, command.size() - 2), L"/S"), 0u);
    EXPECT_TRUE(WaitUntilGone(program_, kBatchTimeoutMs));
    EXPECT_TRUE(WaitUntilGone(RemovalBatchFile(), kBatchTimeoutMs));
  }

  void PlantForeignHandlers() {
    SetString(HKEY_CLASSES_ROOT, L".zip", nullptr, L"OtherArc.zip");
    SetString(HKEY_CLASSES_ROOT, L".zip\\ShellNew", L"NullFile", L"");
    SetString(HKEY_CLASSES_ROOT, L".7z", nullptr, L"OtherArc.7z");
    SetString(HKEY_CLASSES_ROOT, L"OtherArc.zip\\shell\\open\\command", nullptr,
              L"\"C:\\OtherArc\\otherarc.exe\" \"%1\"");
    SetString(HKEY_CLASSES_ROOT, L"OtherArc.7z\\shell\\open\\command", nullptr,
              L"\"C:\\OtherArc\\otherarc.exe\" \"%1\"");
  }

  // Setup as often as asked, then uninstallation (by the same or another account): everything
  // setup wrote goes, and the other archiver's handlers are back as they were before the first
  // setup.
  void RoundTrip(int setups, bool otherAccount = false) {
    PlantForeignHandlers();
    Install(root_ / L"Ombrix");
    RegistryState before;
    for (int i = 0; i < setups; i++) {
      ASSERT_EQ(Run(kSetup), 0u) << "setup " << i + 1;
      EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".zip"), L"Ombrix.ZIP");
      EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L".7z"), L"Ombrix");
      EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, L"Software\\Ombrix\\Setup\\.zip", L"Type"),
                L"OtherArc.zip");
      EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, L"Software\\Ombrix\\Setup\\.7z", L"Type"),
                L"OtherArc.7z");
    }
    // The prefix has one account. Another account's uninstallation sees none of the installing
    // user's settings: they are gone here before it runs.
    if (otherAccount) {
      ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey), 0);
    }
    EXPECT_TRUE(Exists(ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Ombrix.lnk") ||
                Exists(ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Ombrix.lnk"));
    UninstallFromTheRecord();
    EXPECT_EQ(Differences(before, RegistryState()), L"");
    EXPECT_EQ(ProductShortcuts(), std::vector<std::wstring>());
    EXPECT_FALSE(Exists(folder_));
  }

  std::wstring At(const std::wstring& name) const { return folder_ + L"\\" + name; }

  MachineStateLock lock_;  // first in, last out
  TempFolder root_;
  std::wstring folder_;
  std::wstring program_;
  EnvironmentChanges environment_;
};

TEST_F(SystemE2E, SetupThenUninstallRestoresAnotherArchiversHandlers) { RoundTrip(1); }

TEST_F(SystemE2E, ThreeSetupsThenUninstallStillRestoreTheFirstHandlers) { RoundTrip(3); }

TEST_F(SystemE2E, UninstallationByAnotherAccountRestoresTheHandlersAndLeavesNoKey) {
  RoundTrip(1, true);
}

// Integration switched off in the ini file: the registry is neither read for settings nor
// changed, and the ini file keeps the settings, rewritten in UTF-16 code unit order.
TEST_F(SystemE2E, PortableInstallationKeepsEverythingInItsIniFile) {
  // Without the ini in the list, the file outlives the uninstallation and shows what it did.
  Install(root_ / L"Ombrix");
  // An upper-case letter sorts before every lower-case one, and a surrogate pair before U+FF21
  // (a code point order would put it after).
  const std::wstring astral = L"k\xD83D\xDE00=astral";
  const std::wstring wide = L"k\xFF21=wide";
  std::wstring text = L"\xFEFF; portable\r\n[Global]\r\nzeta=\"last\"\r\n" + wide + L"\r\n" +
                      astral + L"\r\nGlobal\\Integration=0\r\nAlpha=1\r\n";
  WriteFileBytes(At(L"Ombrix.ini"),
                 std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
  RegistryState before;

  ASSERT_EQ(Run(kSetup), 0u);
  EXPECT_EQ(Differences(before, RegistryState()), L"");
  EXPECT_EQ(ProductShortcuts(), std::vector<std::wstring>());

  std::vector<std::wstring> lines;
  ASSERT_TRUE(ReadIniLines(At(L"Ombrix.ini"), &lines));
  EXPECT_TRUE(KeysSorted(lines)) << testing::PrintToString(lines);
  auto has = [&lines](const std::wstring& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  for (const std::wstring& kept :
       {std::wstring(L"Alpha=1"), std::wstring(L"zeta=\"last\""), wide, astral,
        std::wstring(L"Global\\Integration=0"), std::wstring(L"Global\\AppData=1"),
        std::wstring(L"Global\\SaveSettings=1")})
    EXPECT_TRUE(has(kept)) << testing::PrintToString(kept);
  // The preset's choices: .obx off, .zip on, a desktop shortcut.
  EXPECT_TRUE(has(L"HKCU\\Setup\\.obx\\Set=0")) << testing::PrintToString(lines);
  EXPECT_TRUE(has(L"HKCU\\Setup\\.zip\\Set=1"));
  EXPECT_TRUE(has(L"HKCU\\Setup\\Links\\Desktop=1"));

  ASSERT_EQ(Run(L"/S"), 0u);
  EXPECT_TRUE(WaitUntilGone(program_, kBatchTimeoutMs));
  EXPECT_TRUE(WaitUntilGone(RemovalBatchFile(), kBatchTimeoutMs));
  EXPECT_EQ(Differences(before, RegistryState()), L"");
  EXPECT_EQ(ProductShortcuts(), std::vector<std::wstring>());
  ASSERT_TRUE(ReadIniLines(At(L"Ombrix.ini"), &lines));
  EXPECT_TRUE(KeysSorted(lines));
  for (const std::wstring& line : lines) EXPECT_NE(line.rfind(L"HKCU\\", 0), 0u) << "not removed";
  EXPECT_TRUE(has(L"Global\\Integration=0"));
  EXPECT_TRUE(has(astral));
}

// The installer's variable carries only the silent switch: "/setup" there does not turn an
// uninstallation into a setup, "/S" there makes it ask nothing.
TEST_F(SystemE2E, InstallerVariableSwitchesTheUninstallationOnlyToSilent) {
  Install(root_ / L"Ombrix");
  ASSERT_EQ(Run(kSetup), 0u);

  environment_.set = {{L"sfxcmd", L"/setup"}};
  TestProcess asking;
  ASSERT_TRUE(asking.Start(program_, L"", environment_, folder_));
  HWND box = asking.WaitForDialog(kExitTimeoutMs);
  ASSERT_NE(box, nullptr);
  EXPECT_NE(ReadControlText(box, kMessageBoxTextId), L"");  // the confirmation, not a dialog
  EXPECT_EQ(GetDlgItem(box, 5121), nullptr);               // with the setup's check boxes
  ASSERT_TRUE(PressButton(box, IDNO));
  ASSERT_TRUE(asking.WaitForExit(kExitTimeoutMs));
  EXPECT_EQ(asking.exitCode(), 1602u);  // declined
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));

  environment_.set = {{L"sfxcmd", L"/S"}};
  TestProcess silent;
  ASSERT_TRUE(silent.Start(program_, L"", environment_, folder_));
  EXPECT_EQ(silent.WaitForDialog(3000), nullptr);
  ASSERT_TRUE(silent.WaitForExit(kExitTimeoutMs));
  EXPECT_EQ(silent.exitCode(), 0u);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
  EXPECT_TRUE(WaitUntilGone(program_, kBatchTimeoutMs));
}

// Paths built from the program's folder must not double the root's backslash.
TEST_F(SystemE2E, InstallationInADriveRoot) {
  // The test session maps R: to a spare folder of its own, marked as such.
  if (Exists(L"R:\\obx-test-drive")) {
    InstallInDriveRoot(L"R:", L"R:\\obx-test-drive");
    return;
  }
  DWORD used = GetLogicalDrives();
  wchar_t letter = 0;
  for (wchar_t c = L'P'; c <= L'Y' && !letter; c++)
    if (!(used & (1u << (c - L'A')))) letter = c;
  if (!letter) GTEST_SKIP() << "no free drive letter";
  const std::wstring drive = std::wstring(1, letter) + L":";
  std::wstring target = root_ / L"drive";
  ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
  WriteFileBytes(target + L"\\marker", "x");
  if (!DefineDosDeviceW(0, drive.c_str(), target.c_str()) || !Exists(drive + L"\\marker")) {
    DefineDosDeviceW(DDD_REMOVE_DEFINITION, drive.c_str(), nullptr);
    GTEST_SKIP() << "Wine does not map a drive letter defined with DefineDosDevice";
  }
  struct Unmap {
    std::wstring drive;
    ~Unmap() { DefineDosDeviceW(DDD_REMOVE_DEFINITION, drive.c_str(), nullptr); }
  } unmap{drive};
  InstallInDriveRoot(drive, target + L"\\marker");
}

void SystemE2E::InstallInDriveRoot(const std::wstring& drive, const std::wstring& marker) {
  Install(drive);
  program_ = drive + L"\\uninstall.exe";
  folder_ = drive + L"\\";
  ASSERT_TRUE(Exists(program_));
  RegistryState before;
  ASSERT_EQ(Run(kSetup), 0u);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"Ombrix.ZIP\\shell\\open\\command"),
            L"\"" + drive + L"\\Ombrix.exe\" \"%1\"");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kAppPathsKey), drive + L"\\Ombrix.exe");
  std::wstring desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Ombrix.lnk";
  if (!Exists(desktop)) desktop = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Ombrix.lnk";
  ShortcutInfo link = ReadShortcut(desktop);
  ASSERT_TRUE(link.loaded);
  EXPECT_EQ(link.target, drive + L"\\Ombrix.exe");

  UninstallFromTheRecord();
  EXPECT_EQ(Differences(before, RegistryState()), L"");
  EXPECT_EQ(ProductShortcuts(), std::vector<std::wstring>());
  for (const wchar_t* file : kSampleFiles) EXPECT_FALSE(Exists(drive + L"\\" + file)) << file;
  EXPECT_TRUE(Exists(marker));  // not listed, so not the program's to delete
}

TEST_F(SystemE2E, InstallationInAFolderWithForeignLettersAndAPercentSign) {
  PlantForeignHandlers();
  Install(root_ / L"Ombrix 100% Caf\u00e9 \u0416\u0443\u043a %TEMP%");
  RegistryState before;
  ASSERT_EQ(Run(kSetup), 0u);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"Ombrix.ZIP\\shell\\open\\command"),
            L"\"" + At(L"Ombrix.exe") + L"\" \"%1\"");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"Ombrix.ZIP\\DefaultIcon"), At(L"Ombrix.exe") + L",0");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kAppPathsKey), At(L"Ombrix.exe"));
  // The target reads back with "?" for the Cyrillic letters under Wine; whether the link or
  // the reading loses them is not settled, so only the shortcuts' presence is checked here.
  for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
    EXPECT_TRUE(Exists(ShellFolder(csidl) + L"\\Ombrix\\Ombrix.lnk")) << csidl;
  UninstallFromTheRecord();
  EXPECT_EQ(Differences(before, RegistryState()), L"");
  EXPECT_EQ(ProductShortcuts(), std::vector<std::wstring>());
  EXPECT_FALSE(Exists(folder_));
}

}  // namespace
