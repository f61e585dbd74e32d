// Launcher for the whole-program figures of bench/scripts/whole.sh: starts one command line and
// reports how long it took and the peak working set of the process it started.
//
//   bench_whole.exe dialog COMMAND   time until the process shows a visible dialog (#32770),
//                                    which is then cancelled
//   bench_whole.exe run COMMAND      time until the process ends
//   bench_whole.exe run-gone PATH COMMAND
//                                    as run, and also the time until PATH no longer exists (the
//                                    self-removal batch file finishes after the program ends)
//
// COMMAND is the rest of this process's own command line, passed on unchanged. Prints one line
// of key=value pairs: ms, gone_ms, exit, peak_kib.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>

#include "base/owners.h"

namespace {

constexpr DWORD kTimeoutMs = 120000;
constexpr DWORD kPollMs = 2;
constexpr double kCloseTimeoutMs = 10000;

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// The rest of the command line after skipping count arguments (blank-separated, quotes kept).
const wchar_t* SkipArguments(const wchar_t* line, unsigned count) {
  for (unsigned i = 0; i < count; i++) {
    while (*line == L' ' || *line == L'\t') line++;
    bool quoted = false;
    while (*line && (quoted || (*line != L' ' && *line != L'\t'))) {
      if (*line == L'"') quoted = !quoted;
      line++;
    }
  }
  while (*line == L' ' || *line == L'\t') line++;
  return line;
}

struct DialogSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindProcessDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (std::wcscmp(name, L"#32770") != 0) return TRUE;
  search->found = window;
  return FALSE;
}

SIZE_T PeakWorkingSet(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  return GetProcessMemoryInfo(process, &counters, sizeof counters) ? counters.PeakWorkingSetSize
                                                                   : 0;
}

}  // namespace

int main() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 3) {
    printf("started by bench/scripts/whole.sh with a mode and a command line\n");
    return 0;
  }
  bool dialog = std::wcscmp(argv[1], L"dialog") == 0;
  bool gone = std::wcscmp(argv[1], L"run-gone") == 0;
  if (!dialog && !gone && std::wcscmp(argv[1], L"run") != 0) {
    printf("unknown mode\n");
    return 2;
  }
  const wchar_t* gonePath = gone ? argv[2] : nullptr;
  wchar_t command[32768];
  lstrcpynW(command, SkipArguments(GetCommandLineW(), gone ? 3 : 2), 32768);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  double start = Now();
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    printf("error=%lu\n", GetLastError());
    return 1;
  }
  ScopedHandle process(info.hProcess);
  ScopedHandle thread(info.hThread);
  SIZE_T peak = 0;
  double shownMs = -1;
  // Polled while it runs: some systems keep no counters for an ended process.
  while (WaitForSingleObject(process.get(), kPollMs) == WAIT_TIMEOUT) {
    SIZE_T now = PeakWorkingSet(process.get());
    if (now > peak) peak = now;
    if (dialog && shownMs < 0) {
      DialogSearch search = {info.dwProcessId, nullptr};
      EnumWindows(FindProcessDialog, reinterpret_cast<LPARAM>(&search));
      if (search.found) {
        shownMs = Now() - start;
        PostMessageW(search.found, WM_COMMAND, IDCANCEL, 0);
      }
    }
    // A dialog that does not close when cancelled would stall the run.
    if (shownMs >= 0 && Now() - start - shownMs > kCloseTimeoutMs) {
      TerminateProcess(process.get(), 9);
      printf("ms=%.1f not_closed=1\n", shownMs);
      return 1;
    }
    if (Now() - start > kTimeoutMs) {
      TerminateProcess(process.get(), 9);
      printf("timeout=1\n");
      return 1;
    }
  }
  double endedMs = Now() - start;
  SIZE_T last = PeakWorkingSet(process.get());
  if (last > peak) peak = last;
  DWORD exitCode = 0;
  GetExitCodeProcess(process.get(), &exitCode);
  double goneMs = -1;
  if (gonePath) {
    while (GetFileAttributesW(gonePath) != INVALID_FILE_ATTRIBUTES && Now() - start < kTimeoutMs)
      Sleep(10);
    if (GetFileAttributesW(gonePath) == INVALID_FILE_ATTRIBUTES) goneMs = Now() - start;
  }
  printf("ms=%.1f gone_ms=%.1f exit=%lu peak_kib=%lu\n", dialog ? shownMs : endedMs, goneMs,
         exitCode, static_cast<unsigned long>(peak / 1024));
  return 0;
}
