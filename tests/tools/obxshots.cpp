// Takes pictures of the real setup windows for the README: starts uninstall.exe /setup in an
// installation folder, walks through the setup dialog, the context menu items dialog and the
// completion dialog, and saves each window as a 24-bit BMP in the output folder.
// Usage: obxshots.exe <installation folder> <output folder> <name prefix> [setup]
// With "setup" only the setup dialog is taken, and then cancelled.
#include <windows.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "uiauto.h"

namespace {

constexpr DWORD kDialogTimeoutMs = 30000;
constexpr DWORD kPaintMs = 700;

bool SaveWindow(HWND window, const std::wstring& path) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return false;
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  std::vector<BYTE> pixels(stride * height);
  GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info;
  header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, &header, sizeof header, &written, nullptr) &&
            WriteFile(file, &info, sizeof info, &written, nullptr) &&
            WriteFile(file, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
  CloseHandle(file);
  return ok;
}

// A visible dialog of the process, other than except, that has a control with this id (0: any).
HWND WaitForDialogWith(const TestProcess& process, int id, HWND except) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < kDialogTimeoutMs && process.Running()) {
    for (HWND dialog : FindDialogs(process.id()))
      if (dialog != except && (id == 0 || GetDlgItem(dialog, id))) return dialog;
    Sleep(50);
  }
  return nullptr;
}

bool Shoot(HWND window, const std::wstring& out, const std::wstring& prefix, const wchar_t* name) {
  SetForegroundWindow(window);
  SetCursorPos(0, 0);  // no hover highlight on whatever lies under the pointer
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
  Sleep(kPaintMs);
  return SaveWindow(window, out + L"\\" + prefix + name + L".bmp");
}

bool ShootContextItems(const TestProcess& process, HWND setup, const std::wstring& out,
                       const std::wstring& prefix, const wchar_t* name) {
  PostMessageW(GetDlgItem(setup, IDC_SETCONTEXTMENU), BM_CLICK, 0, 0);
  HWND items = WaitForDialogWith(process, 0, setup);
  if (!items || !Shoot(items, out, prefix, name)) return false;
  PressButton(items, IDCANCEL);
  return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!args || count < 4) return 2;
  std::wstring folder = args[1], out = args[2], prefix = args[3];
  bool setupOnly = count > 4 && std::wstring(args[4]) == L"setup";
  LocalFree(args);

  TestProcess setup;
  if (!setup.Start(folder + L"\\uninstall.exe", L"/setup /noexplorer", {}, folder)) return 3;
  HWND dialog = WaitForDialogWith(setup, IDC_LINKPROGRAMS, nullptr);
  if (!dialog || !Shoot(dialog, out, prefix, L"setup")) return 4;
  if (setupOnly) {
    PressButton(dialog, IDCANCEL);
    return setup.WaitForExit(kDialogTimeoutMs) ? 0 : 7;
  }
  // The top-level layout of the context menu items belongs to Windows 11, which Wine is not.
  if (!ShootContextItems(setup, dialog, out, prefix, L"contextitems")) return 5;
  PressButton(dialog, IDOK);
  HWND done = WaitForDialogWith(setup, IDC_VIEWHELP, dialog);
  if (!done || !Shoot(done, out, prefix, L"done")) return 6;
  PressButton(done, IDOK);
  return setup.WaitForExit(kDialogTimeoutMs) ? 0 : 7;
}
