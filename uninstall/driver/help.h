// Opens the product's HTML help "ombrix.chm" at its contents or at one topic, through the help
// viewer loaded from the system folder.
#pragma once

#include <windows.h>

// topic may be null (contents). Returns the help window, or null when nothing could be shown.
HWND ShowHelp(const wchar_t* topic);

// The viewer's entry point, "HtmlHelpW".
using HelpViewerEntry = HWND(WINAPI*)(HWND caller, const wchar_t* request, UINT command,
                                      DWORD_PTR data);
// Tests only: answers in place of the viewer's entry (null for the real one again). Forgets the
// loaded state either way, so the next request loads, resolves and computes the path anew.
void SetHelpViewerOverride(HelpViewerEntry entry);
// The help file path computed by the last resolution; empty before it.
const wchar_t* HelpFilePath();
// How often "hhctrl.ocx" was loaded since the state was last forgotten.
unsigned HelpModuleLoads();
