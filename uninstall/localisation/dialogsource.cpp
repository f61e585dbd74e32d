#include "localisation/dialogsource.h"

#include "localisation/langmodule.h"

HMODULE DialogTemplateModule(const wchar_t* dialogName) {
  HMODULE module = languageModule.resourceModule;
  if (FindResourceW(module, dialogName, RT_DIALOG) || !languageModule.ownModule) return module;
  return languageModule.ownModule;
}
