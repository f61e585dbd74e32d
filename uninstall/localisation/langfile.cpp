// Stand-in until the language file loader lands: no entries, direction from the "RTL" resource.
#include "localisation/langfile.h"

#include <windows.h>

#include "localisation/langmodule.h"

LanguageFile languageFile;

LanguageFile::~LanguageFile() { Clear(); }

void LanguageFile::Clear() {
  for (unsigned i = 0; i < entries.count; i++) {
    delete[] entries[i].key;
    delete[] entries[i].text;
  }
  entries.Reset();
  byKey.Reset();
  rightToLeft = false;
}

void ParseLanguageFile(const wchar_t*) {}

void LoadLanguageFile(const wchar_t* name) {
  ParseLanguageFile(name);
  if (FindResourceW(languageModule.resourceModule, L"RTL", MAKEINTRESOURCEW(5)))
    languageFile.rightToLeft = true;
  if (languageFile.rightToLeft) SetProcessDefaultLayout(LAYOUT_RTL);
}
