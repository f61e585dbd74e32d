// The integration settings dialog of setup mode: shows the user's choices, and on confirmation
// saves and applies them and writes the installed-programs record.
#pragma once

#include <windows.h>

constexpr unsigned kSetupExplanationSize = 4096;

// The result of a confirmed dialog whose integration could not be applied for lack of rights:
// nothing was applied and no record written.
constexpr INT_PTR kSetupNotApplied = 2;

// Shows "SETUPDLG" modally without owner: 1 when confirmed and applied, kSetupNotApplied, 0 when
// cancelled, -1 when the dialog could not be created.
INT_PTR ShowSetupDialog();
// What confirming the dialog does, without any window: the stored choices with the "/init"
// preset on top saved and applied. 1 when applied, kSetupNotApplied.
INT_PTR ApplySilentSetup();
INT_PTR CALLBACK SetupDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The explanatory text of the dialog, cut to size.
void BuildSetupExplanation(wchar_t* out, unsigned size);
