#include "localisation/dialogs.h"

#include <cstring>

#include "driver/help.h"
#include "localisation/convert.h"
#include "localisation/langfile.h"
#include "localisation/messages.h"
#include "localisation/text.h"

namespace {

constexpr wchar_t kKeyFormat[] = L"$%s:%s";
constexpr wchar_t kPrefixFormat[] = L"$%s:";
constexpr wchar_t kSizeItem[] = L"SIZE";
constexpr wchar_t kCaptionItem[] = L"CAPTION";
constexpr wchar_t kComboBoxClass[] = L"COMBOBOX";

constexpr unsigned kKeySize = 80;
constexpr unsigned kSizeTextSize = 512;
constexpr unsigned kDialogTextSize = 1024;
constexpr unsigned kClassNameSize = 64;
constexpr unsigned kMaxScaledChildren = 512;

void SetControlTexts(HWND dialog, const wchar_t* dialogName) {
  wchar_t widePrefix[kKeySize];
  FormatText(widePrefix, kKeySize, kPrefixFormat, dialogName);
  char prefix[kKeySize];
  ToNarrow(widePrefix, prefix, kKeySize);
  size_t prefixLength = strlen(prefix);
  wchar_t text[kDialogTextSize];
  for (unsigned row = 0; row < KeyTableCount; row++) {
    const KeyTableRow& entry = KeyTable[row];
    if (entry.id == 0 || strncmp(entry.key, prefix, prefixLength) != 0) continue;
    if (LookupText(entry.key, text, kDialogTextSize))
      SetDlgItemTextW(dialog, static_cast<int>(entry.id), text);
  }
}

bool IsDropDownCombo(HWND control) {
  wchar_t className[kClassNameSize];
  if (GetClassNameW(control, className, kClassNameSize) == 0) return false;
  if (CompareNoCase(className, kComboBoxClass) != 0) return false;
  return (GetWindowLongW(control, GWL_STYLE) & 3) != CBS_SIMPLE;
}

// Positions are taken relative to the client area's top-left corner, which lies frameW / 2 in
// from the window's left edge and top below its top edge.
void ScaleControls(HWND dialog, const RECT& window, int frameW, int top, int x, int y) {
  HWND first = GetWindow(dialog, GW_CHILD);
  HWND child = first;
  for (unsigned count = 0; child && count < kMaxScaledChildren; count++) {
    RECT r;
    GetWindowRect(child, &r);
    int left = (r.left - frameW / 2 - window.left) * x / 100;
    int upper = (r.top - top - window.top) * y / 100;
    int width = (r.right - r.left + 1) * x / 100;
    int height = (r.bottom - r.top + 1) * y / 100;
    if (IsDropDownCombo(child)) {
      RECT list = {};
      SendMessageW(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&list));
      height += (list.bottom - list.top + 1) * y / 100;
    }
    SetWindowPos(child, nullptr, left, upper, width, height, SWP_NOZORDER | SWP_NOOWNERZORDER);
    child = GetWindow(child, GW_HWNDNEXT);
    if (child == first) break;
  }
}

}  // namespace

bool GetDialogText(const wchar_t* dialogName, const wchar_t* item, wchar_t* out, unsigned size) {
  wchar_t wideKey[kKeySize];
  FormatText(wideKey, kKeySize, kKeyFormat, dialogName, item);
  char key[kKeySize];
  ToNarrow(wideKey, key, kKeySize);
  return LookupText(key, out, size);
}

bool GetDialogSize(const wchar_t* dialogName, int& x, int& y) {
  wchar_t text[kSizeTextSize];
  if (!GetDialogText(dialogName, kSizeItem, text, kSizeTextSize)) return false;
  const wchar_t* star = wcschr(text, L'*');
  if (!star) return false;
  x = static_cast<int>(ParseInt64(text));
  y = static_cast<int>(ParseInt64(star + 1));
  return x > 0 && y > 0 && !(x == 100 && y == 100);
}

void LocalizeDialog(HWND dialog, const wchar_t* dialogName) {
  SetControlTexts(dialog, dialogName);

  int x = 0, y = 0;
  bool scaled = GetDialogSize(dialogName, x, y);
  RECT window, client;
  GetWindowRect(dialog, &window);
  GetClientRect(dialog, &client);
  int fullW = window.right - window.left + 1;
  int fullH = window.bottom - window.top + 1;
  int frameW = fullW - client.right;
  int frameH = fullH - client.bottom;

  if (scaled) {
    int newW = client.right * x / 100 + frameW;
    int newH = client.bottom * y / 100 + frameH;
    int left = window.left + (fullW - newW) / 2;
    int top = window.top + (fullH - newH) / 2;
    if (left < 0) left = 0;
    if (top < 0) top = 0;
    UINT flags = SWP_NOZORDER | SWP_NOOWNERZORDER;
    if (!(GetWindowLongW(dialog, GWL_STYLE) & DS_CENTER)) flags |= SWP_NOMOVE;
    SetWindowPos(dialog, nullptr, left, top, newW, newH, flags);
    GetWindowRect(dialog, &window);
  }

  wchar_t caption[kDialogTextSize];
  if (GetDialogText(dialogName, kCaptionItem, caption, kDialogTextSize))
    SetWindowTextW(dialog, caption);

  if (scaled) ScaleControls(dialog, window, frameW, frameH - GetSystemMetrics(SM_CYDLGFRAME), x, y);
}

void ApplyRtlLayout(HWND window) {
  if (!languageFile.rightToLeft) return;
  SetWindowLongW(window, GWL_EXSTYLE, GetWindowLongW(window, GWL_EXSTYLE) | WS_EX_LAYOUTRTL);
}

bool CommonDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM,
                         const wchar_t* dialogName, const wchar_t* helpTopic) {
  switch (message) {
    case WM_SETFONT:
      ApplyRtlLayout(dialog);
      return false;
    case WM_INITDIALOG:
      LocalizeDialog(dialog, dialogName);
      return false;
    case WM_HELP:
      if (helpTopic) ShowHelp(helpTopic);
      return true;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDHELP && helpTopic) ShowHelp(helpTopic);
      return false;
    default:
      return false;
  }
}
