// Dialog localisation on real windows: language file texts, caption and "SIZE" reaching the
// program's three dialogs, the scaling arithmetic on built-in test templates, right-to-left
// mirroring, and the help key.
#include "localisation/dialogs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dialogscript.h"
#include "driver/help.h"
#include "filesystem/secure.h"
#include "langtest.h"
#include "localisation/langfile.h"
#include "localisation/messages.h"
#include "processstate.h"
#include "resources/resource.h"
#include "uiauto.h"

namespace {

const wchar_t* const kDialogNames[] = {L"SETUPDLG", L"DONEDLG", L"SETUPCONTEXTITEMS"};
constexpr wchar_t kTestDialog[] = L"TESTDLG";

struct ProcedureContext {
  const wchar_t* name;
  const wchar_t* topic;
};
ProcedureContext procedureContext = {kTestDialog, nullptr};
bool lastHelpHandled = false;
// Where the next dialog is put before it is localised, as a user or an owner on another monitor
// would have placed it; none when null.
const POINT* initialPlace = nullptr;

INT_PTR CALLBACK LocalizedProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG && initialPlace)
    SetWindowPos(dialog, nullptr, initialPlace->x, initialPlace->y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  bool handled = CommonDialogMessage(dialog, message, wParam, lParam, procedureContext.name,
                                     procedureContext.topic);
  if (message == WM_HELP) lastHelpHandled = handled;
  if (handled) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return message == WM_INITDIALOG;
}

INT_PTR CALLBACK PlainProcedure(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
}

struct WindowDestroyer {
  HWND window;
  ~WindowDestroyer() {
    if (window) DestroyWindow(window);
  }
};

HWND OpenResourceDialog(const wchar_t* name, bool localized = true) {
  procedureContext = {name, nullptr};
  return CreateDialogParamW(GetModuleHandleW(nullptr), name, nullptr,
                            localized ? LocalizedProcedure : PlainProcedure, 0);
}

// Builds an in-memory template: a dialog and its items, DWORD-aligned as the format wants.
class TemplateBuilder {
 public:
  TemplateBuilder(DWORD style, short cx, short cy) {
    Dword(style);
    Dword(0);
    countIndex_ = data_.size();
    Word(0);
    Word(0), Word(0), Word(static_cast<WORD>(cx)), Word(static_cast<WORD>(cy));
    Word(0), Word(0);
    Text(L"Test");
  }
  void Item(WORD classAtom, WORD id, DWORD style, short x, short y, short cx, short cy) {
    while (data_.size() % 2) Word(0);
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    Word(static_cast<WORD>(x)), Word(static_cast<WORD>(y));
    Word(static_cast<WORD>(cx)), Word(static_cast<WORD>(cy));
    Word(id);
    Word(0xFFFF), Word(classAtom);
    Text(L"x");
    Word(0);
    data_[countIndex_]++;
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(data_.data()); }

 private:
  void Word(WORD w) { data_.push_back(w); }
  void Dword(DWORD d) { Word(LOWORD(d)), Word(HIWORD(d)); }
  void Text(const wchar_t* text) {
    do Word(*text); while (*text++);
  }
  std::vector<WORD> data_;
  size_t countIndex_ = 0;
};

constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kComboAtom = 0x0085;
constexpr WORD kLabelId = 11, kButtonId = 12, kDropDownId = 13, kSimpleId = 14;

struct Measured {
  RECT window, client;
  std::vector<RECT> children;  // screen coordinates, in z-order
  std::vector<RECT> dropped;   // CB_GETDROPPEDCONTROLRECT per child (empty for others)
};

Measured Measure(HWND dialog) {
  Measured m = {};
  GetWindowRect(dialog, &m.window);
  GetClientRect(dialog, &m.client);
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT r, d = {};
    GetWindowRect(child, &r);
    SendMessageW(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&d));
    m.children.push_back(r);
    m.dropped.push_back(d);
  }
  return m;
}

HWND OpenTemplate(const TemplateBuilder& builder) {
  procedureContext = {kTestDialog, nullptr};
  return CreateDialogIndirectParamW(GetModuleHandleW(nullptr), builder.get(), nullptr,
                                    LocalizedProcedure, 0);
}

