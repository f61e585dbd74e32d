// The uninstall procedure's own pieces in-process: the program's folder, the temp folder
// setting, and taking the integration back (and the rights asked for it) in a scratch registry.
#include "driver/uninstall.h"

#include <gtest/gtest.h>

#include <string>

#include "base/owners.h"
#include "driver/record.h"
#include "driver/runstate.h"
#include "expectednames.h"
#include "filesystem/fileops.h"
#include "integration/apply.h"
#include "integration/options.h"
#include "machine.h"
#include "sandbox_fixture.h"
#include "settings/registry.h"
#include "settings/store.h"
#include "testenv.h"
#include "uiauto.h"

TEST(GetProgramFolder, DropsTheNameButKeepsADriveRoot) {
  wchar_t folder[64];
  ASSERT_TRUE(GetProgramFolder(L"C:\\Program Files\\Ombrix\\uninstall.exe", folder, 64));
  EXPECT_STREQ(folder, L"C:\\Program Files\\Ombrix");
  ASSERT_TRUE(GetProgramFolder(L"C:\\uninstall.exe", folder, 64));
  EXPECT_STREQ(folder, L"C:\\");
  EXPECT_FALSE(GetProgramFolder(L"uninstall.exe", folder, 64));
}

namespace {

// Settings in a scratch registry, the ini search pointed at an empty folder.
class ScratchSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetIniSearchPlaces((temp_ / L"uninstall.exe").c_str(), (temp_ / L"user").c_str());
  }

  ScratchRegistry registry_;
  TempFolder temp_;
};

using GetTempFolderTest = ScratchSettingsTest;

std::wstring DefaultValue(HKEY root, const wchar_t* subkey) {
  wchar_t text[512] = {};
  DWORD bytes = sizeof text - sizeof(wchar_t);
  RegGetValueW(root, subkey, nullptr, RRF_RT_REG_SZ, nullptr, text, &bytes);
  return text;
}

}  // namespace

TEST_F(GetTempFolderTest, SettingWithVariablesWinsOnlyWhileItExists) {
  wchar_t system[kPathSize];
  GetTempPathW(kPathSize, system);
  wchar_t out[kPathSize];
  GetTempFolder(out, kPathSize);
  EXPECT_STREQ(out, system);

  std::wstring mine = temp_ / L"mine";
  ASSERT_TRUE(CreateDirectoryW(mine.c_str(), nullptr));
  SetEnvironmentVariableW(L"OBXTESTTEMP", temp_.path().c_str());
  ASSERT_EQ(SetSettingString(L"Paths", L"TempFolder", L"%OBXTESTTEMP%\\mine"), 0u);
  GetTempFolder(out, kPathSize);
  EXPECT_EQ(std::wstring(out), mine + L"\\");

  RemoveDirectoryW(mine.c_str());
  GetTempFolder(out, kPathSize);
  EXPECT_STREQ(out, system);
  SetEnvironmentVariableW(L"OBXTESTTEMP", nullptr);
}

class RemoveIntegrationTest : public ScratchSettingsTest {
 protected:
  // What a setup with the .obx association leaves: its integration and the record.
  void ApplyObxWithRecord() {
    IntegrationOptions options = {};
    options.associate[kObxRow] = true;
    wchar_t group[kPathSize] = {};
    ASSERT_TRUE(ApplyIntegration(options, group, kPathSize));
    WriteUninstallRecord((temp_ / L"uninstall.exe").c_str());
  }
};

// The record stays for the uninstallation to delete last: till then it is what lets a run stopped
// after the list went finish without it.
TEST_F(RemoveIntegrationTest, TakesBackTypesSettingsAndAppPathsButNotYetTheRecord) {
  MachineStateLock lock;  // shortcuts are not redirected
  IntegrationOptions options = {};
  for (bool& associate : options.associate) associate = true;
  options.shellExt = true;
  wchar_t group[kPathSize] = {};
  ASSERT_TRUE(ApplyIntegration(options, group, kPathSize));
  WriteUninstallRecord((temp_ / L"uninstall.exe").c_str());
  SetSettingString(L"Paths", L"TempFolder", L"C:\\");
  ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
  ASSERT_EQ(DefaultValue(HKEY_CLASSES_ROOT, L".zip"), L"Ombrix.ZIP");
  ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey));

  unsigned notifications = AssociationNotificationCount();
  RemoveIntegration();
  EXPECT_EQ(AssociationNotificationCount() - notifications, 1u);
  for (const wchar_t* key : {L"Ombrix", L"Ombrix.ZIP", L"Ombrix.REV", L".rev"})
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
  EXPECT_NE(DefaultValue(HKEY_CLASSES_ROOT, L".zip"), L"Ombrix.ZIP");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey));
}

