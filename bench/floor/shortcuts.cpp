// The platform's floor for saving shortcuts: saves a list of shortcuts through IShellLinkW and
// IPersistFile and nothing else, so that the benchmark can set it beside setup's shortcut phase.
//
//   floor_shortcuts.exe read LINK...   prints each shortcut as one line of tab-separated fields:
//                                      link, target, working folder, description, icon
//   floor_shortcuts.exe save LIST      saves every shortcut of LIST (lines as printed by read,
//                                      UTF-8), creating a missing parent folder; an empty LIST
//                                      measures the start alone
#include <objbase.h>
#include <objidl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "base/owners.h"

namespace {

constexpr unsigned kFields = 5;
constexpr unsigned kFieldSize = MAX_PATH * 2;

void PrintUtf8(const wchar_t* text) {
  char bytes[kFieldSize * 3];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
  if (n > 0) std::fputs(bytes, stdout);
}

int Read(int count, wchar_t** links) {
  int failures = 0;
  for (int i = 0; i < count; i++) {
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    wchar_t fields[kFields][kFieldSize] = {};
    int icon = 0;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.put_void())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) ||
        FAILED(file->Load(links[i], STGM_READ))) {
      failures++;
      continue;
    }
    lstrcpynW(fields[0], links[i], kFieldSize);
    link->GetPath(fields[1], kFieldSize, nullptr, SLGP_RAWPATH);
    link->GetWorkingDirectory(fields[2], kFieldSize);
    link->GetDescription(fields[3], kFieldSize);
    link->GetIconLocation(fields[4], kFieldSize, &icon);
    for (unsigned f = 0; f < kFields; f++) {
      PrintUtf8(fields[f]);
      std::fputs(f + 1 < kFields ? "\t" : "\n", stdout);
    }
  }
  return failures == 0 ? 0 : 1;
}

bool SaveOne(wchar_t (&fields)[kFields][kFieldSize]) {
  wchar_t parent[kFieldSize];
  lstrcpynW(parent, fields[0], kFieldSize);
  if (wchar_t* slash = std::wcsrchr(parent, L'\\')) {
    *slash = 0;
    CreateDirectoryW(parent, nullptr);
  }
  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> file;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              link.put_void())) ||
      FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())))
    return false;
  link->SetPath(fields[1]);
  if (fields[2][0]) link->SetWorkingDirectory(fields[2]);
  if (fields[3][0]) link->SetDescription(fields[3]);
  link->SetIconLocation(fields[4], 0);
  return SUCCEEDED(file->Save(fields[0], TRUE));
}

int Save(const wchar_t* listPath) {
  FILE* list = _wfopen(listPath, L"rb");
  if (!list) return 2;
  char line[kFieldSize * 3 * kFields];
  int failures = 0;
  while (std::fgets(line, sizeof line, list)) {
    line[std::strcspn(line, "\r\n")] = 0;
    if (!line[0]) continue;
    wchar_t fields[kFields][kFieldSize] = {};
    char* start = line;
    for (unsigned f = 0; f < kFields && start; f++) {
      char* tab = std::strchr(start, '\t');
      if (tab) *tab = 0;
      MultiByteToWideChar(CP_UTF8, 0, start, -1, fields[f], kFieldSize);
      start = tab ? tab + 1 : nullptr;
    }
    if (!SaveOne(fields)) failures++;
  }
  std::fclose(list);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 3) {
    std::puts("usage: floor_shortcuts read LINK... | save LIST");
    return 2;
  }
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int result = std::wcscmp(argv[1], L"read") == 0 ? Read(argc - 2, argv + 2)
               : std::wcscmp(argv[1], L"save") == 0 ? Save(argv[2])
                                                    : 2;
  if (SUCCEEDED(com)) CoUninitialize();
  LocalFree(argv);
  return result;
}
