// Shortcuts, program groups and folder removal, with the shell folders redirected into a temp
// folder; shortcuts are read back through the shell link object.
#include "integration/shortcuts.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "base/winver.h"
#include "platforms.h"
#include "settings/store.h"
#include "shelltest.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

const std::wstring kDescription = L"Ombrix file archiver";
const std::vector<std::wstring> kGroupWithoutWhatsNew = {
    L"Ombrix Command-Line Manual.lnk", L"Ombrix Help.lnk", L"Ombrix.lnk"};

class Shortcuts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    SetPlatformOverride(&kWindows10x64);
    // The build folder is the program folder here; its what's-new file is absent.
    ASSERT_FALSE(PathExists(BuildFolderFile(L"WhatsNew.txt")));
  }
  void TearDown() override { CoUninitialize(); }

  void Update(wchar_t* groupOut = nullptr, unsigned groupSize = 0,
              const wchar_t* icon = nullptr) {
    UpdateShortcuts(options_, groupOut, groupSize, icon);
  }
  void AllOn() { options_.linkDesktop = options_.linkStartMenu = options_.linkPrograms = true; }

  ScratchRegistry registry_;
  ScratchShellFolders folders_;
  IntegrationOptions options_ = {};
};

void ExpectShortcut(const std::wstring& link, const std::wstring& target,
                    const std::wstring& workingFolder) {
  ShortcutInfo info = ReadShortcut(link);
  ASSERT_TRUE(info.loaded) << link.c_str();
  EXPECT_EQ(info.target, target);
  EXPECT_EQ(info.description, kDescription);
  EXPECT_EQ(info.workingFolder, workingFolder);
  EXPECT_EQ(info.arguments, L"");
}

TEST_F(Shortcuts, ProgramGroups_HoldTheEntriesWhoseTargetsExistAndReportTheAllUsersGroup) {
  options_.linkPrograms = true;
  wchar_t group[2048] = {};
  Update(group, 2048);

  std::wstring userGroup = folders_.userPrograms() + L"\\Ombrix";
  std::wstring commonGroup = folders_.commonPrograms() + L"\\Ombrix";
  EXPECT_EQ(std::wstring(group), commonGroup);
  for (const std::wstring& folder : {userGroup, commonGroup}) {
    EXPECT_EQ(ListFiles(folder), kGroupWithoutWhatsNew);
    ExpectShortcut(folder + L"\\Ombrix.lnk", BuildFolderFile(L"Ombrix.exe"),
                   folders_.userDesktop());
    ExpectShortcut(folder + L"\\Ombrix Help.lnk", BuildFolderFile(L"Ombrix.chm"),
                   folders_.userDesktop());
    ExpectShortcut(folder + L"\\Ombrix Command-Line Manual.lnk", BuildFolderFile(L"Obx.txt"),
                   folders_.userDesktop());
  }
  // Only the programs were asked for.
  EXPECT_TRUE(ListFiles(folders_.userDesktop()).empty());
  EXPECT_TRUE(ListFiles(folders_.commonDesktop()).empty());
  EXPECT_TRUE(ListFiles(folders_.commonStartMenu()).empty());
}

TEST_F(Shortcuts, ProgramGroupPath_IsCutToTheCallersBuffer) {
  options_.linkPrograms = true;
  wchar_t group[8];
  wmemset(group, L'#', 8);
  Update(group, 6);
  EXPECT_EQ(std::wstring(group), (folders_.commonPrograms() + L"\\Ombrix").substr(0, 5));
  EXPECT_EQ(group[6], L'#');
}

