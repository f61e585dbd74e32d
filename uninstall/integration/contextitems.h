// The dialog in which the user picks the Explorer context menu commands, the Windows 11 top-level
// items and the always-archive masks.
#pragma once

#include <windows.h>

void ShowContextItemsDialog(HWND owner, bool cascaded);
INT_PTR CALLBACK ContextItemsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
