// Drives a modal dialog of this process from a second thread while the test thread sits in the
// dialog's modal loop: wait for it, click its buttons, type keys, and find the windows it opens.
#pragma once

#include <windows.h>

#include <functional>
#include <thread>
#include <vector>
#include <string>

// Runs steps on the next visible dialog of this process. If the steps leave it open, it is
// closed so that the test cannot hang, and closedByScript() tells so.
// What the stand-in help viewer was asked, in order.
struct HelpRequest {
  std::wstring text;
  UINT command;
};
extern std::vector<HelpRequest> helpRequests;
// Stands in for the help viewer (SetHelpViewerOverride); runs on the dialog's thread.
HWND WINAPI RecordHelpRequest(HWND, const wchar_t* request, UINT command, DWORD_PTR);

class DialogScript {
 public:
  explicit DialogScript(std::function<void(HWND)> steps, DWORD timeoutMs = 10000);
  ~DialogScript();
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;
  // Waits for the steps; false when no dialog appeared.
  bool Finish();
  bool closedByScript() const { return closedByScript_; }

 private:
  std::thread thread_;
  bool found_ = false;
  bool closedByScript_ = false;
};

// Posts a click, for a button whose handler opens another modal window (a sent click would wait
// for that window to close).
void PostClick(HWND dialog, int id);
// Brings the dialog to the front and types a key into it; returns once it had time to arrive.
void PressKey(HWND dialog, WORD key);
bool IsChecked(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);
// A visible dialog of this process other than except; null on timeout.
HWND WaitForOtherDialog(HWND except, DWORD timeoutMs);
// Waits until the window is gone; false on timeout.
bool WaitUntilClosed(HWND window, DWORD timeoutMs);