TemplateBuilder ScalingTemplate(short cx) {
  TemplateBuilder builder(DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU, cx, 120);
  builder.Item(kStaticAtom, kLabelId, SS_LEFT, 10, 8, 60, 10);
  builder.Item(kButtonAtom, kButtonId, BS_PUSHBUTTON, 80, 30, 50, 14);
  builder.Item(kComboAtom, kDropDownId, CBS_DROPDOWNLIST | WS_VSCROLL, 10, 50, 80, 60);
  builder.Item(kComboAtom, kSimpleId, CBS_SIMPLE, 100, 50, 80, 50);
  return builder;
}

class DialogLocalisation : public ::testing::Test {
 protected:
  void SetUp() override { richEdit_ = LoadLibraryW(L"riched20.dll"); }
  void TearDown() override {
    initialPlace = nullptr;
    if (richEdit_) FreeLibrary(richEdit_);
  }
  HMODULE richEdit_ = nullptr;
};

}  // namespace

TEST_F(DialogLocalisation, SizeKeyAsksForScalingOnlyWithTwoPositiveNumbersJoinedByAStar) {
  struct Case {
    const wchar_t* value;
    bool scaled;
    int x, y;
  };
  const Case cases[] = {
      {L"110*105", true, 110, 105}, {L"120*100", true, 120, 100}, {L"100*100", false, 100, 100},
      {L"110 * 105", false, 110, 0}, {L"0*50", false, 0, 50},       {L"-10*50", false, -10, 50},
      {L"120", false, 0, 0},         {L"80*90 blanks", true, 80, 90},
  };
  for (const Case& c : cases) {
    ResetProcessState();
    ParseMessages(std::wstring(OBX_MARKER_LINE L":DIALOG SETUPDLG\r\nSIZE \"") + c.value + L"\"\r\n");
    int x = -999, y = -999;
    EXPECT_EQ(GetDialogSize(L"SETUPDLG", x, y), c.scaled) << c.value;
    if (c.x || c.y) {
      EXPECT_EQ(x, c.x) << c.value;
      EXPECT_EQ(y, c.y) << c.value;
    }
  }
  ResetProcessState();
  int x = 0, y = 0;
  EXPECT_FALSE(GetDialogSize(L"SETUPDLG", x, y));
}

TEST_F(DialogLocalisation, LanguageFileTextsAndCaptionReachEveryDialogAndOthersKeepTheTemplate) {
  ParseMessages(OBX_MARKER_LINE
                L":DIALOG SETUPDLG\r\nCAPTION \"Einrichtung\"\r\nIDC_ASSOCWITH \"Verknüpfen mit\"\r\n"
                L"IDC_SHELLEXT \"In die &Shell\"\r\nIDOK \"Weiter\"\r\nIDCANCEL \"Abbrechen\"\r\n"
                L":DIALOG DONEDLG\r\nIDC_THANKS \"Danke\"\r\nIDC_VIEWLICENSE \"\"\r\n"
                L":DIALOG SETUPCONTEXTITEMS\r\nCAPTION \"Kontextmenü\"\r\nIDC_CONTEXTTEST \"Testen\"\r\n"
                L"IDCANCEL \"Abbrechen\"\r\n");

  HWND setup = OpenResourceDialog(L"SETUPDLG");
  WindowDestroyer setupOwner{setup};
  ASSERT_NE(setup, nullptr);
  EXPECT_EQ(ReadWindowText(setup), L"Einrichtung");
  EXPECT_EQ(ReadControlText(setup, IDC_ASSOCWITH), L"Verknüpfen mit");
  EXPECT_EQ(ReadControlText(setup, 5122), L"In die &Shell");
  EXPECT_EQ(ReadControlText(setup, IDOK), L"Weiter");
  EXPECT_EQ(ReadControlText(setup, IDCANCEL), L"Abbrechen");
  EXPECT_EQ(ReadControlText(setup, IDC_ASSOCZIP), L"ZIP");  // no key for it

  HWND done = OpenResourceDialog(L"DONEDLG");
  WindowDestroyer doneOwner{done};
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(ReadWindowText(done), L"Ombrix Setup");
  EXPECT_EQ(ReadControlText(done, IDC_THANKS), L"Danke");
  EXPECT_EQ(ReadControlText(done, IDC_VIEWLICENSE), L"");  // an empty text is a text

  HWND items = OpenResourceDialog(L"SETUPCONTEXTITEMS");
  WindowDestroyer itemsOwner{items};
  ASSERT_NE(items, nullptr);
  EXPECT_EQ(ReadWindowText(items), L"Kontextmenü");
  EXPECT_EQ(ReadControlText(items, IDC_CONTEXTTEST), L"Testen");
  EXPECT_EQ(ReadControlText(items, IDCANCEL), L"Abbrechen");
  EXPECT_EQ(ReadControlText(items, IDC_CONTEXTCONVERT), L"Convert archives");
}

