// Applying the integration on a scratch registry with scratch shell folders: everything written,
// value for value; the shell opening archives through it; access denied; the theme icon.
#include "integration/apply.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <map>
#include <string>

#include "base/owners.h"
#include "base/winver.h"
#include "driver/uninstall.h"
#include "expected_keys.h"
#include "filesystem/path.h"
#include "filesystem/secure.h"
#include "integration/associations.h"
#include "integration/shellext.h"
#include "integration/shortcuts.h"
#include "machine.h"
#include "platforms.h"
#include "regsnapshot.h"
#include "settings/registry.h"
#include "shelltest.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

using Listing = std::map<std::wstring, std::wstring>;

// Every alias of the archive types, with the zip row's own.
const wchar_t* const kAliases[] = {
    L".obx", L".cab", L".arj", L".lz",  L".tlz", L".lzh",  L".lha", L".7z",   L".tar",
    L".gz",  L".tgz", L".uue", L".xxe", L".uu",  L".bz2",  L".tbz2", L".bz",  L".tbz",
    L".jar", L".iso", L".z",   L".taz", L".xz",  L".txz",  L".zipx", L".zst", L".tzst",
    L".001"};
constexpr wchar_t kZipAlias[] = L".zip";

// Where the shell notes folders it was asked for; written by Wine, not by this program.
bool IsShellBookkeeping(const std::wstring& entry) {
  for (const wchar_t* key : {L"\\Explorer\\Shell Folders|", L"\\Explorer\\User Shell Folders|",
                             L"\\Windows NT\\CurrentVersion\\ProfileList|"})
    if (entry.find(key) != std::wstring::npos) return true;
  return false;
}

// Entries added or changed from before to after; removed ones appear as "(removed)".
Listing Changes(const Listing& before, const Listing& after) {
  Listing changes;
  for (const auto& entry : after) {
    auto old = before.find(entry.first);
    if (old == before.end() || old->second != entry.second) changes[entry.first] = entry.second;
  }
  for (const auto& entry : before)
    if (!after.count(entry.first)) changes[entry.first] = L"(removed)";
  return changes;
}

class Apply : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    SetPlatformOverride(&kWindows10x64);
    UseClassesRootViews();
    // Wine may note the folders on first use; that is the shell's doing, not ours.
    wchar_t folder[2048];
    for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_STARTMENU,
                      CSIDL_COMMON_STARTMENU, CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_APPDATA,
                      CSIDL_PROFILE})
      GetSpecialFolder(folder, 2048, csidl);
  }
  void TearDown() override {
    RemoveRealView64Keys();
    CoUninitialize();
  }

  Listing Snapshot() const {
    Listing all;
    for (auto root : {std::make_pair(HKEY_CLASSES_ROOT, L"HKCR\\"),
                      std::make_pair(HKEY_LOCAL_MACHINE, L"HKLM\\"),
                      std::make_pair(HKEY_CURRENT_USER, L"HKCU\\")})
      for (const auto& entry : DumpRegistry(root.first, L""))
        if (!IsShellBookkeeping(entry.first) &&
            (root.first != HKEY_LOCAL_MACHINE || entry.first.rfind(L"Software\\Classes", 0)))
          all[root.second + entry.first] = entry.second;  // the classes: listed as HKCR
    return all;
  }

  void Remove() {
    IntegrationOptions none = {};
    AssociateAll(none);
    RegisterShellExtensions(true, none);
    UpdateShortcuts(none, nullptr, 0, nullptr);
  }

  MachineStateLock machine_;  // the real 64-bit view is shared with other test programs
  ScratchRegistry registry_;
  ScratchShellFolders folders_;
  IntegrationOptions options_ = {};
};

