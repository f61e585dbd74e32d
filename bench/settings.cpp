// Settings at scale: loading, updating and saving an ini file, and deleting a registry tree,
// each at several sizes so that the growth shows.
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/owners.h"
#include "settings/registry.h"
#include "settings/store.h"

namespace {

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::wstring ValueName(unsigned i) { return L"Value" + std::to_wstring(i); }
std::wstring GroupKey(unsigned i) { return L"Setup\\Group" + std::to_wstring(i / 100); }

// An ini of n entries in groups of 100, a third of them quoted and a few binary.
void WriteIni(const std::wstring& path, unsigned n) {
  std::wstring text = L"\xFEFF";
  for (unsigned i = 0; i < n; i++) {
    text += L"HKCU\\" + GroupKey(i) + L"\\" + ValueName(i) + L"=";
    if (i % 3 == 0)
      text += L"\"text value " + std::to_wstring(i) + L"\"";
    else if (i % 50 == 0)
      text += L"bin:0011223344556677";
    else
      text += std::to_wstring(i);
    text += L"\r\n";
  }
  ScopedHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written,
            nullptr);
}

void BenchIni(const std::wstring& folder, unsigned n) {
  std::wstring ini = folder + L"\\Ombrix.ini";
  WriteIni(ini, n);
  SetIniSearchPlaces((folder + L"\\uninstall.exe").c_str(), L"");
  FreeIni();

  double start = Now();
  LoadIni();
  double loaded = Now();
  for (unsigned i = 0; i < n; i++)
    SetSettingDword(GroupKey(i).c_str(), ValueName(i).c_str(), i + 1);
  double updated = Now();
  bool saved = SaveIni();
  double done = Now();

  std::printf("ini %6u entries: load %8.1f ms, update all %8.1f ms, save %8.1f ms%s\n", n,
              loaded - start, updated - loaded, done - updated, saved ? "" : " (save FAILED)");
  FreeIni();
  DeleteFileW(ini.c_str());
}

// n keys: 10 top keys, 10 below each, and n / 100 leaves below those.
void BenchTree(const std::wstring& name, unsigned n) {
  unsigned leaves = n / 100;
  for (unsigned a = 0; a < 10; a++)
    for (unsigned b = 0; b < 10; b++)
      for (unsigned c = 0; c < leaves; c++) {
        std::wstring path = L"Software\\" + name + L"\\Top" + std::to_wstring(a) + L"\\Mid" +
                            std::to_wstring(b) + L"\\Leaf" + std::to_wstring(c);
        ScopedKey key;
        RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                        key.put(), nullptr);
      }
  std::wstring subkey = L"\\Software\\" + name;
  double start = Now();
  DeleteRegTree(HKEY_CURRENT_USER, subkey.c_str());
  double done = Now();
  bool left = RegKeyExists(HKEY_CURRENT_USER, subkey.c_str());
  std::printf("tree %6u keys: delete %8.1f ms in %u passes, %s\n", n + 111, done - start,
              LastRegTreePasses(), left ? "key LEFT" : "all gone");
}

}  // namespace

int main() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder =
      std::wstring(temp) + L"obxbench_settings" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  for (unsigned n : {2500u, 5000u, 10000u, 20000u}) BenchIni(folder, n);
  // No ini from here on: the registry is in force.
  SetIniSearchPlaces((folder + L"\\none\\uninstall.exe").c_str(), L"");
  for (unsigned n : {2500u, 5000u, 10000u, 20000u})
    BenchTree(L"ObxBenchTree" + std::to_wstring(GetCurrentProcessId()), n);
  RemoveDirectoryW(folder.c_str());
  return 0;
}
