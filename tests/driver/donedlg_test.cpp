// The completion dialog in-process: what it shows, how it closes, and what its buttons hand to
// the shell, observed through a scratch file type whose open command is the sample main program.
#include "driver/donedlg.h"

#include <gtest/gtest.h>
#include <htmlhelp.h>

#include <string>
#include <vector>

#include "base/owners.h"
#include "dialogscript.h"
#include "driver/help.h"
#include "driver/runstate.h"
#include "langtest.h"
#include "localisation/dialogs.h"
#include "localisation/messages.h"
#include "resources/resource.h"
#include "shelltest.h"
#include "filesystem/secure.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

constexpr DWORD kStartTimeoutMs = 10000;
constexpr DWORD kNoStartMs = 1500;

void SetString(HKEY root, const std::wstring& subkey, const std::wstring& value) {
  ASSERT_EQ(RegSetKeyValueW(root, subkey.c_str(), nullptr, REG_SZ, value.c_str(),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

class DoneDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetElevationOverride(&elevated_);
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    previousFolder_ = folder;
    ASSERT_TRUE(SetCurrentDirectoryW(install_.path().c_str()));
    // The sample main program records how the shell starts it.
    stub_ = tools_ / L"Ombrix.exe";
    ASSERT_TRUE(CopyFileW(BuildFolderFile(L"Ombrix.exe").c_str(), stub_.c_str(), FALSE));
    std::wstring command = L"\"" + stub_ + L"\" \"%1\"";
    SetString(HKEY_CLASSES_ROOT, L".txt", L"ObxTest.Text");
    SetString(HKEY_CLASSES_ROOT, L"ObxTest.Text\\shell\\open\\command", command);
    for (const wchar_t* scheme : {L"http", L"https"}) {
      SetString(HKEY_CLASSES_ROOT, std::wstring(scheme) + L"\\shell\\open\\command", command);
      ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, scheme, L"URL Protocol", REG_SZ, L"", 2),
                ERROR_SUCCESS);
    }
  }
  void TearDown() override {
    SetCurrentDirectoryW(previousFolder_.c_str());
  }

  // Shows the dialog, presses button and closes it again.
  void ClickAndClose(int button) {
    DialogScript script([button](HWND d) {
      PressButton(d, button);
      PressButton(d, IDOK);
    });
    ShowDoneDialog();
    ASSERT_TRUE(script.Finish());
    EXPECT_FALSE(script.closedByScript());
  }

  bool elevated_ = false;
  ScratchRegistry registry_;
  TempFolder install_;
  TempFolder tools_;
  std::wstring stub_;
  std::wstring previousFolder_;
};

}  // namespace

TEST(IsWebAddress, OnlyHttpAndHttpsAddressesCount) {
  EXPECT_TRUE(IsWebAddress(L"https://www.ombrix.example/"));
  EXPECT_TRUE(IsWebAddress(L"HTTP://www.ombrix.example/he/"));
  for (const wchar_t* text :
       {L"", L"https://", L"https:// x", L"http:/x", L"httpx://a", L"file:///C:/windows/notepad.exe",
        L"C:\\windows\\system32\\cmd.exe", L"Ombrix.exe", L" https://www.ombrix.example/"})
    EXPECT_FALSE(IsWebAddress(text)) << std::wstring(text).c_str();
  EXPECT_FALSE(IsWebAddress(nullptr));
}

TEST_F(DoneDialogTest, ShowsTheInstallationFolderTheBoldHeadlineAndTheIcon) {
  runState.boldFont = CreateFontW(-16, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0,
                                  L"MS Shell Dlg");
  runState.appIcon = LoadIconW(nullptr, IDI_APPLICATION);
  std::wstring folder;
  HFONT headline = nullptr;
  HICON icon = nullptr;
  DialogScript script([&](HWND d) {
    folder = ReadControlText(d, IDC_INSTFOLDER);
    headline = reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(d, IDC_THANKS), WM_GETFONT, 0, 0));
    icon = reinterpret_cast<HICON>(SendMessageW(d, WM_GETICON, ICON_BIG, 0));
    PressKey(d, VK_ESCAPE);  // Escape closes it as Done does
  });
  ShowDoneDialog();
  ASSERT_TRUE(script.Finish());
  EXPECT_FALSE(script.closedByScript());
  EXPECT_EQ(folder, install_.path());
  EXPECT_EQ(headline, runState.boldFont);
  EXPECT_EQ(icon, runState.appIcon);
  DeleteObject(runState.boldFont);
}

