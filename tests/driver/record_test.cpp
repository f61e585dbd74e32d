// The installed-programs record in a scratch registry: its values and types, the kept
// "DisplayIcon", the version label, the size estimate, and the veto of an ini file that switches
// integration off.
#include "driver/record.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "expectednames.h"
#include "resources/resource.h"
#include "settings/store.h"
#include "testenv.h"

namespace {

std::wstring ResourceText(unsigned id) {
  wchar_t text[1024] = {};
  LoadStringW(GetModuleHandleW(nullptr), id, text, 1024);
  return text;
}

struct RegValue {
  bool found = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  std::wstring Text() const {
    // Stored with its terminator: the last unit must be zero.
    if (data.size() < 2 || data[data.size() - 1] != 0 || data[data.size() - 2] != 0) return L"!";
    return std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2 - 1);
  }
  DWORD Number() const { return data.size() == 4 ? *reinterpret_cast<const DWORD*>(data.data()) : ~0u; }
};

RegValue ReadRecordValue(const wchar_t* name) {
  RegValue value;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return value;
  DWORD bytes = 0;
  if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &bytes) == ERROR_SUCCESS) {
    value.data.resize(bytes);
    value.found = RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &bytes) ==
                  ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return value;
}

void ExpectString(const wchar_t* name, const std::wstring& expected) {
  RegValue value = ReadRecordValue(name);
  ASSERT_TRUE(value.found) << name;
  EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << name;
  EXPECT_EQ(value.Text(), expected) << name;
}

void ExpectNumber(const wchar_t* name, DWORD expected) {
  RegValue value = ReadRecordValue(name);
  ASSERT_TRUE(value.found) << name;
  EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD)) << name;
  EXPECT_EQ(value.Number(), expected) << name;
}

void SetRecordText(const wchar_t* name, const std::wstring& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

// An installation under a folder with a blank, as under "Program Files"; the settings search is
// pointed at it so that no ini file of the build folder takes part.
class RecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryW(programFiles_.c_str(), nullptr);
    CreateDirectoryW(folder_.c_str(), nullptr);
    CreateDirectoryW(user_.c_str(), nullptr);
    SetIniSearchPlaces(program_.c_str(), user_.c_str());
  }

  ScratchRegistry registry_;
  TempFolder temp_;
  std::wstring programFiles_ = temp_ / L"Program Files";
  std::wstring folder_ = programFiles_ + L"\\Ombrix";
  std::wstring program_ = folder_ + L"\\uninstall.exe";
  std::wstring user_ = temp_ / L"user";
};

}  // namespace

TEST_F(RecordTest, FirstSetupWritesEveryValueWithItsType) {
  WriteFileBytes(program_, std::string(1500, 'u'));
  WriteFileBytes(folder_ + L"\\Uninstall.lst", "uninstall.exe\r\n");
  WriteUninstallRecord(program_.c_str());

  ExpectString(L"DisplayName", L"Ombrix 6.22 (" + ResourceText(IDS_32BIT) + L")");
  ExpectString(L"DisplayVersion", L"6.22.0");
  ExpectNumber(L"VersionMajor", 6);
  ExpectNumber(L"VersionMinor", 22);
  ExpectString(L"UninstallString", L"\"" + program_ + L"\"");
  ExpectString(L"QuietUninstallString", L"\"" + program_ + L"\" /S");
  ExpectString(L"DisplayIcon", folder_ + L"\\Ombrix.exe");
  ExpectString(L"InstallLocation", folder_ + L"\\");
  ExpectNumber(L"NoModify", 1);
  ExpectNumber(L"NoRepair", 1);
  ExpectNumber(L"Language", 0);
  ExpectString(L"Publisher", L"Felsor GmbH");
  ExpectNumber(L"EstimatedSize", 2);  // 1500 bytes, rounded up
  SYSTEMTIME today;
  GetLocalTime(&today);
  wchar_t date[16];
  swprintf(date, 16, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
  ExpectString(L"InstallDate", date);
  // The record lives in the machine root, not under the product's own key.
  HKEY misplaced = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Ombrix", 0, KEY_READ, &misplaced),
            ERROR_SUCCESS);
}

TEST_F(RecordTest, RepeatedSetupKeepsAnExistingIconAndRewritesTheRest) {
  std::wstring otherIcon = folder_ + L"\\other.ico";
  WriteFileBytes(otherIcon, "icon");
  SetRecordText(L"DisplayIcon", otherIcon);
  SetRecordText(L"Publisher", L"Someone else");
  SetRecordText(L"Comments", L"kept");
  WriteUninstallRecord(program_.c_str());
  ExpectString(L"DisplayIcon", otherIcon);
  ExpectString(L"Publisher", L"Felsor GmbH");
  ExpectString(L"Comments", L"kept");

  DeleteFileW(otherIcon.c_str());
  WriteUninstallRecord(program_.c_str());
  ExpectString(L"DisplayIcon", folder_ + L"\\Ombrix.exe");
}