TEST_F(Apply, CleanRegistry_GetsExactlyTheEntriesOfEveryPart) {
  for (unsigned i = 0; i < kArchiveTypeCount; i++) options_.associate[i] = true;
  options_.shellExt = true;
  options_.linkPrograms = true;
  Listing before = Snapshot();
  wchar_t group[2048] = {};
  ASSERT_TRUE(ApplyIntegration(options_, group, 2048));
  EXPECT_EQ(RegView, 0u);

  std::wstring program = BuildFolderFile(L"Ombrix.exe");
  std::wstring folder = BuildFolderFile(L"");
  folder.pop_back();
  std::wstring open = L"sz:\"" + program + L"\" \"%1\"";
  Listing expected;
  Listing shell;
  AddModuleKeys(shell, kClassId32, L"Ombrix32", L"obxext.dll", true);
  AddModuleKeys(shell, kClassId64, L"Ombrix", nullptr, true);
  for (const auto& entry : shell) expected[L"HKCR\\" + entry.first] = entry.second;
  for (const wchar_t* id : {kClassId32, kClassId64})
    expected[std::wstring(L"HKLM\\") + kApprovedKey + L"|" + id] = L"sz:Ombrix shell extension";

  // Each key taken over, with the backup under the machine key that says it did not exist before.
  auto takeOver = [&](const std::wstring& key, const wchar_t* type) {
    std::wstring backup = L"HKLM\\Software\\Ombrix\\Setup\\" + key;
    expected[L"HKCR\\" + key + L"|@"] = std::wstring(L"sz:") + type;
    expected[backup + L"|Exist"] = L"dword:0";
    expected[backup + L"|Type"] = L"sz:";
    expected[backup + L"|DefaultValue"] = L"sz:-";
  };
  auto associate = [&](const std::wstring& alias, const wchar_t* type) {
    takeOver(alias, type);
    expected[L"HKLM\\Software\\Ombrix\\Capabilities\\FileAssociations|" + alias] =
        std::wstring(L"sz:") + type;
  };
  for (const wchar_t* alias : kAliases) associate(alias, L"Ombrix");
  associate(kZipAlias, L"Ombrix.ZIP");
  for (int n = 0; n < 30; n++) {
    wchar_t volume[8];
    swprintf(volume, 8, L".o%02d", n);
    takeOver(volume, L"Ombrix");
  }
  for (const wchar_t* ext : {L".obx", L".zip"}) {
    std::wstring backup = std::wstring(L"HKLM\\Software\\Ombrix\\Setup\\") + ext;
    expected[backup + L"|ShellNew"] = L"sz:";
    expected[backup + L"|ShellNewCount"] = L"dword:0";
    expected[backup + L"|ShellNewKey"] = L"dword:0";
    expected[backup + L"|ShellNewHeld"] = L"dword:1";
  }
  expected[L"HKCR\\.obx\\ShellNew|FileName"] = L"sz:" + BuildFolderFile(L"obxnew.dat");
  expected[L"HKCR\\.zip\\ShellNew|FileName"] = L"sz:" + BuildFolderFile(L"zipnew.dat");

  expected[L"HKCR\\Ombrix|@"] = L"sz:Ombrix archive";
  expected[L"HKCR\\Ombrix\\shell\\open\\command|@"] = open;
  expected[L"HKCR\\Ombrix\\DefaultIcon|@"] = L"sz:" + program + L",0";
  expected[L"HKCR\\Ombrix.ZIP|@"] = L"sz:ZIP archive";
  expected[L"HKCR\\Ombrix.ZIP\\shell\\open\\command|@"] = open;
  expected[L"HKCR\\Ombrix.ZIP\\DefaultIcon|@"] = L"sz:" + program + L",0";
  takeOver(L".rev", L"Ombrix.REV");
  expected[L"HKCR\\Ombrix.REV|@"] = L"sz:Ombrix recovery volume";
  expected[L"HKCR\\Ombrix.REV\\shell\\open\\command|@"] = open;
  expected[L"HKCR\\Ombrix.REV\\DefaultIcon|@"] = L"sz:" + program + L",1";

  expected[L"HKLM\\Software\\RegisteredApplications|Ombrix"] = L"sz:Software\\Ombrix\\Capabilities";
  expected[L"HKLM\\Software\\Ombrix\\Capabilities|ApplicationDescription"] = L"sz:Ombrix";
  expected[L"HKLM\\Software\\Ombrix|exe32"] = L"sz:" + program;
  expected[std::wstring(L"HKLM\\") + kAppPathsKey + L"|@"] = L"sz:" + program;
  expected[std::wstring(L"HKLM\\") + kAppPathsKey + L"|Path"] = L"sz:" + folder;

  Listing changes = Changes(before, Snapshot());
  for (const auto& entry : expected) {
    auto found = changes.find(entry.first);
    if (found == changes.end())
      ADD_FAILURE() << "missing " << testing::PrintToString(entry.first);
    else
      EXPECT_EQ(found->second, entry.second) << testing::PrintToString(entry.first);
  }
  for (const auto& entry : changes)
    if (!expected.count(entry.first))
      ADD_FAILURE() << "unexpected " << testing::PrintToString(entry.first) << " = "
                    << testing::PrintToString(entry.second);
  EXPECT_EQ(std::wstring(group), folders_.commonPrograms() + L"\\Ombrix");

  // The 64-bit view gets the 64-bit module's class and a second App Paths entry.
  EXPECT_EQ(DumpRegistry(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kClassId64,
                         KEY_WOW64_64KEY),
            ClassKeys(L"obxext64.dll"));
  Listing appPaths = {{L"|@", L"sz:" + program}, {L"|Path", L"sz:" + folder}};
  EXPECT_EQ(DumpRegistry(HKEY_LOCAL_MACHINE, kAppPathsKey, KEY_WOW64_64KEY),
            appPaths);
}

