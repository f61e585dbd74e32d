// The context menu items dialog driven as a user would, in its two layouts (Windows 11 with single
// top-level items, and every other case), with what it stores on OK and on cancel.
#include "integration/contextitems.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/winver.h"
#include "dialogscript.h"
#include "driver/help.h"
#include "filesystem/secure.h"
#include "langtest.h"
#include "localisation/dialogs.h"
#include "localisation/langfile.h"
#include "platforms.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "settings/store.h"
#include "testenv.h"
#include "uiauto.h"

namespace {

constexpr wchar_t kMenuItems[] = L"Setup\\MenuItems";
constexpr wchar_t kTopMenuItems[] = L"Setup\\TopMenuItems";
constexpr int kAlwaysArcEdit = IDC_CONTEXTALWAYSARC;

const int kClassicOnlyBoxes[] = {
    IDC_CONTEXTEXTRACTTO, IDC_CONTEXTEXTRACTHERE, IDC_CONTEXTEXTRACT, IDC_CONTEXTEXTRACTSEPARATE,
    IDC_CONTEXTOPENSFX,   IDC_CONTEXTOPENARC,     IDC_CONTEXTADD,     IDC_CONTEXTADDARC,
    IDC_CONTEXTEMAILARC,  IDC_CONTEXTEMAILARCOPT, IDC_CONTEXTTEST,    IDC_CONTEXTCONVERT};
const int kAlwaysShownBoxes[] = {IDC_CONTEXTNEWOBX,      IDC_CONTEXTNEWZIP,   IDC_CONTEXTDRAGADD,
                                 IDC_CONTEXTDRAGEXTRACT, IDC_CONTEXTSFXLOCAL, IDC_CONTEXTSFXNETWORK,
                                 IDC_CONTEXTSFXOTHER};
const int kTopBoxes[] = {IDC_CONTEXTTOPEXTRACT,     IDC_CONTEXTTOPEXTRACTTO,
                         IDC_CONTEXTTOPEXTRACTHERE, IDC_CONTEXTTOPEXTRACTSEPARATE,
                         IDC_CONTEXTTOPADDARC,      IDC_CONTEXTTOPADD};

bool Visible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }

// Presses a key on the control, through the dialog's own message loop.
void PostKey(HWND control, WPARAM key) {
  PostMessageW(control, WM_KEYDOWN, key, 1);
  PostMessageW(control, WM_KEYUP, key, 0xC0000001);
}

class ContextItems : public ::testing::Test {
 protected:
  void SetUp() override {
    SetIniSearchPlaces((temp_ / L"uninstall.exe").c_str(), temp_.path().c_str());
  }

  // Opens the dialog modally on this thread while user acts on it from a second one; user must
  // end by closing the dialog. A dialog that never shows fails the test instead of hanging.
  void Run(const PlatformOverride& platform, bool cascaded, std::function<void(HWND)> user) {
    SetPlatformOverride(&platform);
    DialogScript script(user);
    ShowContextItemsDialog(nullptr, cascaded);
    ASSERT_TRUE(script.Finish());
    EXPECT_FALSE(script.closedByScript());
  }

  DWORD Stored(const wchar_t* key, const wchar_t* name) {
    return GetSettingDword(key, name, 0xDEAD);
  }
  std::wstring StoredText(const wchar_t* name) {
    wchar_t text[2000];
    GetSettingString(kMenuItems, name, text, L"<none>", 2000);
    return text;
  }

  ScratchRegistry registry_;
  TempFolder temp_;
};

}  // namespace

