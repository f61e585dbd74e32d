#include "uiauto.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>

namespace {

constexpr UINT kSendTimeoutMs = 5000;
constexpr DWORD kPollMs = 20;
constexpr wchar_t kDialogClass[] = L"#32770";

struct DialogSearch {
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && IsWindowVisible(window) &&
      ReadClassName(window) == kDialogClass)
    search->found.push_back(window);
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
  auto* children = reinterpret_cast<std::vector<HWND>*>(param);
  children->push_back(window);
  return TRUE;
}

bool SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             result ? result : &ignored) != 0;
}

// Environment names compare case-insensitively on Windows.
bool SameName(const std::wstring& entry, const std::wstring& name) {
  if (entry.size() <= name.size() || entry[name.size()] != L'=') return false;
  return CompareStringOrdinal(entry.c_str(), static_cast<int>(name.size()), name.c_str(),
                              static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
}

std::vector<wchar_t> BuildEnvironment(const EnvironmentChanges& changes) {
  std::vector<std::wstring> entries;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) entries.emplace_back(p);
    FreeEnvironmentStringsW(block);
  }
  auto drop = [&entries](const std::wstring& name) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&name](const std::wstring& e) { return SameName(e, name); }),
                  entries.end());
  };
  for (const auto& name : changes.remove) drop(name);
  for (const auto& [name, value] : changes.set) {
    drop(name);
    entries.push_back(name + L"=" + value);
  }
  std::vector<wchar_t> block;
  for (const auto& e : entries) block.insert(block.end(), e.c_str(), e.c_str() + e.size() + 1);
  block.push_back(0);
  if (entries.empty()) block.push_back(0);
  return block;
}

}  // namespace

std::wstring ReadWindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendWithTimeout(window, WM_GETTEXTLENGTH, 0, 0, &length)) return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendWithTimeout(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                       &copied))
    return {};
  text.resize(std::min<size_t>(copied, length));
  return text;
}

std::wstring ReadClassName(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

std::wstring ReadControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control ? ReadWindowText(control) : std::wstring();
}

std::vector<ControlInfo> ListControls(HWND dialog) {
  std::vector<HWND> children;
  EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
  std::vector<ControlInfo> controls;
  for (HWND child : children) {
    if (GetParent(child) != dialog) continue;
    ControlInfo info;
    info.window = child;
    info.id = GetDlgCtrlID(child);
    info.className = ReadClassName(child);
    info.text = ReadWindowText(child);
    info.style = GetWindowLongPtrW(child, GWL_STYLE);
    info.exStyle = GetWindowLongPtrW(child, GWL_EXSTYLE);
    controls.push_back(info);
  }
  return controls;
}

std::vector<HWND> FindDialogs(DWORD processId) {
  DialogSearch search{processId, {}};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

namespace {

HWND FindDialogWithCaption(DWORD processId, const wchar_t* caption) {
  for (HWND dialog : FindDialogs(processId))
    if (!caption || ReadWindowText(dialog) == caption) return dialog;
  return nullptr;
}

}  // namespace

HWND WaitForDialog(DWORD processId, DWORD timeoutMs, const wchar_t* caption) {
  DWORD start = GetTickCount();
  for (;;) {
    if (HWND dialog = FindDialogWithCaption(processId, caption)) return dialog;
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(kPollMs);
  }
}

bool PressButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (!button) return false;
  return SendWithTimeout(button, BM_CLICK, 0, 0, nullptr);
}

TestProcess::~TestProcess() {
  if (Running()) {
    TerminateProcess(process_.get(), 255);
    WaitForSingleObject(process_.get(), 5000);
  }
}

bool TestProcess::Start(const std::wstring& program, const std::wstring& arguments,
                        const EnvironmentChanges& environment, const std::wstring& folder) {
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  std::vector<wchar_t> env = BuildEnvironment(environment);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  exitCode_ = STILL_ACTIVE;
  if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                      CREATE_UNICODE_ENVIRONMENT, env.data(),
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    lastError_ = GetLastError();
    return false;
  }
  ScopedHandle thread(info.hThread);
  process_.reset(info.hProcess);
  id_ = info.dwProcessId;
  return true;
}

bool TestProcess::Running() const {
  return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

bool TestProcess::WaitForExit(DWORD timeoutMs) {
  if (!process_ || WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) return false;
  GetExitCodeProcess(process_.get(), &exitCode_);
  return true;
}

unsigned TestProcess::RunTimeMs() const {
  FILETIME created, exited, kernel, user;
  if (!process_ || !GetProcessTimes(process_.get(), &created, &exited, &kernel, &user)) return 0;
  auto ticks = [](const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  if (ticks(exited) < ticks(created)) return 0;
  return static_cast<unsigned>((ticks(exited) - ticks(created)) / 10000);
}

HWND TestProcess::WaitForDialog(DWORD timeoutMs, const wchar_t* caption) const {
  DWORD start = GetTickCount();
  for (;;) {
    if (HWND dialog = FindDialogWithCaption(id_, caption)) return dialog;
    if (!Running() || GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(kPollMs);
  }
}

const ControlInfo* DialogSnapshot::Control(int id) const {
  for (const auto& control : controls)
    if (control.id == id) return &control;
  return nullptr;
}

DialogAnswerer::DialogAnswerer(int buttonId, DWORD timeoutMs)
    : script_(
          [this, buttonId](HWND dialog) {
            // A dialog can be visible a moment before its initialisation has given it its
            // caption and texts (seen under Wine with message boxes): wait for the caption, then
            // let the initialisation finish, so the snapshot is of the dialog as a user sees it.
            for (DWORD start = GetTickCount();
                 IsWindow(dialog) && ReadWindowText(dialog).empty() && GetTickCount() - start < 3000;)
              Sleep(20);
            Sleep(100);
            snapshot_.found = true;
            snapshot_.caption = ReadWindowText(dialog);
            snapshot_.style = GetWindowLongPtrW(dialog, GWL_STYLE);
            snapshot_.exStyle = GetWindowLongPtrW(dialog, GWL_EXSTYLE);
            snapshot_.controls = ListControls(dialog);
            PressButton(dialog, buttonId);
          },
          timeoutMs) {}

const DialogSnapshot& DialogAnswerer::Wait() {
  script_.Finish();
  return snapshot_;
}

const wchar_t* const kSampleFiles[6] = {L"uninstall.exe", L"Ombrix.exe", L"obxext.dll",
                                        L"obxext64.dll",  L"Ombrix.chm", L"Obx.txt"};

void CopySampleFiles(const std::wstring& folder) {
  for (const wchar_t* file : kSampleFiles)
    ASSERT_TRUE(CopyFileW(BuildFolderFile(file).c_str(), (folder + L"\\" + file).c_str(), FALSE))
        << testing::PrintToString(folder + L"\\" + file);
}

std::string SampleList(const char* extra) {
  std::string list;
  for (const wchar_t* file : kSampleFiles) {
    for (const wchar_t* p = file; *p; p++) list += static_cast<char>(*p);
    list += "\r\n";
  }
  return list + "obxnew.dat\r\nzipnew.dat\r\n" + extra + "Uninstall.lst\r\n";
}

std::wstring BuildFolderFile(const wchar_t* name) {
  wchar_t path[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 4 - 1);
  std::wstring folder = path;
  folder.erase(folder.find_last_of(L"\\/") + 1);
  return folder + name;
}