// An older installation elsewhere, still on the disk: its icon and the values only it wrote go.
TEST_F(RecordTest, SetupInAnotherFolderTakesOverNeitherIconNorValuesOfTheOldRecord) {
  std::wstring old = temp_ / L"Old";
  CreateDirectoryW(old.c_str(), nullptr);
  WriteFileBytes(old + L"\\Ombrix.exe", "exe");
  SetRecordText(L"InstallLocation", old + L"\\");
  SetRecordText(L"DisplayIcon", old + L"\\Ombrix.exe");
  SetRecordText(L"HelpLink", L"http://old.example");
  SetRecordText(L"URLInfoAbout", L"http://old.example");
  WriteUninstallRecord(program_.c_str());
  ExpectString(L"InstallLocation", folder_ + L"\\");
  ExpectString(L"DisplayIcon", folder_ + L"\\Ombrix.exe");
  EXPECT_FALSE(ReadRecordValue(L"HelpLink").found);
  EXPECT_FALSE(ReadRecordValue(L"URLInfoAbout").found);
  ExpectString(L"Publisher", L"Felsor GmbH");
  EXPECT_TRUE(ReadRecordValue(L"SettingsFile").found);  // the store's, written after
}

TEST_F(RecordTest, NamesProgramOnlyForItsOwnPathQuotedOrNot) {
  EXPECT_FALSE(RecordNamesProgram(program_.c_str()));  // no record
  WriteUninstallRecord(program_.c_str());
  std::wstring upper = program_;
  for (wchar_t& c : upper) c = towupper(c);
  EXPECT_TRUE(RecordNamesProgram(program_.c_str()));
  EXPECT_TRUE(RecordNamesProgram(upper.c_str()));
  for (const std::wstring& other : {temp_ / L"Stray\\uninstall.exe", folder_ + L"\\Ombrix.exe",
                                    folder_, std::wstring(L"\"") + program_})
    EXPECT_FALSE(RecordNamesProgram(other.c_str())) << other;
  SetRecordText(L"UninstallString", program_);  // as older versions wrote it
  EXPECT_TRUE(RecordNamesProgram(program_.c_str()));
  SetRecordText(L"UninstallString", L"\"" + program_ + L"\" /x");
  EXPECT_FALSE(RecordNamesProgram(program_.c_str()));
}

TEST_F(RecordTest, IniThatSwitchesIntegrationOffWritesNothing) {
  WriteFileBytes(folder_ + L"\\Ombrix.ini", "Global\\Integration=0\r\n");
  WriteUninstallRecord(program_.c_str());
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, KEY_READ, &key), ERROR_SUCCESS);
}

TEST_F(RecordTest, EstimatedSizeCountsOnlyTheListedFilesOnce) {
  CreateDirectoryW((folder_ + L"\\sub").c_str(), nullptr);
  CreateDirectoryW((folder_ + L"\\sub\\deeper").c_str(), nullptr);
  WriteFileBytes(program_, std::string(1024, 'u'));
  WriteFileBytes(folder_ + L"\\sub\\a.bin", std::string(2048, 'a'));
  WriteFileBytes(folder_ + L"\\sub\\deeper\\b.bin", std::string(1, 'b'));
  // What shares the folder without being installed, as in a drive root, does not count.
  WriteFileBytes(folder_ + L"\\unrelated.bin", std::string(100000, 'x'));
  WriteFileBytes(folder_ + L"\\sub\\unrelated.bin", std::string(100000, 'x'));
  WriteFileBytes(folder_ + L"\\Uninstall.lst",
                 "sub\r\nsub\\deeper\r\nuninstall.exe\r\nsub\\a.bin\r\nsub\\deeper\\b.bin\r\n"
                 "missing.bin\r\n..\\..\\outside.bin\r\n");
  WriteFileBytes(temp_ / L"outside.bin", std::string(100000, 'o'));
  EXPECT_EQ(ListedSizeKiB(folder_.c_str()), 4u);  // 3073 bytes
  EXPECT_EQ(ListedSizeKiB((folder_ + L"\\").c_str()), 4u);
  EXPECT_EQ(ListedSizeKiB((temp_ / L"missing").c_str()), 0u);
  WriteUninstallRecord(program_.c_str());
  ExpectNumber(L"EstimatedSize", 4);

  // Without a list there is no estimate, nor an old one left standing.
  DeleteFileW((folder_ + L"\\Uninstall.lst").c_str());
  WriteUninstallRecord(program_.c_str());
  EXPECT_FALSE(ReadRecordValue(L"EstimatedSize").found);
}

TEST(AppendVersionLabel, AddsBlankOnlyAfterTextAndCutsWithinCapacity) {
  std::wstring label = L"6.22 (" + ResourceText(IDS_32BIT) + L")";
  wchar_t text[64] = L"";
  AppendVersionLabel(text, 64);
  EXPECT_EQ(std::wstring(text), label);

  wcscpy(text, L"Ombrix");
  AppendVersionLabel(text, 64);
  EXPECT_EQ(std::wstring(text), L"Ombrix " + label);

  wchar_t small[10];
  wmemset(small, L'#', 10);
  wcscpy(small, L"Ombrix");
  AppendVersionLabel(small, 8);
  EXPECT_LT(wcslen(small), 8u);  // terminated within the capacity
  EXPECT_EQ(small[8], L'#');     // nothing written beyond it
}