TEST_F(ContextItems, Windows10ShowsTheClassicLayoutAndNeverWritesTopLevelItems) {
  Run(kWindows10, false, [](HWND dialog) {
    for (int id : kTopBoxes) EXPECT_FALSE(Visible(dialog, id)) << id;
    for (int id : kClassicOnlyBoxes) EXPECT_TRUE(Visible(dialog, id)) << id;
    for (int id : kAlwaysShownBoxes) EXPECT_TRUE(Visible(dialog, id)) << id;
    // Defaults: everything on but "Test" and "Convert".
    for (int id : kClassicOnlyBoxes)
      EXPECT_EQ(IsChecked(dialog, id), id != IDC_CONTEXTTEST && id != IDC_CONTEXTCONVERT) << id;
    for (int id : kAlwaysShownBoxes) EXPECT_TRUE(IsChecked(dialog, id)) << id;
    EXPECT_EQ(ReadControlText(dialog, kAlwaysArcEdit), L"*.iso");
    PressButton(dialog, IDC_CONTEXTTEST);    // Test on
    PressButton(dialog, IDC_CONTEXTNEWZIP);  // New ZIP off
    PressButton(dialog, IDOK);
  });
  EXPECT_EQ(Stored(kMenuItems, L"Test"), 1u);
  EXPECT_EQ(Stored(kMenuItems, L"NewZIP"), 0u);
  EXPECT_EQ(Stored(kMenuItems, L"Convert"), 0u);
  EXPECT_EQ(Stored(kMenuItems, L"ExtrTo"), 1u);
  EXPECT_EQ(Stored(kMenuItems, L"DragExtr"), 1u);
  EXPECT_EQ(StoredText(L"AlwaysArc"), L"*.iso");
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kTopMenuItems));

  // The setup dialog's cascaded box makes no difference here.
  Run(kWindows10, true, [](HWND dialog) {
    for (int id : kTopBoxes) EXPECT_FALSE(Visible(dialog, id)) << id;
    EXPECT_TRUE(IsChecked(dialog, IDC_CONTEXTTEST));
    EXPECT_FALSE(IsChecked(dialog, IDC_CONTEXTNEWZIP));
    PressButton(dialog, IDOK);
  });
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kTopMenuItems));
}

TEST_F(ContextItems, Windows11WithCascadedMenusLooksAsOnWindows10) {
  Run(kWindows11, true, [](HWND dialog) {
    for (int id : kTopBoxes) EXPECT_FALSE(Visible(dialog, id)) << id;
    for (int id : kClassicOnlyBoxes) EXPECT_TRUE(Visible(dialog, id)) << id;
    PressButton(dialog, IDOK);
  });
  EXPECT_EQ(Stored(kMenuItems, L"Extr"), 1u);
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kTopMenuItems));
}

// Hidden classic boxes are still written, with the values they were loaded with.
TEST_F(ContextItems, Windows11TopLevelLayoutShowsDefaultsAndKeepsHiddenItemsAsStored) {
  ASSERT_EQ(SetSettingDword(kMenuItems, L"Test", 1), 0u);
  ASSERT_EQ(SetSettingDword(kMenuItems, L"ExtrHere", 0), 0u);
  Run(kWindows11, false, [](HWND dialog) {
    for (int id : kTopBoxes) EXPECT_TRUE(Visible(dialog, id)) << id;
    for (int id : kClassicOnlyBoxes) EXPECT_FALSE(Visible(dialog, id)) << id;
    for (int id : kAlwaysShownBoxes) EXPECT_TRUE(Visible(dialog, id)) << id;
    EXPECT_TRUE(IsChecked(dialog, IDC_CONTEXTTOPEXTRACT));
    EXPECT_FALSE(IsChecked(dialog, IDC_CONTEXTTOPEXTRACTTO));
    EXPECT_FALSE(IsChecked(dialog, IDC_CONTEXTTOPEXTRACTHERE));
    EXPECT_TRUE(IsChecked(dialog, IDC_CONTEXTTOPEXTRACTSEPARATE));
    EXPECT_TRUE(IsChecked(dialog, IDC_CONTEXTTOPADDARC));
    EXPECT_FALSE(IsChecked(dialog, IDC_CONTEXTTOPADD));
    PressButton(
        dialog,
        IDC_CONTEXTTOPADD);  // "Add to archive..." on too: the dialog does not enforce groups
    PressButton(dialog, IDOK);
  });
  EXPECT_EQ(Stored(kTopMenuItems, L"Extr"), 1u);
  EXPECT_EQ(Stored(kTopMenuItems, L"ExtrTo"), 0u);
  EXPECT_EQ(Stored(kTopMenuItems, L"ExtrHere"), 0u);
  EXPECT_EQ(Stored(kTopMenuItems, L"ExtrSep"), 1u);
  EXPECT_EQ(Stored(kTopMenuItems, L"AddArc"), 1u);
  EXPECT_EQ(Stored(kTopMenuItems, L"AddTo"), 1u);
  EXPECT_EQ(Stored(kMenuItems, L"Test"), 1u);
  EXPECT_EQ(Stored(kMenuItems, L"ExtrHere"), 0u);
  EXPECT_EQ(Stored(kMenuItems, L"Convert"), 0u);
}

