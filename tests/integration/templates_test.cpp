// The New-menu templates: byte-exact files beside the program, the ShellNew entries that point at
// them, and giving back the entry that was there before.
#include "integration/templates.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/owners.h"
#include "filesystem/path.h"
#include "integration/associations.h"
#include "integrationenv.h"
#include "settings/registry.h"
#include "settings/store.h"
#include "shelltest.h"

namespace {

constexpr wchar_t kMissing[] = L"<missing>";

const std::string kObxTemplate(
    "Obx!\x1A\x07\x01\x00"
    "\xC1\xDF\x5F\x56\x03\x01\x04\x00"
    "\x1D\x77\x56\x51\x03\x05\x04\x00",
    24);
const std::string kZipTemplate("PK\x05\x06" + std::string(18, '\0'));

std::wstring ProgramFolderFile(const wchar_t* name) {
  wchar_t path[kPathSize];
  GetModuleFileNameW(nullptr, path, kPathSize);
  SetName(path, name, kPathSize);
  return path;
}

std::wstring ClassValue(const wchar_t* key, const wchar_t* name) {
  wchar_t buffer[2048];
  if (!GetRegString(HKEY_CLASSES_ROOT, key, name, buffer, L"", 2048)) return kMissing;
  return buffer;
}

unsigned ValueCount(const wchar_t* key) {
  ScopedKey opened;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return 0;
  DWORD values = 0;
  RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                   nullptr, nullptr, nullptr, nullptr);
  return values;
}

void SetClass(const wchar_t* key, const wchar_t* name, const wchar_t* text) {
  ASSERT_EQ(SetRegString(HKEY_CLASSES_ROOT, key, name, text), 0u);
}

uint64_t LastWrite(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

void SetOldWriteTime(const std::wstring& path) {
  ScopedHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  FILETIME old = {0x10000000, 0x01C00000};  // 1990s
  ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &old));
}

class NewFileTemplates : public ::testing::Test {
 protected:
  IntegrationEnv env;
  TemplateFilesLock lock;
  std::wstring obxFile = ProgramFolderFile(L"obxnew.dat");
  std::wstring zipFile = ProgramFolderFile(L"zipnew.dat");
};

}  // namespace

TEST_F(NewFileTemplates, InstallingReplacesEveryEarlierValueWithTheTemplate) {
  SetClass(L".zip\\ShellNew", L"NullFile", L"");
  SetClass(L".zip\\ShellNew", L"Command", L"other.exe /new");
  DeleteFileW(zipFile.c_str());
  InstallNewFileTemplate(L".zip", false);
  EXPECT_EQ(ValueCount(L".zip\\ShellNew"), 1u);
  EXPECT_EQ(ClassValue(L".zip\\ShellNew", L"FileName"), zipFile);
  EXPECT_EQ(ReadFileBytes(zipFile), kZipTemplate);

  DeleteFileW(obxFile.c_str());
  InstallNewFileTemplate(L".obx", true);
  EXPECT_EQ(ClassValue(L".obx\\ShellNew", L"FileName"), obxFile);
  EXPECT_EQ(ReadFileBytes(obxFile), kObxTemplate);
}

TEST_F(NewFileTemplates, ATemplateOfTheRightSizeIsLeftAsItIs) {
  WriteFileBytes(obxFile, kObxTemplate);
  SetOldWriteTime(obxFile);
  uint64_t before = LastWrite(obxFile);
  ASSERT_NE(before, 0u);
  InstallNewFileTemplate(L".obx", true);
  EXPECT_EQ(LastWrite(obxFile), before);
  EXPECT_EQ(ClassValue(L".obx\\ShellNew", L"FileName"), obxFile);
}

TEST_F(NewFileTemplates, ATemplateOfAnotherSizeIsRewritten) {
  WriteFileBytes(zipFile, std::string("PK\x05\x06", 4) + std::string(40, 'x'));
  InstallNewFileTemplate(L".zip", false);
  EXPECT_EQ(ReadFileBytes(zipFile), kZipTemplate);
  WriteFileBytes(obxFile, kObxTemplate.substr(0, 23));
  InstallNewFileTemplate(L".obx", true);
  EXPECT_EQ(ReadFileBytes(obxFile), kObxTemplate);
}

// Setup runs elevated in a folder others may write to: a link planted at the template's name is
// replaced by the template, and the file it points at keeps its bytes.
TEST_F(NewFileTemplates, ALinkAtTheTemplateNameIsReplacedAndItsTargetKept) {
  TempFolder outside;
  std::wstring canary = outside / L"canary.txt";
  WriteFileBytes(canary, "canary");
  DeleteFileW(zipFile.c_str());
  ASSERT_TRUE(MakeFileLink(zipFile, canary));
  InstallNewFileTemplate(L".zip", false);
  EXPECT_EQ(ReadFileBytes(canary), "canary");
  EXPECT_EQ(ReadFileBytes(zipFile), kZipTemplate);
  EXPECT_EQ(ClassValue(L".zip\\ShellNew", L"FileName"), zipFile);
}