TEST_F(RemoveIntegrationTest, MsiModeKeepsTheRecordAndAppPaths) {
  MachineStateLock lock;
  ASSERT_NO_FATAL_FAILURE(ApplyObxWithRecord());
  SetSettingString(L"Paths", L"TempFolder", L"C:\\");
  runState.msiMode = true;

  unsigned notifications = AssociationNotificationCount();
  RemoveIntegration();
  EXPECT_EQ(AssociationNotificationCount() - notifications, 1u);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Ombrix\\Paths"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey));
}

TEST_F(RemoveIntegrationTest, MsiModeRunTakesIntegrationButNoFileAndWritesNoBatch) {
  MachineStateLock lock;
  ASSERT_NO_FATAL_FAILURE(ApplyObxWithRecord());
  // RunUninstall works on the folder of the running program: this test's build folder.
  std::wstring probe = BuildFolderFile(UniqueName(L"msiprobe").c_str());
  std::wstring list = BuildFolderFile(L"Uninstall.lst");
  WriteFileBytes(probe, "x");
  WriteFileBytes(list, Ascii(probe.substr(probe.rfind(L'\\') + 1)) + "\r\n");
  wchar_t current[kPathSize];
  GetCurrentDirectoryW(kPathSize, current);
  runState.silent = true;
  runState.msiMode = true;

  RunUninstall();
  SetCurrentDirectoryW(current);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey));
  EXPECT_TRUE(Exists(probe));
  EXPECT_TRUE(Exists(list));
  EXPECT_FALSE(Exists(RemovalBatchFile()));
  EXPECT_FALSE(Exists(UserTempFolder() + L"\\Uninstall_Obx_*"));
  DeleteFileW(probe.c_str());
  DeleteFileW(list.c_str());
}

// Each denial on its own stops the uninstallation, except those of what an MSI package keeps;
// asking leaves everything as it was.
TEST_F(RemoveIntegrationTest, RightsAreAskedForTheRecordTheClassKeyAndTheFolder) {
  MachineStateLock lock;
  ASSERT_NO_FATAL_FAILURE(ApplyObxWithRecord());
  std::wstring folder = temp_ / L"Ombrix";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  struct Case {
    const char* denied;
    HKEY root;  // whose writes are refused; null for none
    bool folder, msi, granted;
  };
  const Case cases[] = {
      {"nothing", nullptr, false, false, true},
      {"the record's root", HKEY_LOCAL_MACHINE, false, false, false},
      {"the classes", HKEY_CLASSES_ROOT, false, false, false},
      {"the folder", nullptr, true, false, false},
      {"the record's root, MSI package", HKEY_LOCAL_MACHINE, false, true, true},
      {"the classes, MSI package", HKEY_CLASSES_ROOT, false, true, false},
      {"the folder, MSI package", nullptr, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.denied);
    runState.msiMode = c.msi;
    if (c.root) DenyRegistryWrites(c.root, L"");
    SetFolderAccessDeniedOverride(c.folder ? folder.c_str() : nullptr);
    EXPECT_EQ(HasUninstallRights(folder.c_str()), c.granted);
    AllowRegistryWrites();
  }
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Ombrix"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kRecordKey));
  EXPECT_TRUE(Exists(folder));
}

// The main program's data folder in the temp folder, a link itself or holding one, is removed
// without following the link.
TEST_F(ListHardening, TempDataFolderThatIsOrHoldsALinkLeavesTheCanariesAlone) {
  RemoveWebViewData((temp_ / L"tmp\\").c_str());
  RemoveWebViewData((temp_ / L"tmp2\\").c_str());
  ExpectCanariesIntact();
}
