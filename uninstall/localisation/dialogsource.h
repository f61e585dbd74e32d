// Chooses the module a dialog template is loaded from: the language DLL when it carries the
// template, otherwise the program itself.
#pragma once

#include <windows.h>

// A language DLL may hold only strings; its dialogs then come from the program, still localised
// by the language file.
HMODULE DialogTemplateModule(const wchar_t* dialogName);
