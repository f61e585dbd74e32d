#include "localisation/dialogsource.h"

#include "base/convert.h"
#include "base/ole.h"
#include "base/owners.h"
#include "filesystem/path.h"
#include "localisation/langmodule.h"

namespace {

constexpr wchar_t kRichEditModule[] = L"riched20.dll";
// The start of the classes the module registers ("RichEdit20W", "RichEdit20A").
constexpr wchar_t kRichEditClass[] = L"RICHEDIT";
constexpr unsigned kRichEditClassLength = sizeof kRichEditClass / sizeof(wchar_t) - 1;

struct DialogSupport {
  ScopedModule richEdit;
};
DialogSupport dialogSupport;

// A template holds its controls' class names as UTF-16 text, aligned to characters; a language
// DLL's template is searched the same way, within the resource's own size.
bool TemplateNamesRichEdit(HMODULE module, const wchar_t* dialogName) {
  HRSRC found = FindResourceW(module, dialogName, RT_DIALOG);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const wchar_t* text = loaded ? static_cast<const wchar_t*>(LockResource(loaded)) : nullptr;
  if (!text) return false;
  DWORD count = SizeofResource(module, found) / sizeof(wchar_t);
  for (DWORD start = 0; start + kRichEditClassLength <= count; start++) {
    unsigned matched = 0;
    while (matched < kRichEditClassLength &&
           AsciiUpper(text[start + matched]) == kRichEditClass[matched])
      matched++;
    if (matched == kRichEditClassLength) return true;
  }
  return false;
}

}  // namespace

HMODULE PrepareDialogTemplate(const wchar_t* dialogName) {
  HMODULE module = languageModule.resourceModule;
  if (!FindResourceW(module, dialogName, RT_DIALOG) && languageModule.ownModule)
    module = languageModule.ownModule;
  if (!dialogSupport.richEdit && TemplateNamesRichEdit(module, dialogName)) {
    EnsureOle();
    dialogSupport.richEdit.reset(LoadSystemModule(kRichEditModule));
  }
  return module;
}

void FreeDialogSupport() { dialogSupport.richEdit.reset(); }
