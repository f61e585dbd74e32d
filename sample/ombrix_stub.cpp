// Stand-in for the archiver's main program in the sample installation: it records every command
// line it is started with in "Ombrix.started.txt" beside itself (UTF-16, one line each), so that
// a test can see that Windows started it and with what.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  wchar_t path[2048];
  DWORD n = GetModuleFileNameW(nullptr, path, 2048);
  if (n == 0 || n >= 2048) return 1;
  wchar_t* slash = path;
  for (wchar_t* p = path; *p; p++)
    if (*p == L'\\') slash = p + 1;
  const wchar_t kLog[] = L"Ombrix.started.txt";
  if ((slash - path) + sizeof kLog / sizeof kLog[0] > 2048) return 1;
  for (unsigned i = 0; i < sizeof kLog / sizeof kLog[0]; i++) slash[i] = kLog[i];

  HANDLE log = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, 0, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 1;
  const wchar_t* line = GetCommandLineW();
  DWORD written = 0;
  WriteFile(log, line, lstrlenW(line) * sizeof(wchar_t), &written, nullptr);
  WriteFile(log, L"\r\n", 2 * sizeof(wchar_t), &written, nullptr);
  CloseHandle(log);
  return 0;
}
