// Runs the settings store's exhausted-memory path in a program built as the shipped one is (its
// terminate handler, its runtime, its link options): loading stops at the limit by an exception
// that must be caught inside the store, keep what was read and never save the partial file.
// Exits 0 when it holds; anything else (including an abort) is a failure.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "base/errors.h"
#include "settings/store.h"

namespace {

constexpr char kIni[] = "HKCU\\A=1\r\nHKCU\\B=2\r\nHKCU\\C=3\r\nHKCU\\D=4\r\n";

bool WriteBytes(const wchar_t* path, const char* bytes, DWORD count) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes, count, &written, nullptr) && written == count;
  CloseHandle(file);
  return ok;
}

bool FileHolds(const wchar_t* path, const char* bytes, DWORD count) {
  char buffer[256];
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD got = 0;
  bool ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got == count &&
            std::memcmp(buffer, bytes, count) == 0;
  CloseHandle(file);
  return ok;
}

int Fail(const char* what) {
  std::printf("memory check failed: %s\n", what);
  return 1;
}

}  // namespace

int main() {
  wchar_t folder[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, folder);
  if (length == 0 || length + 40 >= MAX_PATH) return Fail("no temp folder");
  wsprintfW(folder + length, L"obxmemory%lu", GetCurrentProcessId());
  CreateDirectoryW(folder, nullptr);
  wchar_t program[MAX_PATH], ini[MAX_PATH];
  wsprintfW(program, L"%s\\uninstall.exe", folder);
  wsprintfW(ini, L"%s\\Ombrix.ini", folder);
  if (!WriteBytes(ini, kIni, sizeof kIni - 1)) return Fail("cannot write the ini file");

  SetIniSearchPlaces(program, folder);
  settingsStore.entryLimit = 2;
  LoadIni();
  int result = 0;
  if (errorHandler.exitCode != OBX_EXIT_MEMORY) result = Fail("exhausted memory not recorded");
  else if (!settingsStore.active || !settingsStore.loadIncomplete) result = Fail("load not partial");
  else if (settingsStore.entryCount != 2) result = Fail("entries read before the limit lost");
  else if (SaveIni()) result = Fail("the partial content was saved");
  else if (!FileHolds(ini, kIni, sizeof kIni - 1)) result = Fail("the ini file changed");
  FreeIni();
  DeleteFileW(ini);
  RemoveDirectoryW(folder);
  if (result == 0) std::printf("exhausted memory while loading: caught, file kept\n");
  return result;
}
