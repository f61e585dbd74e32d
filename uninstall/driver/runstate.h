// The run's state and how it ends: the exit codes, what the start-up and the flows share while
// the program runs, and the message box every message of the driver goes through.
#pragma once

#include <windows.h>

#include "driver/cmdline.h"
#include "filesystem/path.h"

// The process exit codes, those that deployment systems read after any installer: Windows
// Installer's where one fits.
constexpr int kExitSuccess = 0;
// The setup dialog was cancelled or could not be shown; nothing was applied. The installer that
// starts setup has always read this code.
constexpr int kExitCancelled = 1;
// The run lacked the rights it needs (the system's ERROR_ACCESS_DENIED) and changed nothing on
// the machine.
constexpr int kExitNoRights = 5;
// The user answered No to the uninstall question (ERROR_INSTALL_USEREXIT); nothing changed.
constexpr int kExitDeclined = 1602;
// The run did only part of what was asked, or failed before it could start: the product may be
// partly there (ERROR_INSTALL_FAILURE).
constexpr int kExitIncomplete = 1603;
// The log asked for could not be created; nothing else was done (ERROR_INSTALL_LOG_FAILURE).
constexpr int kExitLogFailed = 1622;
// The command line held a switch the program does not know (ERROR_INVALID_COMMAND_LINE); nothing
// was done.
constexpr int kExitInvalidCommandLine = 1639;
// Done, but files in use go only at the next restart (ERROR_SUCCESS_REBOOT_REQUIRED).
constexpr int kExitRestartNeeded = 3010;
// The exit code of a setup or uninstallation that ended without changing anything because
// another one was running (ERROR_INSTALL_ALREADY_RUNNING, which installers know).
constexpr int kAnotherCopyRunsExitCode = 1618;

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

// Every message box of the program goes through here, so right-to-left languages read right.
// A silent run shows none: the text goes to the log and the answer is 0.
int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, unsigned flags);
// Tells the user (the log, when silent) that the run lacks the rights it needs: message textId,
// a blank line and the system's own text for error.
void ShowRightsError(unsigned textId, unsigned captionId, DWORD error);
