// The start-up flow: the process-wide run state, one setup or uninstallation at a time, the run
// itself, and the small user-interface helpers every dialog and message of the driver uses.
#pragma once

#include <windows.h>

#include "filesystem/path.h"

// The process exit codes.
constexpr int kExitSuccess = 0;
// The setup dialog was cancelled or could not be shown; nothing was applied.
constexpr int kExitCancelled = 1;
// The run lacked the rights it needs (the system's ERROR_ACCESS_DENIED) and changed nothing on
// the machine.
constexpr int kExitNoRights = 5;
constexpr unsigned kInitStringSize = 40;

struct RunState {
  bool silent = false;
  bool msiMode = false;
  bool noExplorer = false;
  wchar_t initString[kInitStringSize] = {};
  int exitCode = kExitSuccess;
  wchar_t programGroupFolder[kPathSize] = {};
  bool singleTopItemShown = false;
  HICON appIcon = nullptr;
  HFONT boldFont = nullptr;
};

extern RunState runState;

void HardenDllSearch();
int ScaleByDpi(int value);
// Every message box of the program goes through here, so right-to-left languages read right.
int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, unsigned flags);
void ShowRemovalWarning();
// Tells the user, unless silent, that the run lacks the rights it needs: message textId, a blank
// line and the system's own text for error.
void ShowRightsError(unsigned textId, unsigned captionId, DWORD error);
void CopyPresetFile(const wchar_t* name);
void GetUserDataFolder(wchar_t* out, unsigned size);
// The exit code of a setup or uninstallation that ended without changing anything because
// another one was running (ERROR_INSTALL_ALREADY_RUNNING, which installers know).
constexpr int kAnotherCopyRunsExitCode = 1618;
// The setup run: the setup dialog or, when silent, its choices applied without any window; the
// preset file taken over; then, unless silent or for the MSI package, the completion dialog.
void RunSetupFlow();
// The whole start-up, run and tear-down; returns the process exit code.
int RunProgram(HINSTANCE instance);
