// The optional resource-only language DLL "obxlng.dll" beside the program, and the per-user
// language folder that may replace a localised file.
#pragma once

#include <windows.h>

#include "base/owners.h"

struct LanguageModule {
  bool loaded = false;
  HMODULE resourceModule = nullptr;  // the language DLL when loaded, else the program itself
  HMODULE ownModule = nullptr;
  ScopedModule library;              // owns the language DLL while it is loaded

  // Loads "obxlng.dll" from beside path (the program's own file when path is null). Mapped as
  // data on every system that allows it, so none of the DLL's code runs.
  void Load(HINSTANCE instance, const wchar_t* path = nullptr);
  // Unloads the DLL so that its file can be deleted; later lookups go to the program itself.
  void Free();
};

extern LanguageModule languageModule;
// Frees the DLL; the running program itself then answers every lookup, as when no language DLL
// is there. For the test reset.
void ResetLanguageModule();

// dst receives src or its replacement in the language folder; src and dst may be one buffer.
// The folder is consulted only in builds whose switch text turns it on (not this one).
void FindLocalizedFile(const wchar_t* src, wchar_t* dst, unsigned size);

// The language folder step on its own: when HKCU "Software\Ombrix\General" "LanguageFolder" names
// a folder holding a file of src's name, dst receives that file's path and the result is true;
// otherwise dst is left alone.
bool FindInLanguageFolder(const wchar_t* src, wchar_t* dst, unsigned size);
