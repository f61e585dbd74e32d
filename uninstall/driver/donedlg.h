// The completion dialog that ends a setup run: where the product went, and buttons that open the
// help file, the licence and the home page.
#pragma once

#include <windows.h>

// Shows "DONEDLG" modally without owner.
void ShowDoneDialog();
INT_PTR CALLBACK DoneDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Whether text may be handed to the shell as the home page: only http and https addresses, since
// the shell would run a program named there.
bool IsWebAddress(const wchar_t* text);