TEST_F(ContextItems, OnlyTheFirstStoredItemOfAGroupShowsCheckedAndConfirmingStoresTheRestOff) {
  ASSERT_EQ(SetSettingDword(kTopMenuItems, L"Extr", 0), 0u);
  ASSERT_EQ(SetSettingDword(kTopMenuItems, L"ExtrTo", 1), 0u);
  ASSERT_EQ(SetSettingDword(kTopMenuItems, L"ExtrHere", 1), 0u);
  ASSERT_EQ(SetSettingDword(kTopMenuItems, L"AddArc", 0), 0u);
  ASSERT_EQ(SetSettingDword(kTopMenuItems, L"AddTo", 1), 0u);
  Run(kWindows11, false, [](HWND dialog) {
    EXPECT_FALSE(IsChecked(dialog, IDC_CONTEXTTOPEXTRACT));
    EXPECT_TRUE(IsChecked(dialog, IDC_CONTEXTTOPEXTRACTTO));
    EXPECT_FALSE(IsChecked(dialog, IDC_CONTEXTTOPEXTRACTHERE));
    EXPECT_FALSE(IsChecked(dialog, IDC_CONTEXTTOPADDARC));
    EXPECT_TRUE(IsChecked(dialog, IDC_CONTEXTTOPADD));
    PressButton(dialog, IDOK);
  });
  EXPECT_EQ(Stored(kTopMenuItems, L"ExtrTo"), 1u);
  EXPECT_EQ(Stored(kTopMenuItems, L"ExtrHere"), 0u);
  EXPECT_EQ(Stored(kTopMenuItems, L"AddTo"), 1u);
}

TEST_F(ContextItems, ClearedMasksAreStoredEmptyAndShownEmptyNextTime) {
  Run(kWindows10, false, [](HWND dialog) {
    SetDlgItemTextW(dialog, kAlwaysArcEdit, L"");
    PressButton(dialog, IDOK);
  });
  EXPECT_EQ(StoredText(L"AlwaysArc"), L"");
  Run(kWindows10, false, [](HWND dialog) {
    EXPECT_EQ(ReadControlText(dialog, kAlwaysArcEdit), L"");
    PressButton(dialog, IDCANCEL);
  });
}

