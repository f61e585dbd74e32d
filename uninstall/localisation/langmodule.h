// The optional resource-only language DLL "obxlng.dll" beside the program, and the per-user
// language folder that may replace a localised file.
#pragma once

#include <windows.h>

struct LanguageModule {
  bool loaded = false;
  HMODULE resourceModule = nullptr;  // the language DLL when loaded, else the program itself
  HMODULE ownModule = nullptr;

  // Loads "obxlng.dll" from beside path (the program's own file when path is null).
  void Load(HINSTANCE instance, const wchar_t* path = nullptr);
  void Free();
};

extern LanguageModule languageModule;

// dst receives src or its replacement in the language folder; src and dst may be one buffer.
void FindLocalizedFile(const wchar_t* src, wchar_t* dst, unsigned size);
