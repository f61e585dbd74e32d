// The platform's floor for a dialog program: built as uninstall.exe is, with its manifest, it
// shows one empty dialog and ends when it is cancelled (exit code 1, as the setup dialog).
#include <windows.h>

namespace {

INT_PTR CALLBACK EmptyDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND && (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK)) {
    EndDialog(dialog, 1);
    return TRUE;
  }
  return message == WM_INITDIALOG;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  return static_cast<int>(DialogBoxParamW(instance, MAKEINTRESOURCEW(1), nullptr, EmptyDialog, 0));
}