// The English language file must say what the templates say, or a user who copies it as the
// translation template sees different texts from those without a file.
TEST_F(DialogLocalisation, EnglishLanguageFileMatchesEveryTemplateText) {
  ParseLanguageFile(SampleLanguagePath(L"uninstall.lng").c_str());
  ASSERT_GT(languageFile.entries.count, 0u);
  unsigned compared = 0;
  for (const wchar_t* name : kDialogNames) {
    HWND dialog = OpenResourceDialog(name, false);
    WindowDestroyer owner{dialog};
    ASSERT_NE(dialog, nullptr) << name;
    char prefix[80];
    wsprintfA(prefix, "$%ls:", name);
    for (unsigned row = 0; row < KeyTableCount; row++) {
      const KeyTableRow& entry = KeyTable[row];
      if (strncmp(entry.key, prefix, strlen(prefix)) != 0) continue;
      std::wstring expected = EntryText(entry.key);
      if (entry.id == 0) {
        if (strstr(entry.key, ":CAPTION")) {
          EXPECT_EQ(ReadWindowText(dialog), expected) << entry.key;
        }
        continue;
      }
      ASSERT_NE(GetDlgItem(dialog, static_cast<int>(entry.id)), nullptr) << entry.key;
      EXPECT_EQ(ReadControlText(dialog, static_cast<int>(entry.id)), expected) << entry.key;
      compared++;
    }
  }
  EXPECT_EQ(compared, 33u + 8u + 33u);  // every control row of the three dialogs
}

TEST_F(DialogLocalisation, SizeOf100By100ResizesNothingButTheCaptionStillApplies) {
  HWND reference = OpenTemplate(ScalingTemplate(200));
  WindowDestroyer referenceOwner{reference};
  ASSERT_NE(reference, nullptr);
  Measured before = Measure(reference);

  ParseMessages(OBX_MARKER_LINE L":DIALOG TESTDLG\r\nSIZE \"100*100\"\r\nCAPTION \"Titel\"\r\n");
  HWND dialog = OpenTemplate(ScalingTemplate(200));
  WindowDestroyer owner{dialog};
  ASSERT_NE(dialog, nullptr);
  Measured after = Measure(dialog);
  EXPECT_EQ(ReadWindowText(dialog), L"Titel");
  EXPECT_TRUE(EqualRect(&before.window, &after.window));
  ASSERT_EQ(before.children.size(), after.children.size());
  for (size_t i = 0; i < before.children.size(); i++)
    EXPECT_TRUE(EqualRect(&before.children[i], &after.children[i])) << i;
}

// Placed near the left edge, the centred dialog would grow past it: it stops at the edge.
TEST_F(DialogLocalisation, WidthOf120PercentGrowsACentredDialogAroundItsCentreClampedAtTheLeftEdge) {
  const POINT nearLeft = {20, 100};
  initialPlace = &nearLeft;
  HWND reference = OpenTemplate(ScalingTemplate(200));
  WindowDestroyer referenceOwner{reference};
  ASSERT_NE(reference, nullptr);
  Measured before = Measure(reference);
  ASSERT_EQ(before.window.left, nearLeft.x);

  ParseMessages(OBX_MARKER_LINE L":DIALOG TESTDLG\r\nSIZE \"120*100\"\r\n");
  HWND dialog = OpenTemplate(ScalingTemplate(200));
  WindowDestroyer owner{dialog};
  ASSERT_NE(dialog, nullptr);
  Measured after = Measure(dialog);

  int fullW = before.window.right - before.window.left + 1;
  int fullH = before.window.bottom - before.window.top + 1;
  int frameW = fullW - before.client.right;
  int frameH = fullH - before.client.bottom;
  int newW = before.client.right * 120 / 100 + frameW;
  ASSERT_LT(before.window.left + (fullW - newW) / 2, 0) << "the case must reach the clamp";
  EXPECT_EQ(after.window.left, 0);
  EXPECT_EQ(after.window.right - after.window.left, newW);
  EXPECT_EQ(after.window.bottom - after.window.top, before.client.bottom + frameH);
  EXPECT_EQ(after.window.top, before.window.top + (fullH - (before.client.bottom + frameH)) / 2);

  int top = frameH - GetSystemMetrics(SM_CYDLGFRAME);
  ASSERT_EQ(before.children.size(), 4u);
  for (size_t i = 0; i < before.children.size(); i++) {
    const RECT& r = before.children[i];
    POINT corner = {after.children[i].left, after.children[i].top};
    ScreenToClient(dialog, &corner);
    EXPECT_EQ(corner.x, (r.left - frameW / 2 - before.window.left) * 120 / 100) << i;
    EXPECT_EQ(corner.y, r.top - top - before.window.top) << i;
    EXPECT_EQ(after.children[i].right - after.children[i].left, (r.right - r.left + 1) * 120 / 100)
        << i;
  }
  // Heights keep their size plus the one pixel of the rule (the drop-down list aside).
  EXPECT_EQ(after.children[0].bottom - after.children[0].top,
            before.children[0].bottom - before.children[0].top + 1);
  EXPECT_EQ(after.children[1].bottom - after.children[1].top,
            before.children[1].bottom - before.children[1].top + 1);
}

