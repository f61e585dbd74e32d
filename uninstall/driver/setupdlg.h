// The integration settings dialog of setup mode: shows the user's choices, and on confirmation
// saves and applies them and writes the installed-programs record.
#pragma once

#include <windows.h>

#include "base/outcome.h"

constexpr unsigned kSetupExplanationSize = 4096;

// Shows "SETUPDLG" modally without owner: kDone when confirmed and applied; kNoRights when
// confirmed but the integration could not be applied for lack of rights (nothing applied, no
// record written); kCancelled when cancelled or when the dialog could not be created.
Outcome ShowSetupDialog();
// What confirming the dialog does, without any window: the stored choices with the "/init"
// preset on top saved and applied. kDone or kNoRights.
Outcome ApplySilentSetup();
INT_PTR CALLBACK SetupDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The explanatory text of the dialog, cut to size.
void BuildSetupExplanation(wchar_t* out, unsigned size);
