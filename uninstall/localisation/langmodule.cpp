// Stand-in until the language DLL loader lands: resources come from the program itself.
#include "localisation/langmodule.h"

#include "localisation/text.h"

LanguageModule languageModule;

void LanguageModule::Load(HINSTANCE instance, const wchar_t*) {
  Free();
  resourceModule = instance;
  ownModule = instance;
}

void LanguageModule::Free() {
  if (loaded) {
    FreeLibrary(resourceModule);
    resourceModule = ownModule;
    loaded = false;
  }
}

void FindLocalizedFile(const wchar_t* src, wchar_t* dst, unsigned size) {
  if (dst != src) CopyText(dst, src, size);
}
