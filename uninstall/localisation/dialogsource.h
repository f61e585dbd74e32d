// Chooses the module a dialog template is loaded from: the language DLL when it carries the
// template, otherwise the program itself; and loads what the template's controls need.
#pragma once

#include <windows.h>

// The module to create dialogName from, called just before the dialog is shown. A language DLL
// may hold only strings; its dialogs then come from the program, still localised by the language
// file. When the chosen template names the rich edit control (the setup dialog's explanation),
// the rich edit module is loaded from the system folder and OLE started for its clipboard and
// drag and drop, once, until FreeDialogSupport: a run that shows no such dialog loads neither.
HMODULE PrepareDialogTemplate(const wchar_t* dialogName);
// Unloads the rich edit module at the end of the run.
void FreeDialogSupport();
