#include "localisation/dialogs.h"

#include <cstring>
#include <memory>
#include <new>

#include "base/convert.h"
#include "base/text.h"
#include "localisation/langfile.h"
#include "localisation/messages.h"

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

// The test's answer in place of the monitor's work area.
struct WorkAreaOverride {
  bool set = false;
  RECT area = {};
};
WorkAreaOverride workAreaOverride;

// The work area of the monitor that holds most of the window, or the nearest one.
RECT WindowWorkArea(HWND window) {
  if (workAreaOverride.set) return workAreaOverride.area;
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
  if (monitor && GetMonitorInfoW(monitor, &info)) return info.rcWork;
  RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  return area;
}

// The percentage, lowered where the scaled client (size pixels) plus frame would not fit into
// room pixels, though never below 100 on that account: a dialog too large for its monitor
// already is not made larger, and not smaller than its template either.
int FitPercent(int percent, int size, int frame, int room) {
  if (size <= 0) return percent;
  long long fitting = (static_cast<long long>(room) - frame) * 100 / size;
  if (fitting < 100) fitting = 100;
  return percent > fitting ? static_cast<int>(fitting) : percent;
}

// A start at or after low whose extent still ends at or before high, as near to start as that
// allows; low when the extent is wider than the room.
int KeepWithin(long long start, int extent, int low, int high) {
  if (start + extent > high) start = static_cast<long long>(high) - extent;
  if (start < low) start = low;
  return static_cast<int>(start);
}

// A control's place and size in the dialog's client area before scaling. In a mirrored
// (right-to-left) dialog x counts from the client area's right edge to the control's right
// edge, as the dialog's own coordinates do, so the scaled layout mirrors the left-to-right one.
struct ControlPlace {
  HWND control;
  int x, y, width, height, listHeight;
};

// Positions are taken relative to the client area, whose left edge lies frameW / 2 in from the
// window's left edge (its right edge as far in from the right one) and whose top lies top below
// the window's top edge. Read before the dialog changes size, which must not move them.
unsigned MeasureControls(HWND dialog, const RECT& window, int frameW, int top,
                         ControlPlace* places, unsigned capacity) {
  bool mirrored = (GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
  HWND first = GetWindow(dialog, GW_CHILD);
  HWND child = first;
  unsigned count = 0;
  for (; child && count < capacity; count++) {
    RECT r;
    GetWindowRect(child, &r);
    ControlPlace& place = places[count];
    place.control = child;
    place.x = mirrored ? window.right - frameW / 2 - r.right : r.left - frameW / 2 - window.left;
    place.y = r.top - top - window.top;
    place.width = r.right - r.left + 1;
    place.height = r.bottom - r.top + 1;
    place.listHeight = 0;
    if (IsDropDownCombo(child)) {
      RECT list = {};
      SendMessageW(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&list));
      place.listHeight = list.bottom - list.top + 1;
    }
    child = GetWindow(child, GW_HWNDNEXT);
    if (child == first) break;
  }
  return count;
}

int Scale(int value, int percent) {
  return static_cast<int>(static_cast<long long>(value) * percent / 100);
}

void ScaleControls(const ControlPlace* places, unsigned count, int x, int y) {
  for (unsigned i = 0; i < count; i++) {
    const ControlPlace& place = places[i];
    int height = Scale(place.height, y);
    if (place.listHeight) height += Scale(place.listHeight, y);
    SetWindowPos(place.control, nullptr, Scale(place.x, x), Scale(place.y, y),
                 Scale(place.width, x), height, SWP_NOZORDER | SWP_NOOWNERZORDER);
  }
}

struct DialogHelp {
  HelpOpener open = nullptr;
};
DialogHelp dialogHelp;

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

  std::unique_ptr<ControlPlace[]> places;
  unsigned count = 0;
  if (scaled) {
    places.reset(new (std::nothrow) ControlPlace[kMaxScaledChildren]);
    if (!places) scaled = false;
  }
  if (scaled) {
    count = MeasureControls(dialog, window, frameW, frameH - GetSystemMetrics(SM_CYDLGFRAME),
                            places.get(), kMaxScaledChildren);
    // The dialog stays on its own monitor, whole: a scale that would take it past the work
    // area is lowered, and it is moved no further than into that area.
    RECT area = WindowWorkArea(dialog);
    x = FitPercent(x, client.right, frameW, area.right - area.left);
    y = FitPercent(y, client.bottom, frameH, area.bottom - area.top);
    int newW = Scale(client.right, x) + frameW;
    int newH = Scale(client.bottom, y) + frameH;
    bool centred = (GetWindowLongW(dialog, GWL_STYLE) & DS_CENTER) != 0;
    // A centred dialog stays centred on its old centre; any other keeps its top-left corner.
    long long left = window.left, top = window.top;
    if (centred) {
      left += (static_cast<long long>(fullW) - newW) / 2;
      top += (static_cast<long long>(fullH) - newH) / 2;
    }
    int placedLeft = KeepWithin(left, newW, area.left, area.right);
    int placedTop = KeepWithin(top, newH, area.top, area.bottom);
    UINT flags = SWP_NOZORDER | SWP_NOOWNERZORDER;
    if (placedLeft == window.left && placedTop == window.top) flags |= SWP_NOMOVE;
    SetWindowPos(dialog, nullptr, placedLeft, placedTop, newW, newH, flags);
  }

  wchar_t caption[kDialogTextSize];
  if (GetDialogText(dialogName, kCaptionItem, caption, kDialogTextSize))
    SetWindowTextW(dialog, caption);

  if (scaled) ScaleControls(places.get(), count, x, y);
}

void SetWorkAreaOverride(const RECT* area) {
  workAreaOverride.set = area != nullptr;
  if (area) workAreaOverride.area = *area;
}

void ClearRtlReading(HWND window) {
  if (!languageFile.rightToLeft) return;
  LONG_PTR style = GetWindowLongPtrW(window, GWL_EXSTYLE);
  SetWindowLongPtrW(window, GWL_EXSTYLE, style & ~static_cast<LONG_PTR>(WS_EX_RTLREADING));
}

void ApplyRtlLayout(HWND window) {
  if (!languageFile.rightToLeft) return;
  SetWindowLongW(window, GWL_EXSTYLE, GetWindowLongW(window, GWL_EXSTYLE) | WS_EX_LAYOUTRTL);
}

bool IsChecked(HWND dialog, unsigned id) {
  return IsDlgButtonChecked(dialog, static_cast<int>(id)) == BST_CHECKED;
}

void SetHelpOpener(HelpOpener opener) { dialogHelp.open = opener; }

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
      if (helpTopic && dialogHelp.open) dialogHelp.open(helpTopic);
      return true;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDHELP && helpTopic && dialogHelp.open) dialogHelp.open(helpTopic);
      return false;
    default:
      return false;
  }
}