// Whatever the scale and wherever the dialog stands, the result lies whole within the work area
// of the dialog's monitor, including monitors left of and above the primary one (taken from the
// override, as the virtual screen has one monitor only).
TEST_F(DialogLocalisation, ScaledDialogStaysWholeOnItsOwnMonitor) {
  const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  const RECT leftMonitor = {-1024, 0, 0, 768};
  const RECT upperMonitor = {0, -768, 1024, 0};
  struct Case {
    const char* name;
    const wchar_t* size;
    POINT place;
    const RECT* monitor;  // null: the real one
    int expectedScaleX;   // 0: lowered to fit the monitor's width
  };
  const Case cases[] = {
      {"near the right edge", L"130*100", {screen.right - 320, 100}, nullptr, 130},
      {"near the bottom edge", L"100*150", {100, screen.bottom - 200}, nullptr, 100},
      {"extreme width", L"5000000*100", {100, 100}, nullptr, 0},
      {"extreme height", L"100*5000000", {100, 100}, nullptr, 100},
      {"monitor left of the primary", L"140*100", {-1000, 200}, &leftMonitor, 140},
      {"monitor above the primary", L"100*140", {200, -740}, &upperMonitor, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    SetWorkAreaOverride(c.monitor);
    initialPlace = &c.place;
    HWND reference = OpenTemplate(ScalingTemplate(200));
    WindowDestroyer referenceOwner{reference};
    ASSERT_NE(reference, nullptr);
    Measured before = Measure(reference);

    ParseMessages(std::wstring(OBX_MARKER_LINE L":DIALOG TESTDLG\r\nSIZE \"") + c.size + L"\"\r\n");
    HWND dialog = OpenTemplate(ScalingTemplate(200));
    WindowDestroyer owner{dialog};
    ASSERT_NE(dialog, nullptr);
    Measured after = Measure(dialog);
    const RECT& area = c.monitor ? *c.monitor : screen;
    EXPECT_GE(after.window.left, area.left);
    EXPECT_GE(after.window.top, area.top);
    EXPECT_LE(after.window.right, area.right);
    EXPECT_LE(after.window.bottom, area.bottom);
    if (c.expectedScaleX)  // plus the one pixel of the rule
      EXPECT_EQ(after.client.right, before.client.right * c.expectedScaleX / 100 + 1);
    else
      EXPECT_GE(after.window.right - after.window.left, (area.right - area.left) * 9 / 10);
    // The controls grow by the scale the dialog was given, so the layout stays whole.
    int scaleX = after.client.right * 100 / before.client.right;
    int button = (before.children[1].right - before.children[1].left + 1) * scaleX / 100;
    EXPECT_NEAR(after.children[1].right - after.children[1].left, button, 1 + button / 100);
  }
}

TEST_F(DialogLocalisation, DropDownComboGetsItsListHeightWhileASimpleComboScalesLikeAnyControl) {
  HWND reference = OpenTemplate(ScalingTemplate(200));
  WindowDestroyer referenceOwner{reference};
  ASSERT_NE(reference, nullptr);
  Measured before = Measure(reference);

  ParseMessages(OBX_MARKER_LINE L":DIALOG TESTDLG\r\nSIZE \"100*150\"\r\n");
  HWND dialog = OpenTemplate(ScalingTemplate(200));
  WindowDestroyer owner{dialog};
  ASSERT_NE(dialog, nullptr);
  Measured after = Measure(dialog);
  ASSERT_EQ(before.children.size(), 4u);

  auto height = [](const RECT& r) { return r.bottom - r.top; };
  // The drop-down combo's window keeps its edit height; the height it was given goes to the
  // list, which the dropped rectangle shows.
  int dropDownGiven = (height(before.children[2]) + 1) * 150 / 100 +
                      (height(before.dropped[2]) + 1) * 150 / 100;
  EXPECT_GT(dropDownGiven, (height(before.children[2]) + 1) * 150 / 100);
  // Wine's dropped rectangle covers the list below the edit part only.
  EXPECT_EQ(height(after.dropped[2]) + height(after.children[2]), dropDownGiven)
      << "list " << height(after.dropped[2]) << ", edit " << height(after.children[2])
      << ", before: list " << height(before.dropped[2]) << ", edit " << height(before.children[2]);
  EXPECT_EQ(height(after.children[3]), (height(before.children[3]) + 1) * 150 / 100);
  EXPECT_EQ(height(after.children[0]), (height(before.children[0]) + 1) * 150 / 100);
}

TEST_F(DialogLocalisation, RightToLeftLanguageMirrorsEveryDialogBeforeItsTextsAreSet) {
  ParseMessages(OBX_MARKER_LINE L":DIRECTION RTL\r\n:DIALOG DONEDLG\r\nIDC_THANKS \"תודה\"\r\n");
  ASSERT_TRUE(languageFile.rightToLeft);
  for (const wchar_t* name : kDialogNames) {
    HWND dialog = OpenResourceDialog(name);
    WindowDestroyer owner{dialog};
    ASSERT_NE(dialog, nullptr) << name;
    EXPECT_NE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_LAYOUTRTL, 0) << name;
    // Children created after the mirroring inherit it.
    EXPECT_NE(GetWindowLongW(GetDlgItem(dialog, IDOK), GWL_EXSTYLE) & WS_EX_LAYOUTRTL, 0) << name;
  }
  HWND done = OpenResourceDialog(L"DONEDLG");
  WindowDestroyer owner{done};
  EXPECT_EQ(ReadControlText(done, IDC_THANKS), L"תודה");

  ResetProcessState();
  HWND plain = OpenResourceDialog(L"SETUPDLG");
  WindowDestroyer plainOwner{plain};
  EXPECT_EQ(GetWindowLongW(plain, GWL_EXSTYLE) & WS_EX_LAYOUTRTL, 0);
}