// The box holds 1023 characters: typed masks are cut there, while longer stored masks that the
// user left alone stay as they were.
TEST_F(ContextItems, MasksAreCutAt1023CharactersOnlyWhenEdited) {
  const std::wstring longMasks(1500, L'm'), typedMasks(1500, L't');
  struct Case {
    const char* what;
    const std::wstring* stored;  // null: nothing stored
    const std::wstring* typed;   // null: the box is left alone
    std::wstring expected;
  } cases[] = {
      {"long stored masks, unedited", &longMasks, nullptr, longMasks},
      {"long stored masks, replaced", &longMasks, &typedMasks, std::wstring(1023, L't')},
      {"nothing stored, long masks typed", nullptr, &typedMasks, std::wstring(1023, L't')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteSettingValue(kMenuItems, L"AlwaysArc");
    if (c.stored) {
      ASSERT_EQ(SetSettingString(kMenuItems, L"AlwaysArc", c.stored->c_str()), 0u);
    }
    Run(kWindows10, false, [&c](HWND dialog) {
      EXPECT_EQ(ReadControlText(dialog, kAlwaysArcEdit),
                c.stored ? c.stored->substr(0, 1023) : L"*.iso");
      if (c.typed) SetDlgItemTextW(dialog, kAlwaysArcEdit, c.typed->c_str());
      PressButton(dialog, IDOK);
    });
    EXPECT_EQ(StoredText(L"AlwaysArc"), c.expected);
  }
}

TEST_F(ContextItems, EscapeAndCancelStoreNothing) {
  Run(kWindows11, false, [](HWND dialog) {
    PressButton(dialog, IDC_CONTEXTTEST);
    PressButton(dialog, IDC_CONTEXTTOPEXTRACT);
    SetDlgItemTextW(dialog, kAlwaysArcEdit, L"*.img");
    PostKey(GetDlgItem(dialog, kAlwaysArcEdit), VK_ESCAPE);
  });
  Run(kWindows10, false, [](HWND dialog) {
    PressButton(dialog, IDC_CONTEXTTEST);
    PressButton(dialog, IDCANCEL);
  });
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kMenuItems));
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kTopMenuItems));
}

// With an ini file the choices must be on disk once the dialog closes, not only at process end.
TEST_F(ContextItems, ConfirmingWritesTheIniFileAtOnce) {
  FreeIni();
  WriteFileBytes(temp_ / L"Ombrix.ini", "[Global]\r\n");
  Run(kWindows10, false, [](HWND dialog) {
    PressButton(dialog, IDC_CONTEXTCONVERT);
    PressButton(dialog, IDOK);
  });
  std::string bytes = ReadFileBytes(temp_ / L"Ombrix.ini");
  std::wstring text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  EXPECT_NE(text.find(L"HKCU\\Setup\\MenuItems\\Convert=1"), std::wstring::npos);
  // The ini file answers existence tests too, so ask the registry itself.
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Ombrix\\Setup\\MenuItems", 0, KEY_READ,
                          &key),
            ERROR_SUCCESS);
  if (key) RegCloseKey(key);
}

TEST_F(ContextItems, F1AndTheHelpButtonOpenTheContextItemsTopicAndKeepTheDialogOpen) {
  SetAdminOnlyFolderOverride(BuildFolderFile(L"").c_str());  // as under Program Files
  SetHelpViewerOverride(RecordHelpRequest);
  SetHelpOpener(ShowHelp);
  helpRequests.clear();
  Run(kWindows10, false, [](HWND dialog) {
    PressKey(dialog, VK_F1);  // F1 becomes WM_HELP only when the keyboard types it
    PressButton(dialog, IDHELP);
    Sleep(300);
    EXPECT_TRUE(IsWindowVisible(dialog));
    PressButton(dialog, IDOK);
  });
  ASSERT_EQ(helpRequests.size(), 2u);
  for (const HelpRequest& request : helpRequests)
    EXPECT_NE(request.text.find(L"ombrix.chm::/html/HELPContextItems.htm"), std::wstring::npos)
        << request.text;
}

TEST_F(ContextItems, RightToLeftLanguageMirrorsTheDialogButNotTheMasks) {
  ParseMessages(OBX_MARKER_LINE L":DIRECTION RTL\r\n:DIALOG SETUPCONTEXTITEMS\r\n"
                L"IDC_CONTEXTTEST \"בדיקה\"\r\n");
  ASSERT_TRUE(languageFile.rightToLeft);
  Run(kWindows10, false, [](HWND dialog) {
    EXPECT_NE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_LAYOUTRTL, 0);
    EXPECT_EQ(ReadControlText(dialog, IDC_CONTEXTTEST), L"בדיקה");
    EXPECT_EQ(GetWindowLongW(GetDlgItem(dialog, kAlwaysArcEdit), GWL_EXSTYLE) & WS_EX_RTLREADING,
              0);
    PressButton(dialog, IDCANCEL);
  });
}
