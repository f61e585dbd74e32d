// Dialog localisation: control texts, caption and size from the language file, right-to-left
// layout, and the help key, run first by every dialog procedure of the program.
#pragma once

#include <windows.h>

// Opens a help topic for F1 and a dialog's Help button. Help is the program's own business, a
// layer above this one, so the program hands it in at start-up; none set opens nothing.
using HelpOpener = HWND (*)(const wchar_t* topic);
void SetHelpOpener(HelpOpener opener);

// True only when the message is fully handled (the help request).
bool CommonDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam,
                         const wchar_t* dialogName, const wchar_t* helpTopic);
void LocalizeDialog(HWND dialog, const wchar_t* dialogName);
bool GetDialogText(const wchar_t* dialogName, const wchar_t* item, wchar_t* out, unsigned size);
bool GetDialogSize(const wchar_t* dialogName, int& x, int& y);
void ApplyRtlLayout(HWND window);
// A control whose text reads left to right (masks, paths) keeps that order in a right-to-left
// language.
void ClearRtlReading(HWND window);
// Whether the check box or radio button id of dialog is checked.
bool IsChecked(HWND dialog, unsigned id);

// What a dialog's monitor work area is taken to be in tests, in place of the system's (a single
// virtual screen has no monitor left of or above the primary one); the system's again when null.
// Never set by the program.
void SetWorkAreaOverride(const RECT* area);
