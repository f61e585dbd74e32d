// Runs the exhausted-memory paths in a program built as the shipped one is (its compile options,
// its runtime, its link options): loading the settings stops at the limit, keeps what was read and
// never saves the partial file; and an allocation nobody can go on without (a plain new) ends the
// process at once with the failure code, showing nothing that would wait for a person.
// Exits 0 when both hold; anything else is a failure.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "base/outcome.h"
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

// Starts this program again with "exhaust" and returns its exit code, or -1 when it did not end
// by itself within 20 seconds (a message box waiting, for one).
long ExitCodeOfExhaustedChild() {
  wchar_t self[MAX_PATH], command[MAX_PATH + 16];
  if (!GetModuleFileNameW(nullptr, self, MAX_PATH)) return -2;
  wsprintfW(command, L"\"%s\" exhaust", self);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return -2;
  DWORD code = 0;
  if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    code = static_cast<DWORD>(-1);
  } else {
    GetExitCodeProcess(process.hProcess, &code);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<long>(code);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "exhaust") == 0) {
    // More than any process can have, from a value the compiler cannot see.
    volatile size_t huge = static_cast<size_t>(-1) / 2 + static_cast<size_t>(argc);
    char* volatile block = new char[huge];
    std::printf("a plain new of %zu bytes returned %p\n", static_cast<size_t>(huge),
                static_cast<void*>(block));
    return 0;
  }
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
  if (!settingsStore.active || !settingsStore.loadIncomplete) result = Fail("load not partial");
  else if (settingsStore.entryCount != 2) result = Fail("entries read before the limit lost");
  else if (SaveIni()) result = Fail("the partial content was saved");
  else if (!FileHolds(ini, kIni, sizeof kIni - 1)) result = Fail("the ini file changed");
  FreeIni();
  DeleteFileW(ini);
  RemoveDirectoryW(folder);
  if (result != 0) return result;
  std::printf("exhausted memory while loading: load kept partial, file kept\n");
  long code = ExitCodeOfExhaustedChild();
  if (code != static_cast<long>(ExitCodeOf(Outcome::kIncomplete))) {
    std::printf("memory check failed: a plain new that cannot be had ended with %ld\n", code);
    return 1;
  }
  std::printf("a plain new that cannot be had: the process ended with %ld\n", code);
  return 0;
}
