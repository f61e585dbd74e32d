#include "testenv.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {
constexpr wchar_t kScratchRoot[] = L"Software\\ObxTest";
}

std::wstring UniqueName(const wchar_t* prefix) {
  static unsigned counter = 0;
  wchar_t buffer[128];
  swprintf(buffer, 128, L"%ls%lu_%lu_%u", prefix, GetCurrentProcessId(), GetTickCount(),
           ++counter);
  return buffer;
}

TempFolder::TempFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + UniqueName(L"obxtest");
  if (!CreateDirectoryW(path_.c_str(), nullptr)) ADD_FAILURE() << "cannot create temp folder";
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void RemoveTree(const std::wstring& path) {
  std::wstring longPath = path.rfind(L"\\\\?\\", 0) == 0 ? path : L"\\\\?\\" + path;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((longPath + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = longPath + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        RemoveTree(child);
      else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryW(child.c_str());
      else
        DeleteFileW(child.c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  SetFileAttributesW(longPath.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(longPath.c_str());
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << "cannot create test file";
  DWORD written = 0;
  BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  ASSERT_TRUE(ok && written == bytes.size());
}

std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(h);
  return bytes;
}

ScratchRegistry::ScratchRegistry() {
  base_ = std::wstring(kScratchRoot) + L"\\" + UniqueName(L"run");
  auto make = [this](const wchar_t* name) {
    HKEY key = nullptr;
    std::wstring path = base_ + L"\\" + name;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
      ADD_FAILURE() << "cannot create scratch key";
    return key;
  };
  hkcu_ = make(L"HKCU");
  hklm_ = make(L"HKLM");
  // As in Wine, the classes root shows the machine's classes alone.
  hkcr_ = make(L"HKLM\\Software\\Classes");
  RegOverridePredefKey(HKEY_CURRENT_USER, hkcu_);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, hklm_);
  RegOverridePredefKey(HKEY_CLASSES_ROOT, hkcr_);
}

ScratchRegistry::~ScratchRegistry() {
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  RegCloseKey(hkcu_);
  RegCloseKey(hklm_);
  RegCloseKey(hkcr_);
  RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, kScratchRoot);  // only succeeds once no run is left
}

HKEY ScratchRegistry::Real(HKEY root) const {
  if (root == HKEY_CURRENT_USER) return hkcu_;
  if (root == HKEY_LOCAL_MACHINE) return hklm_;
  if (root == HKEY_CLASSES_ROOT) return hkcr_;
  return root;
}

bool Exists(const std::wstring& path) {
  if (path.find(L'*') == std::wstring::npos)
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

bool KeyExists(HKEY root, const std::wstring& subkey) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool WaitUntilGone(const std::wstring& path, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (Exists(path)) {
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(100);
  }
  return true;
}

std::wstring RemovalBatchFile() {
  wchar_t windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\Temp\\Uninstall_Obx_*.Bat";
}

std::wstring UserTempFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = temp;
  return folder.substr(0, folder.size() - 1);
}

void DeleteLeftRemovalBatches() {
  std::wstring pattern = RemovalBatchFile();
  std::wstring folder = pattern.substr(0, pattern.rfind(L'\\') + 1);
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(pattern.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do DeleteFileW((folder + found.cFileName).c_str());
  while (FindNextFileW(find, &found));
  FindClose(find);
}