TEST_F(Apply, ShellOpensArchivesWithTheMainProgram_UntilRemoval) {
  for (unsigned i = 0; i < kArchiveTypeCount; i++) options_.associate[i] = true;
  options_.shellExt = true;
  ASSERT_TRUE(ApplyIntegration(options_, nullptr, 0));

  TempFolder files;
  std::wstring folder = BuildFolderFile(L"");
  for (const wchar_t* name : {L"sample.obx", L"sample.zip", L"sample.tgz"}) {
    std::wstring file = files / name;
    WriteFileBytes(file, "archive");
    INT_PTR result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    EXPECT_GT(result, 32) << testing::PrintToString(std::wstring(name));
    EXPECT_TRUE(WaitForStart(folder, L"\"" + file + L"\"", 15000))
        << testing::PrintToString(std::wstring(name));
  }

  Remove();
  for (const wchar_t* name : {L"again.obx", L"again.zip", L"again.tgz"}) {
    std::wstring file = files / name;
    WriteFileBytes(file, "archive");
    INT_PTR result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    EXPECT_LE(result, 32) << testing::PrintToString(std::wstring(name));
    EXPECT_FALSE(WaitForStart(folder, file, 2000)) << testing::PrintToString(std::wstring(name));
  }
}

TEST_F(Apply, WithoutAdministratorRights_NothingIsWrittenAndTheCallFails) {
  // App Paths readable but not writable, as for a standard user (Wine enforces no key security,
  // so the registry layer refuses the writes).
  DenyRegistryWrites(HKEY_LOCAL_MACHINE, kAppPathsFolderKey);
  for (unsigned i = 0; i < kArchiveTypeCount; i++) options_.associate[i] = true;
  options_.shellExt = options_.linkDesktop = options_.linkStartMenu = options_.linkPrograms = true;
  Listing before = Snapshot();
  wchar_t group[2048] = L"untouched";
  EXPECT_FALSE(ApplyIntegration(options_, group, 2048));
  EXPECT_EQ(Changes(before, Snapshot()), Listing());
  EXPECT_EQ(std::wstring(group), L"untouched");
  EXPECT_TRUE(ListFiles(folders_.commonDesktop()).empty());
  EXPECT_FALSE(PathExists(folders_.userPrograms() + L"\\Ombrix"));
}

