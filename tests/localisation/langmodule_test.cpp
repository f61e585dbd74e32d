// The language DLL and the language folder.
#include "localisation/langmodule.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "filesystem/path.h"
#include "langtest.h"
#include "testenv.h"

namespace {

class LanguageModuleTest : public ::testing::Test {
 protected:
  HINSTANCE self_ = GetModuleHandleW(nullptr);
  TempFolder temp_;
};

std::wstring StringOf(HMODULE module, unsigned id) {
  wchar_t text[256] = {};
  LoadStringW(module, id, text, 256);
  return text;
}

TEST_F(LanguageModuleTest, WithoutDllResourcesComeFromTheProgram) {
  languageModule.Load(self_, (temp_ / L"uninstall.exe").c_str());
  EXPECT_FALSE(languageModule.loaded);
  EXPECT_EQ(languageModule.resourceModule, self_);
  EXPECT_EQ(languageModule.ownModule, self_);
  languageModule.Free();
  EXPECT_EQ(languageModule.resourceModule, self_);
}

TEST_F(LanguageModuleTest, DllIsMappedAsDataAndFreeReleasesItsFile) {
  std::wstring dll = temp_ / L"obxlng.dll";
  ASSERT_TRUE(CopyFileW(SampleLanguagePath(L"obxlng.dll").c_str(), dll.c_str(), FALSE));
  languageModule.Load(self_, (temp_ / L"uninstall.exe").c_str());
  ASSERT_TRUE(languageModule.loaded);
  EXPECT_NE(languageModule.resourceModule, self_);
  EXPECT_EQ(languageModule.ownModule, self_);
  EXPECT_EQ(StringOf(languageModule.resourceModule, 5106), L"Ombrix deinstallieren");
  // Mapped as data: not in the process's module list.
  EXPECT_EQ(GetModuleHandleW(dll.c_str()), nullptr);

  languageModule.Free();
  EXPECT_FALSE(languageModule.loaded);
  EXPECT_EQ(languageModule.resourceModule, self_);
  EXPECT_TRUE(DeleteFileW(dll.c_str())) << GetLastError();
}

TEST_F(LanguageModuleTest, ReloadingFreesThePreviousDll) {
  TempFolder other;
  std::wstring first = temp_ / L"obxlng.dll";
  ASSERT_TRUE(CopyFileW(SampleLanguagePath(L"obxlng.dll").c_str(), first.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(SampleLanguagePath(L"hebrew\\obxlng.dll").c_str(),
                        (other / L"obxlng.dll").c_str(), FALSE));
  languageModule.Load(self_, (temp_ / L"a.exe").c_str());
  ASSERT_TRUE(languageModule.loaded);
  languageModule.Load(self_, (other / L"a.exe").c_str());
  ASSERT_TRUE(languageModule.loaded);
  EXPECT_NE(FindResourceW(languageModule.resourceModule, L"RTL", RT_DIALOG), nullptr);
  EXPECT_TRUE(DeleteFileW(first.c_str())) << GetLastError();
  languageModule.Load(self_, (temp_ / L"a.exe").c_str());
  EXPECT_FALSE(languageModule.loaded);
  EXPECT_EQ(languageModule.resourceModule, self_);
}

// The language folder: registry value, environment expansion, the file's presence.
class LanguageFolderTest : public LanguageModuleTest {
 protected:
  void SetFolder(const std::wstring& folder, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Ombrix\\General", 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"LanguageFolder", 0, type, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  ScratchRegistry registry_;
};

TEST_F(LanguageFolderTest, AsBuiltTheFolderIsNotConsulted) {
  WriteFileBytes(temp_ / L"uninstall.lng", "x");
  SetFolder(temp_.path());
  const wchar_t* src = L"C:\\Program Files\\Ombrix\\uninstall.lng";
  wchar_t dst[kPathSize];
  FindLocalizedFile(src, dst, kPathSize);
  EXPECT_STREQ(dst, src);
  wchar_t same[kPathSize] = L"C:\\Ombrix\\uninstall.lng";
  FindLocalizedFile(same, same, kPathSize);
  EXPECT_STREQ(same, L"C:\\Ombrix\\uninstall.lng");
  wchar_t small[8];
  FindLocalizedFile(src, small, 8);
  EXPECT_STREQ(small, L"C:\\Prog");
}

TEST_F(LanguageFolderTest, FolderFileReplacesTheSource) {
  WriteFileBytes(temp_ / L"ombrix.chm", "x");
  SetFolder(temp_.path());
  wchar_t dst[kPathSize] = L"untouched";
  EXPECT_TRUE(FindInLanguageFolder(L"C:\\Ombrix\\ombrix.chm", dst, kPathSize));
  EXPECT_STREQ(dst, (temp_ / L"ombrix.chm").c_str());
  // No such file there: dst stays.
  wcscpy(dst, L"untouched");
  EXPECT_FALSE(FindInLanguageFolder(L"C:\\Ombrix\\license.txt", dst, kPathSize));
  EXPECT_STREQ(dst, L"untouched");
}

TEST_F(LanguageFolderTest, FolderValueExpandsEnvironmentVariables) {
  WriteFileBytes(temp_ / L"uninstall.lng", "x");
  SetEnvironmentVariableW(L"OBX_LANG_TEST", temp_.path().c_str());
  SetFolder(L"%OBX_LANG_TEST%\\", REG_EXPAND_SZ);
  wchar_t dst[kPathSize] = {};
  EXPECT_TRUE(FindInLanguageFolder(L"uninstall.lng", dst, kPathSize));
  EXPECT_STREQ(dst, (temp_ / L"uninstall.lng").c_str());
}

TEST_F(LanguageFolderTest, MissingOrOverlongValueLeavesTheSource) {
  wchar_t dst[kPathSize] = L"untouched";
  EXPECT_FALSE(FindInLanguageFolder(L"C:\\Ombrix\\uninstall.lng", dst, kPathSize));
  // Folder and name together would not fit a path buffer.
  std::wstring src = L"C:\\" + std::wstring(1500, L'n');
  SetFolder(L"C:\\" + std::wstring(600, L'f'));
  EXPECT_FALSE(FindInLanguageFolder(src.c_str(), dst, kPathSize));
  EXPECT_STREQ(dst, L"untouched");
}

}  // namespace