TEST_F(NewFileTemplates, IntegrationSwitchedOffByTheIniFileWritesNoTemplateFile) {
  TempFolder program;
  WriteFileBytes(program / L"Ombrix.ini", "Global\\Integration=0\r\n");
  SetIniSearchPlaces((program / L"uninstall.exe").c_str(), (program / L"none").c_str());
  FreeIni();
  DeleteFileW(zipFile.c_str());
  InstallNewFileTemplate(L".zip", false);
  EXPECT_EQ(GetFileAttributesW(zipFile.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(ValueCount(L".zip\\ShellNew"), 0u);
}

// An earlier version's backup of an entry without either value; another program's value added
// since stays.
TEST_F(NewFileTemplates, RestoringWithoutASavedEntryLeavesNeitherValue) {
  SetSettingDword(L"Setup\\.zip", L"Exist", 1);
  SetSettingString(L"Setup\\.zip", L"ShellNew", L"");
  SetClass(L".zip\\ShellNew", L"FileName", zipFile.c_str());
  SetClass(L".zip\\ShellNew", L"ItemName", L"kept");
  RestoreNewFileHandler(L".zip", false, true);
  EXPECT_EQ(ClassValue(L".zip\\ShellNew", L"FileName"), kMissing);
  EXPECT_EQ(ClassValue(L".zip\\ShellNew", L"NullFile"), kMissing);
  EXPECT_EQ(ClassValue(L".zip\\ShellNew", L"ItemName"), L"kept");
}

TEST_F(NewFileTemplates, WantedOnlyWithTheShellExtensionAndTheRowsSwitch) {
  EXPECT_TRUE(NewFileWanted(true, true, false));
  EXPECT_TRUE(NewFileWanted(true, false, true));
  EXPECT_FALSE(NewFileWanted(false, true, false));
  EXPECT_FALSE(NewFileWanted(false, false, true));
  SetSettingDword(L"Setup\\MenuItems", L"NewZIP", 0);
  EXPECT_TRUE(NewFileWanted(true, true, false));
  EXPECT_FALSE(NewFileWanted(true, false, true));
  SetSettingDword(L"Setup\\MenuItems", L"NewOBX", 0);
  SetSettingDword(L"Setup\\MenuItems", L"NewZIP", 1);
  EXPECT_FALSE(NewFileWanted(true, true, false));
  EXPECT_TRUE(NewFileWanted(true, false, true));
}

TEST_F(NewFileTemplates, SetupRegistersTheTemplateOnlyWithTheShellExtension) {
  DeleteFileW(zipFile.c_str());
  SetClass(L".zip\\ShellNew", L"NullFile", L"");
  AssociateExtension(L".zip", true, false, false, true);
  EXPECT_EQ(ClassValue(L".zip\\ShellNew", L"FileName"), kMissing);
  EXPECT_EQ(ClassValue(L".zip\\ShellNew", L"NullFile"), L"");

  AssociateExtension(L".zip", true, true, false, true);
  EXPECT_EQ(ClassValue(L".zip\\ShellNew", L"FileName"), zipFile);
  EXPECT_EQ(ClassValue(L".zip\\ShellNew", L"NullFile"), kMissing);
  EXPECT_EQ(ReadFileBytes(zipFile), kZipTemplate);
}

TEST_F(NewFileTemplates, SwitchingNewZipOffRestoresTheEntryFromBeforeTheFirstSetup) {
  SetClass(L".zip", L"", L"CompressedFolder");
  SetClass(L".zip\\ShellNew", L"NullFile", L"");
  AssociateExtension(L".zip", true, true, false, true);
  AssociateExtension(L".zip", true, true, false, true);
  SetSettingDword(L"Setup\\MenuItems", L"NewZIP", 0);
  AssociateExtension(L".zip", true, true, false, true);
  EXPECT_EQ(ClassValue(L".zip\\ShellNew", L"FileName"), kMissing);
  EXPECT_EQ(ClassValue(L".zip\\ShellNew", L"NullFile"), L"");
  EXPECT_EQ(ClassValue(L".zip", L""), L"Ombrix.ZIP");

  // The same for a previous template file on the OBX row.
  SetClass(L".obx\\ShellNew", L"FileName", L"C:\\Other\\empty.obx");
  AssociateExtension(L".obx", true, true, true, false);
  EXPECT_EQ(ClassValue(L".obx\\ShellNew", L"FileName"), obxFile);
  SetSettingDword(L"Setup\\MenuItems", L"NewOBX", 0);
  AssociateExtension(L".obx", true, true, true, false);
  EXPECT_EQ(ClassValue(L".obx\\ShellNew", L"FileName"), L"C:\\Other\\empty.obx");
}

TEST_F(NewFileTemplates, ReleasingZipThatDidNotExistRemovesItsShellNewKey) {
  AssociateExtension(L".zip", true, true, false, true);
  ASSERT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, L".zip\\ShellNew"));
  AssociateExtension(L".zip", false, false, false, true);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, L".zip\\ShellNew"));
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, L".zip"));
}