// Windows hands a request through HKEY_CLASSES_ROOT to the user's own key of that name where one
// exists, and any process of the user can make one; Wine does not, so the classes root is pointed
// at the user's classes here to stand for that. An elevated setup and uninstallation change the
// machine's classes and leave such a key as it was; a run without the rights still goes through
// the classes root.
TEST_F(Apply, ElevatedRunsChangeTheMachinesClassesPastTheUsersShadowingKeys) {
  const struct {
    bool elevated;
    const wchar_t* userZip;
    const wchar_t* machineZip;
  } cases[] = {{true, L"sz:UserZip", L"sz:Ombrix.ZIP"},
               {false, L"sz:Ombrix.ZIP", L"sz:OtherArc.zip"}};
  for (unsigned i = 0; i < kArchiveTypeCount; i++) options_.associate[i] = true;
  HKEY machine = registry_.Real(HKEY_CLASSES_ROOT);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.elevated);
    RegDeleteTreeW(machine, nullptr);
    RegDeleteTreeW(registry_.Real(HKEY_CURRENT_USER), nullptr);
    RegDeleteTreeW(registry_.Real(HKEY_LOCAL_MACHINE), L"Software\\Ombrix");
    ScopedKey user;
    ASSERT_EQ(RegCreateKeyExW(registry_.Real(HKEY_CURRENT_USER), L"Software\\Classes", 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, user.put(), nullptr),
              ERROR_SUCCESS);
    const struct {
      HKEY root;
      const wchar_t* key;
      const wchar_t* text;
    } plants[] = {{machine, L".zip", L"OtherArc.zip"},
                  {user.get(), L".zip", L"UserZip"},
                  {user.get(), L"Ombrix\\shell\\open\\command", L"user.exe"}};
    for (const auto& plant : plants)
      ASSERT_EQ(RegSetKeyValueW(plant.root, plant.key, nullptr, REG_SZ, plant.text,
                                static_cast<DWORD>((wcslen(plant.text) + 1) * sizeof(wchar_t))),
                ERROR_SUCCESS);
    RegSnapshot shadowing = TakeRegSnapshot(user.get(), L"");
    RegOverridePredefKey(HKEY_CLASSES_ROOT, user.get());
    SetElevationOverride(&c.elevated);
    ASSERT_TRUE(ApplyIntegration(options_, nullptr, 0));
    EXPECT_EQ(DumpRegistry(user.get(), L".zip")[L"|@"], c.userZip);
    EXPECT_EQ(DumpRegistry(machine, L".zip")[L"|@"], c.machineZip);
    if (c.elevated) {
      EXPECT_EQ(DescribeRegDifferences(shadowing, TakeRegSnapshot(user.get(), L"")), L"");
      RemoveIntegration();
      EXPECT_EQ(DescribeRegDifferences(shadowing, TakeRegSnapshot(user.get(), L"")), L"");
      EXPECT_EQ(DumpRegistry(machine, L".zip")[L"|@"], L"sz:OtherArc.zip");
      EXPECT_FALSE(KeyExists(machine, L"Ombrix"));
    }
    RegOverridePredefKey(HKEY_CLASSES_ROOT, machine);
  }
}

TEST_F(Apply, AppPaths_OnThirtyTwoBitWindowsTheSameKeyIsWrittenTwice) {
  SetPlatformOverride(&kWindows7);
  ASSERT_TRUE(RegisterAppPaths());
  EXPECT_EQ(RegView, 0u);
  Listing paths = DumpRegistry(HKEY_LOCAL_MACHINE, kAppPathsFolderKey);
  std::wstring folder = BuildFolderFile(L"");
  folder.pop_back();
  Listing expected = {{L"Ombrix.exe|@", L"sz:" + BuildFolderFile(L"Ombrix.exe")},
                      {L"Ombrix.exe|Path", L"sz:" + folder}};
  EXPECT_EQ(paths, expected);
}

// The icon goes into shortcuts that every user opens, but any process of the user can set the
// value: it is taken only when its file exists in the program's folder.
TEST_F(Apply, ThemeIcon_IsUsedOnlyWhenItsFileExistsInTheProgramFolder) {
  options_.linkPrograms = true;
  TempFolder theme;
  std::wstring name = UniqueName(L"theme") + L".ico";
  std::wstring inProgramFolder = BuildFolderFile(name.c_str());
  std::wstring outside = theme / L"theme.ico";
  // Named from the program folder, but in the folder above it.
  std::wstring above = BuildFolderFile((L"..\\" + name).c_str());
  std::wstring link = folders_.userPrograms() + L"\\Ombrix\\Ombrix.lnk";
  WriteFileBytes(outside, "icon");
  WriteFileBytes(above, "icon");
  const std::wstring refused[] = {inProgramFolder /* not there yet */, outside, above};
  for (const std::wstring& icon : refused) {
    ASSERT_EQ(SetSettingString(L"Interface\\Themes", L"ShellExtIcon", icon.c_str()), 0u);
    ASSERT_TRUE(ApplyIntegration(options_, nullptr, 0));
    EXPECT_EQ(ReadShortcut(link).iconPath, L"") << testing::PrintToString(icon);
  }
  WriteFileBytes(inProgramFolder, "icon");
  ASSERT_EQ(SetSettingString(L"Interface\\Themes", L"ShellExtIcon", inProgramFolder.c_str()), 0u);
  ASSERT_TRUE(ApplyIntegration(options_, nullptr, 0));
  EXPECT_EQ(ReadShortcut(link).iconPath, inProgramFolder);
  DeleteFileW(inProgramFolder.c_str());
  DeleteFileW(above.c_str());
}

}  // namespace
