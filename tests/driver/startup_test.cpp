// Start-up pieces in-process: the user's data folder and the preset file copy.
#include "driver/startup.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/owners.h"
#include "testenv.h"

namespace {

void SetAppDataOverride(const void* data, DWORD bytes, DWORD type = REG_SZ) {
  ScopedKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Ombrix\\Paths", 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key.get(), L"AppData", 0, type, static_cast<const BYTE*>(data), bytes),
            ERROR_SUCCESS);
}

void SetAppDataOverride(const std::wstring& path) {
  SetAppDataOverride(path.c_str(), static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
}

// Where the folder goes without a usable override: the roaming data folder when it exists, else
// the folder of the running program.
std::wstring FallbackFolder() {
  wchar_t folder[kPathSize];
  if (GetAppDataFolder(folder, kPathSize)) return folder;
  GetModuleFileNameW(nullptr, folder, kPathSize);
  RemoveNameFromPath(folder);
  return folder;
}

std::wstring UserDataFolder() {
  wchar_t folder[kPathSize];
  GetUserDataFolder(folder, kPathSize);
  return folder;
}

}  // namespace

TEST(GetUserDataFolder, ExistingOverrideWins) {
  ScratchRegistry registry;
  TempFolder user;
  SetAppDataOverride(user.path());
  EXPECT_EQ(UserDataFolder(), user.path());
}

TEST(GetUserDataFolder, MissingEmptyOrNonTextOverrideFallsBack) {
  ScratchRegistry registry;
  std::wstring fallback = FallbackFolder();
  ASSERT_FALSE(fallback.empty());
  EXPECT_EQ(UserDataFolder(), fallback);  // no key at all

  SetAppDataOverride(L"C:\\obx\\no such folder");
  EXPECT_EQ(UserDataFolder(), fallback);
  SetAppDataOverride(L"");
  EXPECT_EQ(UserDataFolder(), fallback);
  DWORD number = 5;
  SetAppDataOverride(&number, sizeof number, REG_DWORD);
  EXPECT_EQ(UserDataFolder(), fallback);
}

TEST(GetUserDataFolder, OverrideLongerThanTheBufferIsNotCutIntoAnotherFolder) {
  ScratchRegistry registry;
  TempFolder temp;
  // Long enough that the fallback fits wherever the build folder is.
  std::wstring parent = temp / std::wstring(150, L'u');
  ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
  std::wstring fallback = FallbackFolder();
  // Cut to the buffer, the override would name its existing parent folder.
  SetAppDataOverride(parent + L"\\deeper");
  unsigned size = static_cast<unsigned>(parent.size() + 1);
  ASSERT_LT(fallback.size(), size);
  std::vector<wchar_t> out(size + 4, L'#');
  GetUserDataFolder(out.data(), size);
  EXPECT_EQ(std::wstring(out.data()), fallback);
  EXPECT_EQ(out[size], L'#');
}

class PresetFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetCurrentDirectoryW(kPathSize, savedFolder_);
    for (const wchar_t* name : {L"package", L"install", L"user"})
      ASSERT_TRUE(CreateDirectoryW((temp_ / name).c_str(), nullptr));
    SetAppDataOverride(temp_ / L"user");
    ASSERT_TRUE(SetCurrentDirectoryW((temp_ / L"install").c_str()));
    SetEnvironmentVariableW(L"sfxname", (temp_ / L"package\\obxsetup.exe").c_str());
  }
  void TearDown() override {
    SetCurrentDirectoryW(savedFolder_);  // the temp folder cannot go while it is current
    SetEnvironmentVariableW(L"sfxname", nullptr);
  }

  std::wstring Installed() const { return temp_ / L"install\\ombrix.ini"; }
  bool InstalledExists() const {
    return GetFileAttributesW(Installed().c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  ScratchRegistry registry_;
  TempFolder temp_;
  wchar_t savedFolder_[kPathSize] = {};
};

TEST_F(PresetFileTest, CopiesThePackagesPresetIntoTheCurrentFolder) {
  WriteFileBytes(temp_ / L"package\\ombrix.ini", "[Setup]\r\n");
  CopyPresetFile(L"ombrix.ini");
  EXPECT_EQ(ReadFileBytes(Installed()), "[Setup]\r\n");
}

TEST_F(PresetFileTest, NeverOverwritesAnExistingFile) {
  WriteFileBytes(temp_ / L"package\\ombrix.ini", "package");
  WriteFileBytes(Installed(), "mine");
  CopyPresetFile(L"ombrix.ini");
  EXPECT_EQ(ReadFileBytes(Installed()), "mine");
}

TEST_F(PresetFileTest, SkipsWhenTheUserDataFolderHasOne) {
  WriteFileBytes(temp_ / L"package\\ombrix.ini", "package");
  WriteFileBytes(temp_ / L"user\\Ombrix.ini", "user");
  CopyPresetFile(L"ombrix.ini");
  EXPECT_FALSE(InstalledExists());
}

TEST_F(PresetFileTest, SkipsWithoutPackagePathOrPreset) {
  CopyPresetFile(L"ombrix.ini");  // the package brought none
  EXPECT_FALSE(InstalledExists());

  WriteFileBytes(temp_ / L"package\\ombrix.ini", "package");
  SetEnvironmentVariableW(L"sfxname", L"");
  CopyPresetFile(L"ombrix.ini");
  SetEnvironmentVariableW(L"sfxname", nullptr);
  CopyPresetFile(L"ombrix.ini");
  EXPECT_FALSE(InstalledExists());
}

TEST_F(PresetFileTest, OverlongPackagePathIsNotCutIntoAnotherFolder) {
  // Cut to the buffer, this path would end inside the long folder name and so point at the
  // preset in "package" instead of the package's own folder.
  WriteFileBytes(temp_ / L"package\\ombrix.ini", "wrong folder");
  std::wstring path = temp_ / (L"package\\" + std::wstring(kPathSize, L'x') + L"\\obxsetup.exe");
  SetEnvironmentVariableW(L"sfxname", path.c_str());
  CopyPresetFile(L"ombrix.ini");
  EXPECT_FALSE(InstalledExists());
}
