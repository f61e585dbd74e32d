// Dialog localisation: control texts, caption and size from the language file, right-to-left
// layout, and the help key, run first by every dialog procedure of the program.
#pragma once

#include <windows.h>

// True only when the message is fully handled (the help request).
bool CommonDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam,
                         const wchar_t* dialogName, const wchar_t* helpTopic);
void LocalizeDialog(HWND dialog, const wchar_t* dialogName);
bool GetDialogText(const wchar_t* dialogName, const wchar_t* item, wchar_t* out, unsigned size);
bool GetDialogSize(const wchar_t* dialogName, int& x, int& y);
void ApplyRtlLayout(HWND window);
