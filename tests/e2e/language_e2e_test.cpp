// The real uninstall.exe with language material beside it: the removal warning's texts come from
// the language file first, then the language DLL (without either, from the program's own string
// table, which the start-up tests check).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "langtest.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

constexpr DWORD kTimeoutMs = 30000;

class LanguageE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CopyFileW(BuildFolderFile(L"uninstall.exe").c_str(), program_.c_str(), FALSE));
    environment_.remove = {L"sfxcmd", L"sfxname"};
  }
  void AddSampleDll() {
    ASSERT_TRUE(CopyFileW(SampleLanguagePath(L"obxlng.dll").c_str(),
                          (install_ / L"obxlng.dll").c_str(), FALSE));
  }
  // Shows the removal warning and reads it; answers it so that the program ends with 0.
  void ReadWarning(std::wstring& caption, std::wstring& text) {
    ASSERT_TRUE(process_.Start(program_, L"/warning", environment_, install_.path()));
    HWND box = process_.WaitForDialog(kTimeoutMs);
    ASSERT_NE(box, nullptr);
    caption = ReadWindowText(box);
    text = ReadControlText(box, kMessageBoxTextId);
    ASSERT_TRUE(PressButton(box, IDOK));
    ASSERT_TRUE(process_.WaitForExit(kTimeoutMs));
    EXPECT_EQ(process_.exitCode(), 0u);
  }

  TempFolder install_;
  std::wstring program_ = install_ / L"uninstall.exe";
  EnvironmentChanges environment_;
  TestProcess process_;
};

TEST_F(LanguageE2E, WarningTakesEachTextFromTheFirstPlaceThatHasIt) {
  AddSampleDll();
  WriteFileBytes(install_ / L"uninstall.lng",
                 Utf16Bytes(L"Test language\r\n" OBX_MARKER_LINE
                            L"IDS_UNINSTALLCOMPLETED \"File: removed.\"\r\n"
                            L"IDS_UNINSTALLSHOULDDELETE \"File: delete %s yourself.\"\r\n",
                            true));
  std::wstring caption, text;
  ReadWarning(caption, text);
  EXPECT_EQ(text, L"File: removed.\nFile: delete " + program_ + L" yourself.");
  // Not in the file: the sample DLL's German caption.
  EXPECT_EQ(caption, L"Ombrix deinstallieren");
}

TEST_F(LanguageE2E, WarningFromTheLanguageDllAlone) {
  AddSampleDll();
  std::wstring caption, text;
  ReadWarning(caption, text);
  EXPECT_EQ(caption, L"Ombrix deinstallieren");
  EXPECT_EQ(text, L"Ombrix wurde deinstalliert.\nEinige Dateien konnten nicht entfernt werden. "
                  L"Bitte l\x00F6schen Sie " + program_ + L" manuell.");
}

TEST_F(LanguageE2E, HostileFormatInTheLanguageFileIsShownLiterally) {
  WriteFileBytes(install_ / L"uninstall.lng",
                 AnsiBytes(OBX_MARKER_LINE
                           L"IDS_UNINSTALLCOMPLETED \"%n%n%n%x\"\r\n"
                           L"IDS_UNINSTALLSHOULDDELETE \"%d %s %s %p %% %\"\r\n"));
  std::wstring caption, text;
  ReadWarning(caption, text);
  EXPECT_EQ(text, L"%n%n%n%x\n%d " + program_ + L"  %p % %");
}

// Beyond the warning: the uninstall question and the setup dialog, with the language file and the
// sample language DLL beside the program; what the file names comes from it, the rest from the DLL.
TEST_F(LanguageE2E, QuestionAndSetupDialogTakeTheirTextsFromTheLanguageMaterial) {
  AddSampleDll();
  WriteFileBytes(install_ / L"uninstall.lng",
                 Utf16Bytes(OBX_MARKER_LINE
                            L"IDS_CONTINUEUNINSTALL \"File: remove it all?\"\r\n"
                            L":DIALOG SETUPDLG\r\n"
                            L"CAPTION \"File: setup caption\"\r\n"
                            L"IDC_LINKDESKTOP \"File: desktop link\"\r\n",
                            true));
  WriteFileBytes(install_ / L"Uninstall.lst", "");

  ASSERT_TRUE(process_.Start(program_, L"", environment_, install_.path()));
  HWND box = process_.WaitForDialog(kTimeoutMs);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(ReadControlText(box, kMessageBoxTextId), L"File: remove it all?");
  EXPECT_EQ(ReadWindowText(box), L"Ombrix deinstallieren");
  ASSERT_TRUE(PressButton(box, IDNO));
  ASSERT_TRUE(process_.WaitForExit(kTimeoutMs));
  EXPECT_EQ(process_.exitCode(), 1602u);
  EXPECT_NE(GetFileAttributesW(program_.c_str()), INVALID_FILE_ATTRIBUTES);

  TestProcess setup;
  ASSERT_TRUE(setup.Start(program_, L"/setup", environment_, install_.path()));
  HWND dialog = setup.WaitForDialog(kTimeoutMs);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(ReadWindowText(dialog), L"File: setup caption");
  EXPECT_EQ(ReadControlText(dialog, 5119), L"File: desktop link");
  ASSERT_TRUE(PressButton(dialog, IDCANCEL));
  ASSERT_TRUE(setup.WaitForExit(kTimeoutMs));
  EXPECT_EQ(setup.exitCode(), 1u);
}

}  // namespace