TEST_F(Shortcuts, StaleGroup_IsEmptiedOfFilesButKeepsItsSubfolders) {
  std::wstring group = folders_.userPrograms() + L"\\Ombrix";
  ASSERT_TRUE(CreateDirectoryW(group.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((group + L"\\Mine").c_str(), nullptr));
  WriteFileBytes(group + L"\\Mine\\note.txt", "x");
  WriteFileBytes(group + L"\\Old Help.lnk", "stale");
  options_.linkPrograms = true;
  Update();
  EXPECT_EQ(ListFiles(group), kGroupWithoutWhatsNew);
  EXPECT_EQ(ReadFileBytes(group + L"\\Mine\\note.txt"), "x");
}

TEST_F(Shortcuts, DesktopAndStartMenu_GoToAllUsersFromVistaOnWithTheThemeIcon) {
  AllOn();
  std::wstring icon = BuildFolderFile(L"Ombrix.exe");
  Update(nullptr, 0, icon.c_str());

  std::wstring desktopLink = folders_.commonDesktop() + L"\\Ombrix.lnk";
  ExpectShortcut(desktopLink, BuildFolderFile(L"Ombrix.exe"), L"");
  ExpectShortcut(folders_.commonStartMenu() + L"\\Ombrix.lnk", BuildFolderFile(L"Ombrix.exe"),
                 folders_.userDesktop());
  EXPECT_EQ(ReadShortcut(desktopLink).iconPath, icon);
  EXPECT_EQ(ReadShortcut(folders_.userPrograms() + L"\\Ombrix\\Ombrix.lnk").iconPath, icon);
  // The other entries show their targets' own icons.
  EXPECT_EQ(ReadShortcut(folders_.userPrograms() + L"\\Ombrix\\Ombrix Help.lnk").iconPath, L"");
  EXPECT_TRUE(ListFiles(folders_.userDesktop()).empty());
  EXPECT_TRUE(ListFiles(folders_.userStartMenu()).empty());
}

TEST_F(Shortcuts, BeforeVista_TheStartMenuShortcutGoesToTheUsersMenu) {
  SetPlatformOverride(&kWindowsXp);
  options_.linkStartMenu = true;
  Update();
  EXPECT_EQ(ListFiles(folders_.userStartMenu()), std::vector<std::wstring>{L"Ombrix.lnk"});
  EXPECT_TRUE(ListFiles(folders_.commonStartMenu()).empty());

  SetPlatformOverride(&kWindows7x64);
  Update();
  EXPECT_EQ(ListFiles(folders_.commonStartMenu()), std::vector<std::wstring>{L"Ombrix.lnk"});
}

TEST_F(Shortcuts, ExistingUserDesktopShortcut_IsTheOnlyOneUpdatedOrDeleted) {
  std::wstring userLink = folders_.userDesktop() + L"\\Ombrix.lnk";
  std::wstring commonLink = folders_.commonDesktop() + L"\\Ombrix.lnk";
  ASSERT_TRUE(CreateShortcut(false, L"C:\\old\\Ombrix.exe", userLink.c_str(), nullptr, nullptr,
                             nullptr, L"-keep"));
  ASSERT_TRUE(CreateShortcut(false, L"C:\\old\\Ombrix.exe", commonLink.c_str(), nullptr, nullptr,
                             nullptr, nullptr));
  options_.linkDesktop = true;
  Update();
  ShortcutInfo user = ReadShortcut(userLink);
  EXPECT_EQ(user.target, BuildFolderFile(L"Ombrix.exe"));
  EXPECT_EQ(user.arguments, L"-keep");  // an updated shortcut keeps what it is not given
  EXPECT_EQ(ReadShortcut(commonLink).target, L"C:\\old\\Ombrix.exe");

  options_.linkDesktop = false;
  Update();
  EXPECT_FALSE(PathExists(userLink));
  EXPECT_TRUE(PathExists(commonLink));
}

TEST_F(Shortcuts, AllFalse_RemovesEveryShortcutAndBothGroups) {
  AllOn();
  Update();
  ASSERT_TRUE(PathExists(folders_.commonDesktop() + L"\\Ombrix.lnk"));
  options_ = {};
  Update();
  for (const std::wstring& folder :
       {folders_.userDesktop(), folders_.commonDesktop(), folders_.userStartMenu(),
        folders_.commonStartMenu(), folders_.userPrograms(), folders_.commonPrograms()}) {
    EXPECT_TRUE(ListFiles(folder).empty()) << folder.c_str();
    EXPECT_FALSE(PathExists(folder + L"\\Ombrix")) << folder.c_str();
  }
}

TEST_F(Shortcuts, IntegrationSwitchedOffInTheIniFile_NeitherCreatesNorDeletes) {
  TempFolder program;
  WriteFileBytes(program / L"Ombrix.ini", "Global\\Integration=0\r\n");
  SetIniSearchPlaces((program / L"uninstall.exe").c_str(), (program / L"none").c_str());
  FreeIni();
  std::wstring userLink = folders_.userDesktop() + L"\\Ombrix.lnk";
  WriteFileBytes(userLink, "not ours to delete now");

  AllOn();
  Update();
  options_ = {};
  Update();
  EXPECT_FALSE(IntegrationAllowed());
  EXPECT_TRUE(PathExists(userLink));
  EXPECT_TRUE(ListFiles(folders_.commonDesktop()).empty());
  EXPECT_FALSE(PathExists(folders_.userPrograms() + L"\\Ombrix"));
}

TEST(Shortcut, SavesAndLoadsBackEveryGivenProperty) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    TempFolder folder;
    std::wstring link = folder / L"a.lnk";
    ASSERT_TRUE(CreateShortcut(true, L"C:\\p\\Ombrix.exe", link.c_str(), L"C:\\w", L"desc",
                               L"C:\\p\\icon.ico", L"-x \"y\""));
    ShortcutInfo info = ReadShortcut(link);
    EXPECT_EQ(info.target, L"C:\\p\\Ombrix.exe");
    EXPECT_EQ(info.workingFolder, L"C:\\w");
    EXPECT_EQ(info.description, L"desc");
    EXPECT_EQ(info.iconPath, L"C:\\p\\icon.ico");
    EXPECT_EQ(info.iconIndex, 0);
    EXPECT_EQ(info.arguments, L"-x \"y\"");
    // Into a folder that does not exist there is nothing to save.
    EXPECT_FALSE(CreateShortcut(true, L"C:\\p\\Ombrix.exe", (folder / L"no\\b.lnk").c_str(),
                                nullptr, nullptr, nullptr, nullptr));
  }
  CoUninitialize();
}

}  // namespace