namespace {

// Each control's rectangle relative to the top-left corner of the client area as the screen
// shows it, whatever the dialog's direction.
std::vector<RECT> ClientPlaces(HWND dialog, int& clientWidth) {
  WINDOWINFO info = {};
  info.cbSize = sizeof info;
  GetWindowInfo(dialog, &info);
  clientWidth = info.rcClient.right - info.rcClient.left;
  std::vector<RECT> places;
  for (RECT r : Measure(dialog).children) {
    OffsetRect(&r, -info.rcClient.left, -info.rcClient.top);
    places.push_back(r);
  }
  return places;
}

}  // namespace

// A scaled right-to-left dialog is the mirror image of the scaled left-to-right one: every
// control as far from the right edge as it is from the left there, none cut off at an edge.
TEST_F(DialogLocalisation, ScaledRightToLeftDialogMirrorsTheScaledLeftToRightOne) {
  for (const wchar_t* name : kDialogNames) {
    SCOPED_TRACE(testing::Message() << name);
    std::wstring size = std::wstring(L":DIALOG ") + name + L"\r\nSIZE \"125*110\"\r\n";
    std::vector<RECT> places[2];
    int width[2] = {};
    for (int rtl = 0; rtl < 2; rtl++) {
      ResetProcessState();
      ParseMessages(std::wstring(OBX_MARKER_LINE) + (rtl ? L":DIRECTION RTL\r\n" : L"") + size);
      HWND dialog = OpenResourceDialog(name);
      WindowDestroyer owner{dialog};
      ASSERT_NE(dialog, nullptr);
      places[rtl] = ClientPlaces(dialog, width[rtl]);
    }
    ASSERT_EQ(width[0], width[1]);
    ASSERT_EQ(places[0].size(), places[1].size());
    for (size_t i = 0; i < places[0].size(); i++) {
      const RECT &ltr = places[0][i], &rtl = places[1][i];
      EXPECT_EQ(rtl.left, width[0] - ltr.right) << i;
      EXPECT_EQ(rtl.right, width[0] - ltr.left) << i;
      EXPECT_EQ(rtl.top, ltr.top) << i;
      EXPECT_EQ(rtl.bottom, ltr.bottom) << i;
      EXPECT_GE(rtl.left, 0) << i;
      EXPECT_LE(rtl.right, width[1]) << i;
    }
  }
}

