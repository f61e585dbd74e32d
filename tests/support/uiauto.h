// UI automation for tests: start a program, find its top-level dialog windows, read their texts,
// press their buttons and collect its exit code. Works on other processes and, from a second
// thread, on this one (for code that shows a modal dialog or message box in-process).
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "base/owners.h"
#include "dialogscript.h"

// A message box's text is the static control with this id.
constexpr int kMessageBoxTextId = 0xFFFF;

// One child window of a dialog as seen from outside.
struct ControlInfo {
  HWND window = nullptr;
  int id = 0;
  std::wstring className;
  std::wstring text;
  LONG_PTR style = 0;
  LONG_PTR exStyle = 0;
};

// Texts are read with WM_GETTEXT, which the system marshals across processes (GetWindowTextW
// does not read another process's controls). Every call gives up after a few seconds instead of
// blocking on a hung window; failures read as empty text.
std::wstring ReadWindowText(HWND window);
std::wstring ReadClassName(HWND window);
// The text of the dialog's control with this id; empty when there is none.
std::wstring ReadControlText(HWND dialog, int id);
// Direct children of the dialog, in z-order.
std::vector<ControlInfo> ListControls(HWND dialog);
// Visible top-level dialog windows (class "#32770") of a process.
std::vector<HWND> FindDialogs(DWORD processId);
// Waits until the process shows a visible top-level dialog whose caption equals caption (any
// dialog when caption is null); null on timeout.
HWND WaitForDialog(DWORD processId, DWORD timeoutMs, const wchar_t* caption = nullptr);
// Clicks the button with this id (BM_CLICK); false when there is no such button or the window
// did not answer.
bool PressButton(HWND dialog, int id);

// Environment changes for a started process, applied to a copy of this process's environment.
struct EnvironmentChanges {
  std::vector<std::pair<std::wstring, std::wstring>> set;
  std::vector<std::wstring> remove;
};

// A started program. Ends it (TerminateProcess) on destruction if it is still running, so that a
// failed test leaves nothing behind.
class TestProcess {
 public:
  TestProcess() = default;
  ~TestProcess();
  TestProcess(const TestProcess&) = delete;
  TestProcess& operator=(const TestProcess&) = delete;

  // Starts program with arguments appended to its quoted path. folder is the current folder
  // (this process's when empty). False (with the Win32 error in lastError()) on failure.
  bool Start(const std::wstring& program, const std::wstring& arguments,
             const EnvironmentChanges& environment = {}, const std::wstring& folder = {});
  DWORD id() const { return id_; }
  HANDLE handle() const { return process_.get(); }
  DWORD lastError() const { return lastError_; }
  bool Running() const;
  // True when the process ended within the timeout; exitCode() is then valid.
  bool WaitForExit(DWORD timeoutMs);
  DWORD exitCode() const { return exitCode_; }
  // Milliseconds between the process's creation and its exit, as the system recorded them.
  unsigned RunTimeMs() const;
  // As the free function, but gives up as soon as the process has ended.
  HWND WaitForDialog(DWORD timeoutMs, const wchar_t* caption = nullptr) const;

 private:
  ScopedHandle process_;
  DWORD id_ = 0;
  DWORD exitCode_ = STILL_ACTIVE;
  DWORD lastError_ = 0;
};

// What a dialog showed when it was answered.
struct DialogSnapshot {
  bool found = false;
  std::wstring caption;
  LONG_PTR style = 0;
  LONG_PTR exStyle = 0;
  std::vector<ControlInfo> controls;
  // The control with this id; null when the dialog had none.
  const ControlInfo* Control(int id) const;
};

// Answers the next dialog of this process through a DialogScript: records it and presses a
// button, while the calling thread sits in the dialog's modal loop. Call Wait() before reading
// the snapshot.
class DialogAnswerer {
 public:
  explicit DialogAnswerer(int buttonId, DWORD timeoutMs = 10000);
  const DialogSnapshot& Wait();

 private:
  DialogSnapshot snapshot_;  // written by the script's thread, so made before it
  DialogScript script_;
};

// A file of the build folder, which holds the test programs, uninstall.exe and the sample files.
std::wstring BuildFolderFile(const wchar_t* name);

// The sample installation's files in the build folder: the program, the main program stub, both
// Explorer modules, and the help and text placeholders.
extern const wchar_t* const kSampleFiles[6];
// Copies them into folder, which must exist; fails the test when one cannot be copied.
void CopySampleFiles(const std::wstring& folder);
// "Uninstall.lst" as the installer writes it for them: their lines, the New-menu templates that
// setup may add, then extra, then the list itself.
std::string SampleList(const char* extra = "");
