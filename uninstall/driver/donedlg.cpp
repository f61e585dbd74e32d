#include "driver/donedlg.h"

#include <shellapi.h>

#include "base/convert.h"
#include "base/ole.h"
#include "base/text.h"
#include "driver/help.h"
#include "driver/runstate.h"
#include "filesystem/path.h"
#include "filesystem/secure.h"
#include "localisation/dialogs.h"
#include "localisation/dialogsource.h"
#include "localisation/langmodule.h"
#include "localisation/messages.h"
#include "resources/resource.h"

namespace {

constexpr wchar_t kDialogName[] = L"DONEDLG";
constexpr wchar_t kLicenseName[] = L"license.txt";
constexpr const wchar_t* kWebSchemes[] = {L"http://", L"https://"};

// The installation folder during setup; false when it does not fit, since a cut path names
// another folder.
bool GetInstallFolder(wchar_t* out, unsigned size) {
  DWORD length = GetCurrentDirectoryW(size, out);
  if (length == 0 || length >= size) {
    out[0] = 0;
    return false;
  }
  return true;
}

void Open(const wchar_t* target) {
  EnsureCom();  // the shell may hand the target to its extensions
  ShellExecuteW(nullptr, L"open", target, nullptr, L"", SW_SHOWNORMAL);
}

void OpenLicense() {
  wchar_t path[kPathSize];
  if (!GetInstallFolder(path, kPathSize)) return;
  AddEndSlash(path, kPathSize);
  if (TextLength(path) + TextLength(kLicenseName) >= kPathSize) return;
  AppendText(path, kLicenseName, kPathSize);
  FindLocalizedFile(path, path, kPathSize);
  // Opened through its association, the file starts a program with this process's rights.
  if (ElevatedMayUse(path)) Open(path);
}

void OpenHomePage() {
  const wchar_t* address = GetMsg(IDS_HOMEURL);
  if (IsWebAddress(address)) Open(address);
}

void OnInitDialog(HWND dialog) {
  SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(runState.appIcon));
  SendDlgItemMessageW(dialog, IDC_THANKS, WM_SETFONT, reinterpret_cast<WPARAM>(runState.boldFont),
                      FALSE);
  wchar_t folder[kPathSize];
  GetInstallFolder(folder, kPathSize);
  SetDlgItemTextW(dialog, IDC_INSTFOLDER, folder);
}

void OnCommand(HWND dialog, int id) {
  switch (id) {
    case IDOK:
    case IDCANCEL:
      EndDialog(dialog, 1);
      break;
    case IDC_VIEWHELP:
      ShowHelp(nullptr);
      break;
    case IDC_VIEWLICENSE:
      OpenLicense();
      break;
    case IDC_HOMEPAGE:
      OpenHomePage();
      break;
    default:
      break;
  }
}

}  // namespace

bool IsWebAddress(const wchar_t* text) {
  if (!text) return false;
  for (const wchar_t* scheme : kWebSchemes) {
    unsigned i = 0;
    while (scheme[i] && AsciiUpper(text[i]) == AsciiUpper(scheme[i])) i++;
    if (scheme[i] == 0 && text[i] > L' ') return true;
  }
  return false;
}

INT_PTR CALLBACK DoneDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (CommonDialogMessage(dialog, message, wParam, lParam, kDialogName, nullptr)) return TRUE;
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      return TRUE;
    case WM_COMMAND:
      OnCommand(dialog, LOWORD(wParam));
      return TRUE;
    default:
      return FALSE;
  }
}

void ShowDoneDialog() {
  DialogBoxParamW(PrepareDialogTemplate(kDialogName), kDialogName, nullptr, DoneDialog, 0);
}
