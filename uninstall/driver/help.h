// Opens the product's HTML help "ombrix.chm" at its contents or at one topic, through the help
// viewer loaded from the system folder.
#pragma once

#include <windows.h>

// topic may be null (contents). Returns the help window, or null when nothing could be shown.
HWND ShowHelp(const wchar_t* topic);
