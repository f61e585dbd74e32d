#include "shelltest.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <algorithm>

#include "base/owners.h"

namespace {

constexpr wchar_t kUserShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kStartedLog[] = L"Ombrix.started.txt";

void SetFolderValue(HKEY root, const wchar_t* name, const std::wstring& folder) {
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, kUserShellFolders, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                 static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

}  // namespace

ScratchShellFolders::ScratchShellFolders() {
  SetFolderValue(HKEY_CURRENT_USER, L"Desktop", userDesktop());
  SetFolderValue(HKEY_CURRENT_USER, L"Start Menu", userStartMenu());
  SetFolderValue(HKEY_CURRENT_USER, L"Programs", userPrograms());
  SetFolderValue(HKEY_LOCAL_MACHINE, L"Common Desktop", commonDesktop());
  SetFolderValue(HKEY_LOCAL_MACHINE, L"Common Start Menu", commonStartMenu());
  SetFolderValue(HKEY_LOCAL_MACHINE, L"Common Programs", commonPrograms());
}

ShortcutInfo ReadShortcut(const std::wstring& path) {
  ShortcutInfo info;
  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> file;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              link.put_void())) ||
      FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) ||
      FAILED(file->Load(path.c_str(), STGM_READ)))
    return info;
  wchar_t text[INFOTIPSIZE] = {};
  link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
  info.target = text;
  text[0] = 0;
  link->GetArguments(text, INFOTIPSIZE);
  info.arguments = text;
  text[0] = 0;
  link->GetDescription(text, INFOTIPSIZE);
  info.description = text;
  text[0] = 0;
  link->GetWorkingDirectory(text, MAX_PATH);
  info.workingFolder = text;
  text[0] = 0;
  link->GetIconLocation(text, MAX_PATH, &info.iconIndex);
  info.iconPath = text;
  info.loaded = true;
  return info;
}

std::vector<std::wstring> ListFiles(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// Wine 8 shows a host link to a folder as a reparse point, one to a file as a plain file.
bool IsLinkOfKind(const std::wstring& link, bool directory) {
  DWORD attr = GetFileAttributesW(link.c_str());
  if (attr == INVALID_FILE_ATTRIBUTES || ((attr & FILE_ATTRIBUTE_DIRECTORY) != 0) != directory)
    return false;
  return !directory || (attr & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool MakeLink(const std::wstring& link, const std::wstring& target, bool directory) {
  if (CreateSymbolicLinkW(link.c_str(), target.c_str(),
                          directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) &&
      IsLinkOfKind(link, directory))
    return true;
  // Wine's own export; absent on Windows.
  using UnixNameFunction = char*(CDECL*)(const wchar_t*);
  HMODULE kernel = GetModuleHandleW(L"kernel32");
  auto unixName = reinterpret_cast<UnixNameFunction>(reinterpret_cast<void (*)(void)>(
      GetProcAddress(kernel, "wine_get_unix_file_name")));
  if (!unixName) return false;
  char* linkName = unixName(link.c_str());
  char* targetName = unixName(target.c_str());
  if (!linkName || !targetName) return false;
  std::wstring command = L"ln -s \"";
  for (const char* p = targetName; *p; p++) command += static_cast<wchar_t>(*p);
  command += L"\" \"";
  for (const char* p = linkName; *p; p++) command += static_cast<wchar_t>(*p);
  command += L"\"";
  HANDLE heap = GetProcessHeap();
  HeapFree(heap, 0, linkName);
  HeapFree(heap, 0, targetName);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\bin\\ln", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // Wine's handle of a host process does not tell when it ends; the link shows when it is done.
  for (int tries = 0; tries < 100 && !IsLinkOfKind(link, directory); tries++) Sleep(50);
  return IsLinkOfKind(link, directory);
}

}  // namespace

std::string HostPath(const std::wstring& path) {
  using UnixNameFunction = char*(CDECL*)(const wchar_t*);
  auto unixName = reinterpret_cast<UnixNameFunction>(reinterpret_cast<void (*)(void)>(
      GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  char* name = unixName ? unixName(path.c_str()) : nullptr;
  if (!name) return {};
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

bool StartHostScript(const std::string& scriptFile) {
  if (HostPath(L"C:\\").empty()) return false;
  std::wstring command = L"bash " + std::wstring(scriptFile.begin(), scriptFile.end());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\bin\\bash", &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

bool MakeDirectoryLink(const std::wstring& link, const std::wstring& target) {
  return MakeLink(link, target, true);
}

bool MakeFileLink(const std::wstring& link, const std::wstring& target) {
  return MakeLink(link, target, false);
}

std::vector<std::wstring> StartedLines(const std::wstring& folder) {
  std::vector<std::wstring> lines;
  std::string bytes = ReadFileBytes(folder + L"\\" + kStartedLog);
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
  size_t start = 0;
  for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

bool WaitForStart(const std::wstring& folder, const std::wstring& text, DWORD timeoutMs) {
  DWORD begin = GetTickCount();
  do {
    for (const std::wstring& line : StartedLines(folder))
      if (line.find(text) != std::wstring::npos) return true;
    Sleep(100);
  } while (GetTickCount() - begin < timeoutMs);
  return false;
}
