#include "dialogscript.h"

#include "uiauto.h"

namespace {

constexpr DWORD kPollMs = 20;
constexpr DWORD kCloseGraceMs = 3000;
constexpr UINT kSendTimeoutMs = 5000;
constexpr DWORD kKeyMs = 300;

}  // namespace

DialogScript::DialogScript(std::function<void(HWND)> steps, DWORD timeoutMs) {
  thread_ = std::thread([this, steps, timeoutMs] {
    HWND dialog = WaitForDialog(GetCurrentProcessId(), timeoutMs);
    if (!dialog) return;
    found_ = true;
    steps(dialog);
    if (WaitUntilClosed(dialog, kCloseGraceMs)) return;
    closedByScript_ = true;
    // Whatever it opened on top goes first, then the dialog itself.
    while (HWND other = WaitForOtherDialog(dialog, 0)) {
      PostMessageW(other, WM_CLOSE, 0, 0);
      WaitUntilClosed(other, kCloseGraceMs);
    }
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  });
}

DialogScript::~DialogScript() { Finish(); }

bool DialogScript::Finish() {
  if (thread_.joinable()) thread_.join();
  return found_;
}

void PostClick(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void PressKey(HWND dialog, WORD key) {
  // Through the system's input queue, as the keyboard delivers it: keys the system itself turns
  // into messages (F1 into WM_HELP) need that path.
  SetForegroundWindow(dialog);
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
  inputs[0].ki.wVk = inputs[1].ki.wVk = key;
  inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, inputs, sizeof(INPUT));
  Sleep(kKeyMs);
}

bool IsChecked(HWND dialog, int id) {
  DWORD_PTR state = 0;
  SendMessageTimeoutW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                      &state);
  return state == BST_CHECKED;
}

bool IsEnabled(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control && IsWindowEnabled(control);
}

HWND WaitForOtherDialog(HWND except, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    for (HWND dialog : FindDialogs(GetCurrentProcessId()))
      if (dialog != except) return dialog;
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(kPollMs);
  }
}

bool WaitUntilClosed(HWND window, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (IsWindow(window) && IsWindowVisible(window)) {
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(kPollMs);
  }
  return true;
}

std::vector<HelpRequest> helpRequests;

HWND WINAPI RecordHelpRequest(HWND, const wchar_t* request, UINT command, DWORD_PTR) {
  helpRequests.push_back({request ? request : L"", command});
  return nullptr;
}