TEST_F(DialogLocalisation, HelpKeyIsHandledWithOrWithoutATopicAndTheHelpButtonIsLeftToTheDialog) {
  SetAdminOnlyFolderOverride(BuildFolderFile(L"").c_str());  // as under Program Files
  SetHelpViewerOverride(RecordHelpRequest);
  SetHelpOpener(ShowHelp);
  helpRequests.clear();
  HELPINFO info = {};
  info.cbSize = sizeof info;
  LPARAM infoParam = reinterpret_cast<LPARAM>(&info);

  EXPECT_TRUE(CommonDialogMessage(nullptr, WM_HELP, 0, infoParam, L"DONEDLG", nullptr));
  EXPECT_TRUE(helpRequests.empty());
  EXPECT_EQ(HelpModuleLoads(), 0u);

  EXPECT_TRUE(CommonDialogMessage(nullptr, WM_HELP, 0, infoParam, L"SETUPDLG",
                                  L"HELPIntegrationSettings"));
  ASSERT_EQ(helpRequests.size(), 1u);
  EXPECT_NE(helpRequests[0].text.find(L"::/html/HELPIntegrationSettings.htm"), std::wstring::npos);

  EXPECT_FALSE(CommonDialogMessage(nullptr, WM_COMMAND, MAKEWPARAM(IDHELP, BN_CLICKED), 0,
                                   L"SETUPDLG", L"HELPIntegrationSettings"));
  EXPECT_EQ(helpRequests.size(), 2u);
  EXPECT_FALSE(CommonDialogMessage(nullptr, WM_COMMAND, MAKEWPARAM(IDHELP, BN_CLICKED), 0,
                                   L"DONEDLG", nullptr));
  EXPECT_FALSE(CommonDialogMessage(nullptr, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0,
                                   L"SETUPDLG", L"HELPIntegrationSettings"));
  EXPECT_EQ(helpRequests.size(), 2u);
}

// F1 pressed in the real "DONEDLG" reaches the procedure as WM_HELP, counts as handled, and
// opens nothing since that dialog has no topic; Escape then closes it.
TEST_F(DialogLocalisation, F1InTheCompletionDialogIsHandledAndOpensNothing) {
  SetHelpViewerOverride(RecordHelpRequest);
  SetHelpOpener(ShowHelp);
  helpRequests.clear();
  lastHelpHandled = false;
  procedureContext = {L"DONEDLG", nullptr};
  DialogScript script([](HWND dialog) {
    PressKey(dialog, VK_F1);  // F1 becomes WM_HELP only when the keyboard itself types it
    HWND focus = GetDlgItem(dialog, IDOK);
    PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageW(focus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
  });
  INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), L"DONEDLG", nullptr,
                                   LocalizedProcedure, 0);
  ASSERT_TRUE(script.Finish());
  EXPECT_FALSE(script.closedByScript());
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_TRUE(lastHelpHandled);
  EXPECT_TRUE(helpRequests.empty());
}

using RtlLanguageTest = ::testing::Test;

TEST_F(RtlLanguageTest, ClearRtlReadingActsOnlyForRightToLeftLanguages) {
  HWND window = CreateWindowExW(WS_EX_RTLREADING | WS_EX_TOOLWINDOW, L"STATIC", L"probe",
                                WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  ClearRtlReading(window);
  EXPECT_TRUE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_RTLREADING);

  languageFile.rightToLeft = true;
  ClearRtlReading(window);
  LONG_PTR exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
  EXPECT_FALSE(exStyle & WS_EX_RTLREADING);
  EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
  DestroyWindow(window);
}
