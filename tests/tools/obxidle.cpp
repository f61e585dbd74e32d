// Keeps one hidden window alive for a test session, so that Wine's desktop process does not
// start and stop around every short GUI test. Ends when the session's server is killed.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  HWND window = CreateWindowExW(0, L"STATIC", L"obxidle", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                instance, nullptr);
  MSG msg;
  while (window && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
