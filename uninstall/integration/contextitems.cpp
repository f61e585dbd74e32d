#include "integration/contextitems.h"

#include <cwchar>

#include "base/array.h"
#include "base/product.h"
#include "base/text.h"
#include "base/winver.h"
#include "localisation/dialogs.h"
#include "localisation/dialogsource.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "settings/store.h"

namespace {

constexpr wchar_t kDialogName[] = L"SETUPCONTEXTITEMS";
constexpr wchar_t kHelpTopic[] = L"HELPContextItems";
constexpr wchar_t kTopMenuItemsKey[] = L"Setup\\TopMenuItems";
constexpr wchar_t kAlwaysArcValue[] = L"AlwaysArc";
constexpr wchar_t kAlwaysArcDefault[] = L"*.iso";

constexpr unsigned kAlwaysArcSize = 1024;
// Stored masks are read up to this many characters; longer ones count as missing.
constexpr unsigned kLongestMasks = 65536;

struct ContextMenuItem {
  const wchar_t* value;
  int controlId;
  DWORD defaultValue;
  bool hiddenInTopLayout;
};

const ContextMenuItem kMenuItems[] = {
    {L"ExtrTo", IDC_CONTEXTEXTRACTTO, 1, true},
    {L"ExtrHere", IDC_CONTEXTEXTRACTHERE, 1, true},
    {L"Extr", IDC_CONTEXTEXTRACT, 1, true},
    {L"ExtrSep", IDC_CONTEXTEXTRACTSEPARATE, 1, true},
    {L"OpenSFX", IDC_CONTEXTOPENSFX, 1, true},
    {L"OpenArc", IDC_CONTEXTOPENARC, 1, true},
    {L"AddTo", IDC_CONTEXTADD, 1, true},
    {L"AddArc", IDC_CONTEXTADDARC, 1, true},
    {L"EmailArc", IDC_CONTEXTEMAILARC, 1, true},
    {L"EmailOpt", IDC_CONTEXTEMAILARCOPT, 1, true},
    {L"Test", IDC_CONTEXTTEST, 0, true},
    {L"Convert", IDC_CONTEXTCONVERT, 0, true},
    {kNewObxValue, IDC_CONTEXTNEWOBX, 1, false},
    {kNewZipValue, IDC_CONTEXTNEWZIP, 1, false},
    {L"SFXLocal", IDC_CONTEXTSFXLOCAL, 1, false},
    {L"SFXNetwork", IDC_CONTEXTSFXNETWORK, 1, false},
    {L"SFXOther", IDC_CONTEXTSFXOTHER, 1, false},
    {L"DragAdd", IDC_CONTEXTDRAGADD, 1, false},
    {L"DragExtr", IDC_CONTEXTDRAGEXTRACT, 1, false},
};

struct TopMenuItem {
  const wchar_t* value;
  int controlId;
  DWORD defaultValue;
  int group;
};

const TopMenuItem kTopItems[] = {
    {L"Extr", IDC_CONTEXTTOPEXTRACT, 1, 0},
    {L"ExtrTo", IDC_CONTEXTTOPEXTRACTTO, 0, 0},
    {L"ExtrHere", IDC_CONTEXTTOPEXTRACTHERE, 0, 0},
    {L"ExtrSep", IDC_CONTEXTTOPEXTRACTSEPARATE, 1, 1},
    {L"AddArc", IDC_CONTEXTTOPADDARC, 1, 2},
    {L"AddTo", IDC_CONTEXTTOPADD, 0, 2},
};

// Set when the dialog opens; the dialog is modal and shown once at a time.
struct ContextItemsState {
  bool topLevelLayout = false;
  // The stored masks were longer than the box holds; shown is what the box got.
  bool masksCut = false;
  wchar_t shownMasks[kAlwaysArcSize] = {};
};
ContextItemsState contextItemsState;

void Check(HWND dialog, int id, bool checked) {
  CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void LoadTopItems(HWND dialog) {
  int checkedGroup = -1;
  for (const TopMenuItem& item : kTopItems) {
    if (item.group == checkedGroup) continue;
    bool on = GetSettingDword(kTopMenuItemsKey, item.value, item.defaultValue) != 0;
    Check(dialog, item.controlId, on);
    if (on) checkedGroup = item.group;
  }
}

// Reads the stored masks into what the box shows and tells whether they had to be cut: one
// character more than the box holds shows that. The registry refuses a read into a buffer too
// small for the value (the caller then gets the default), so a longer one is tried before the
// value counts as missing.
void LoadMasks() {
  ContextItemsState& state = contextItemsState;
  wchar_t masks[kAlwaysArcSize + 1];
  bool read = GetSettingString(kMenuItemsKey, kAlwaysArcValue, masks, kAlwaysArcDefault,
                               kAlwaysArcSize + 1);
  if (!read) {
    Array<wchar_t> whole;
    if (whole.SetSize(kLongestMasks) &&
        GetSettingString(kMenuItemsKey, kAlwaysArcValue, whole.data, kAlwaysArcDefault,
                         kLongestMasks))
      CopyText(masks, whole.data, kAlwaysArcSize + 1);
  }
  state.masksCut = TextLength(masks) >= kAlwaysArcSize;
  CopyText(state.shownMasks, masks, kAlwaysArcSize);
}

void OnInitDialog(HWND dialog, bool cascaded) {
  contextItemsState.topLevelLayout = !cascaded && IsWindows11();
  if (contextItemsState.topLevelLayout) {
    for (const ContextMenuItem& item : kMenuItems)
      if (item.hiddenInTopLayout) ShowWindow(GetDlgItem(dialog, item.controlId), SW_HIDE);
    LoadTopItems(dialog);
  } else {
    for (const TopMenuItem& item : kTopItems)
      ShowWindow(GetDlgItem(dialog, item.controlId), SW_HIDE);
  }
  for (const ContextMenuItem& item : kMenuItems)
    Check(dialog, item.controlId,
          GetSettingDword(kMenuItemsKey, item.value, item.defaultValue) != 0);

  LoadMasks();
  HWND edit = GetDlgItem(dialog, IDC_CONTEXTALWAYSARC);
  SendMessageW(edit, EM_LIMITTEXT, kAlwaysArcSize - 1, 0);
  SetWindowTextW(edit, contextItemsState.shownMasks);
  // File masks read left to right in every language.
  ClearRtlReading(edit);
}

void OnConfirm(HWND dialog) {
  for (const ContextMenuItem& item : kMenuItems)
    SetSettingDword(kMenuItemsKey, item.value, IsChecked(dialog, item.controlId) ? 1 : 0);
  if (contextItemsState.topLevelLayout) {
    for (const TopMenuItem& item : kTopItems)
      SetSettingDword(kTopMenuItemsKey, item.value, IsChecked(dialog, item.controlId) ? 1 : 0);
  }
  wchar_t masks[kAlwaysArcSize] = {};
  GetDlgItemTextW(dialog, IDC_CONTEXTALWAYSARC, masks, kAlwaysArcSize);
  // Masks longer than the box stay as stored unless the user changed what the box showed.
  bool unedited =
      contextItemsState.masksCut && std::wcscmp(masks, contextItemsState.shownMasks) == 0;
  if (!unedited) SetSettingString(kMenuItemsKey, kAlwaysArcValue, masks);
  SaveIni();
  EndDialog(dialog, TRUE);
}

}  // namespace

void ShowContextItemsDialog(HWND owner, bool cascaded) {
  DialogBoxParamW(PrepareDialogTemplate(kDialogName), kDialogName, owner, ContextItemsDialog,
                  cascaded ? 1 : 0);
}

INT_PTR CALLBACK ContextItemsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (CommonDialogMessage(dialog, message, wParam, lParam, kDialogName, kHelpTopic) ||
      message == WM_HELP)
    return TRUE;
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog, lParam != 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        OnConfirm(dialog);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, FALSE);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}
