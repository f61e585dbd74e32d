// The run's state and how it ends (its Outcome, base/outcome.h), what the start-up and the flows
// share while the program runs, and the message box every message of the driver goes through.
#pragma once

#include <windows.h>

#include "base/outcome.h"
#include "driver/cmdline.h"
#include "filesystem/path.h"

struct RunState {
  bool silent = false;
  bool msiMode = false;
  bool noExplorer = false;
  wchar_t initString[kInitStringSize] = {};
  Outcome outcome = Outcome::kDone;  // the exit code and the log's reason come from it
  wchar_t programGroupFolder[kPathSize] = {};
  bool singleTopItemShown = false;
  HICON appIcon = nullptr;
  HFONT boldFont = nullptr;
};

extern RunState runState;
// The run state back as at the start. For the test reset.
void ResetRunState();

// Every message box of the program goes through here, so right-to-left languages read right.
// A silent run shows none: the text goes to the log and the answer is 0.
int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, unsigned flags);
// Tells the user (the log, when silent) that the run lacks the rights it needs: message textId,
// a blank line and the system's own text for error.
void ShowRightsError(unsigned textId, unsigned captionId, DWORD error);