TEST_F(DoneDialogTest, LicenseButtonOpensTheLicenseInTheInstallationFolder) {
  WriteFileBytes(install_ / L"license.txt", "licence");
  ClickAndClose(IDC_VIEWLICENSE);
  ASSERT_TRUE(WaitForStart(tools_.path(), L"license.txt", kStartTimeoutMs));
  std::wstring line = StartedLines(tools_.path()).front();
  EXPECT_NE(line.find(L"\"" + (install_ / L"license.txt") + L"\""), std::wstring::npos) << line;
}

// Elevated, a licence a standard user could have put there is not opened (its association would
// run with an administrator's rights); from a folder only administrators can change it is.
TEST_F(DoneDialogTest, ElevatedOpensTheLicenseOnlyFromAFolderOnlyAdministratorsCanChange) {
  WriteFileBytes(install_ / L"license.txt", "licence");
  bool elevated = true;
  SetElevationOverride(&elevated);
  ClickAndClose(IDC_VIEWLICENSE);
  EXPECT_FALSE(WaitForStart(tools_.path(), L"license.txt", kNoStartMs));
  SetAdminOnlyFolderOverride(install_.path().c_str());
  ClickAndClose(IDC_VIEWLICENSE);
  EXPECT_TRUE(WaitForStart(tools_.path(), L"license.txt", kStartTimeoutMs));
}

TEST_F(DoneDialogTest, MissingLicenseOpensNothingAndSaysNothing) {
  HWND message = nullptr;
  DialogScript script([&](HWND d) {
    PressButton(d, IDC_VIEWLICENSE);
    message = WaitForOtherDialog(d, kNoStartMs);
    if (message) PressButton(message, IDOK);
    PressButton(d, IDOK);
  });
  ShowDoneDialog();
  ASSERT_TRUE(script.Finish());
  EXPECT_EQ(message, nullptr);
  EXPECT_FALSE(WaitForStart(tools_.path(), L"license.txt", kNoStartMs));
}

TEST_F(DoneDialogTest, HomePageButtonOpensTheAddressOfMessage5114) {
  ClickAndClose(IDC_HOMEPAGE);
  ASSERT_TRUE(WaitForStart(tools_.path(), L"https://www.ombrix.example/", kStartTimeoutMs));
}

// The address comes from an editable language file; the shell would start a program named there.
TEST_F(DoneDialogTest, HomePageThatIsNoWebAddressIsNotHandedToTheShell) {
  std::wstring program = install_ / L"Ombrix.exe";
  ASSERT_TRUE(CopyFileW(stub_.c_str(), program.c_str(), FALSE));
  std::wstring escaped;
  for (wchar_t ch : program) escaped += ch == L'\\' ? std::wstring(L"\\\\") : std::wstring(1, ch);
  ParseMessages(OBX_MARKER_LINE L"IDS_HOMEURL \"" + escaped + L"\"\r\n");
  ASSERT_EQ(GetMsg(IDS_HOMEURL), program);
  ClickAndClose(IDC_HOMEPAGE);
  Sleep(kNoStartMs);
  EXPECT_TRUE(StartedLines(install_.path()).empty());
}

// The dialog has no help topic: F1 asks for nothing, the help button for the contents.
TEST_F(DoneDialogTest, HelpButtonOpensTheContentsAndTheHelpKeyNothing) {
  helpRequests.clear();
  SetHelpViewerOverride(RecordHelpRequest);
  SetHelpOpener(ShowHelp);
  size_t afterKey = 99;
  DialogScript script([&](HWND d) {
    PressKey(d, VK_F1);
    afterKey = helpRequests.size();
    PressButton(d, IDC_VIEWHELP);
    PressButton(d, IDOK);
  });
  ShowDoneDialog();
  ASSERT_TRUE(script.Finish());
  SetHelpViewerOverride(nullptr);
  EXPECT_EQ(afterKey, 0u);
  ASSERT_EQ(helpRequests.size(), 1u);
  EXPECT_EQ(helpRequests[0].command, static_cast<UINT>(HH_DISPLAY_TOC));
  EXPECT_EQ(helpRequests[0].text, BuildFolderFile(L"ombrix.chm"));
}
