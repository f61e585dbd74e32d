// The start-up flow: the command line carried out, one setup or uninstallation at a time, the run
// itself and its end.
#pragma once

#include <windows.h>

#include "driver/runstate.h"

void HardenDllSearch();
int ScaleByDpi(int value);
void ShowRemovalWarning();
void CopyPresetFile(const wchar_t* name);
void GetUserDataFolder(wchar_t* out, unsigned size);
// The setup run: the setup dialog or, when silent, its choices applied without any window; the
// preset file taken over; then, unless silent or for the MSI package, the completion dialog.
void RunSetupFlow();
// The whole start-up, run and tear-down; returns the process exit code.
int RunProgram(HINSTANCE instance);
// The one-run lock released and the screen's dpi asked again. For the test reset.
void ResetStartupState();
